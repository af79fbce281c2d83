# Third-party code: nlohmann/json (header-only) and, for the tests, GoogleTest.

# nlohmann/json. When cross-compiling on Debian only the nlohmann/ folder of
# /usr/include is exposed: the rest of /usr/include would shadow the Windows headers.
set(ORVANE_NLOHMANN_DIR "/usr/include/nlohmann" CACHE PATH "Folder holding nlohmann/json.hpp")
add_library(orvane_json INTERFACE)
if(CMAKE_CROSSCOMPILING AND EXISTS "${ORVANE_NLOHMANN_DIR}/json.hpp")
  set(_json_include "${CMAKE_BINARY_DIR}/third_party/include")
  file(MAKE_DIRECTORY "${_json_include}")
  file(CREATE_LINK "${ORVANE_NLOHMANN_DIR}" "${_json_include}/nlohmann" SYMBOLIC)
  target_include_directories(orvane_json SYSTEM INTERFACE "${_json_include}")
else()
  find_package(nlohmann_json 3.11 REQUIRED)
  target_link_libraries(orvane_json INTERFACE nlohmann_json::nlohmann_json)
endif()

# GoogleTest, built from source with the project's own compiler.
if(ORVANE_BUILD_TESTS)
  set(ORVANE_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
  if(EXISTS "${ORVANE_GTEST_SOURCE_DIR}/CMakeLists.txt")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory("${ORVANE_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
    if(MINGW)
      # gtest's own sources are not ours to keep warning-free.
      target_compile_options(gtest PRIVATE -w)
      target_compile_options(gtest_main PRIVATE -w)
    endif()
  else()
    find_package(GTest REQUIRED)
  endif()
endif()
