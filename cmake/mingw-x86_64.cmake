# Cross-compiles the 64-bit build, kept to catch pointer-size faults.
set(ORVANE_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
