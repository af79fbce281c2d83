# Cross-compiles the shipped 32-bit build with MinGW-w64 (POSIX thread model).
set(ORVANE_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
