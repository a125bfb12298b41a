# What the tests written as CMake scripts share: the variables they require
# and running a command that must succeed.

# require_variables(NAME...): fails the test unless each is set (-DNAME=...).
function(require_variables)
  foreach(variable ${ARGN})
    if(NOT DEFINED ${variable})
      message(FATAL_ERROR "${variable} is not set")
    endif()
  endforeach()
endfunction()

# run(COMMAND...): runs it, fails the test with its output unless it exits
# with 0, and leaves its standard output in last_output.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()
