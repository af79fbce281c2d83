# Delay-load import libraries for MinGW-w64: an import library whose DLL is
# loaded at the first call into it (by the notify hook in app/DelayLoad.cpp,
# from System32) instead of by the Windows loader at start, before the program
# has restricted the DLL search.
#
# orvane_delay_load_library(<target-name> <dll-base-name>) makes the imported
# library <target-name> from the toolchain's lib<dll-base-name>.a: its exports
# are listed with nm into a .def file, which dlltool turns into a delay library.
#
# The calls must be compiled without dllimport, so that they name each
# function's thunk (see WINIMPM in the top-level CMakeLists.txt): GNU ld keeps
# an i386 thunk only when something names it, and a dropped thunk leaves its
# address slot 0.

find_program(ORVANE_MINGW_NM ${ORVANE_MINGW_TRIPLET}-nm REQUIRED)
find_program(ORVANE_MINGW_DLLTOOL ${ORVANE_MINGW_TRIPLET}-dlltool REQUIRED)

function(orvane_delay_load_library target dll)
  find_library(_import_lib_${dll} NAMES lib${dll}.a REQUIRED)
  set(_import_lib "${_import_lib_${dll}}")
  set(_dir "${CMAKE_BINARY_DIR}/delayload")
  set(_def "${_dir}/${dll}.def")
  set(_lib "${_dir}/lib${dll}-delay.a")
  file(MAKE_DIRECTORY "${_dir}")
  execute_process(COMMAND "${ORVANE_MINGW_NM}" "${_import_lib}"
                  OUTPUT_VARIABLE _symbols RESULT_VARIABLE _result)
  if(NOT _result EQUAL 0)
    message(FATAL_ERROR "${ORVANE_MINGW_NM} cannot read ${_import_lib}")
  endif()
  # Every import thunk pointer "__imp_<name>" is one export; 32-bit names carry
  # an extra '_' and their "@<bytes>" stdcall suffix, which the .def keeps.
  string(REGEX MATCHALL "[ \t]I __imp_[^\r\n]+" _imports "${_symbols}")
  set(_exports "")
  foreach(_import IN LISTS _imports)
    string(REGEX REPLACE "^[ \t]I __imp_" "" _name "${_import}")
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      string(REGEX REPLACE "^_" "" _name "${_name}")
    endif()
    string(APPEND _exports "  ${_name}\n")
  endforeach()
  file(WRITE "${_def}" "LIBRARY ${dll}.dll\nEXPORTS\n${_exports}")
  # -k: the DLL's export names have no "@<bytes>" suffix.
  execute_process(COMMAND "${ORVANE_MINGW_DLLTOOL}" -k --input-def "${_def}" --dllname "${dll}.dll"
                          --output-delaylib "${_lib}"
                  RESULT_VARIABLE _result ERROR_VARIABLE _errors)
  if(NOT _result EQUAL 0)
    message(FATAL_ERROR "dlltool cannot make a delay library for ${dll}.dll: ${_errors}")
  endif()
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION "${_lib}")
endfunction()
