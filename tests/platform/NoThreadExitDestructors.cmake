# No object of the program registers a destructor for the end of a thread.
# With this toolchain a thread_local object lives in storage that the
# emulated TLS frees as the thread ends, before the object's destructor runs:
# the destructor then reads freed memory, which another thread may already
# have filled with its own bytes.
#
# cmake -DNM=<nm> -DLIBRARIES=<archive;...> -P NoThreadExitDestructors.cmake
foreach(library IN LISTS LIBRARIES)
  execute_process(COMMAND "${NM}" -A -u "${library}"
                  OUTPUT_VARIABLE undefined RESULT_VARIABLE result ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${library}: ${errors}")
  endif()
  string(REGEX MATCHALL "[^\n]*__cxa_thread_atexit[^\n]*" registrations "${undefined}")
  foreach(registration IN LISTS registrations)
    message(SEND_ERROR "a thread_local object with a destructor: ${registration}")
  endforeach()
endforeach()
