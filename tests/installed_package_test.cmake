# Installs the library from BUILD_DIR into a fresh prefix under WORK_DIR, then
# configures, builds and runs the example consumer in CONSUMER_SOURCE against
# that prefix alone, as another project on the machine would.
foreach(variable BUILD_DIR CONSUMER_SOURCE WORK_DIR CXX_COMPILER)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "${variable} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
set(consumer_build ${WORK_DIR}/consumer-build)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component library)
foreach(expected include/demosaic/demosaic.h lib/cmake/demosaic/demosaicConfig.cmake)
  if(NOT EXISTS ${prefix}/${expected})
    message(FATAL_ERROR "the installed package lacks ${expected}")
  endif()
endforeach()
run(${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${consumer_build}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
run(${CMAKE_COMMAND} --build ${consumer_build})
run(${consumer_build}/consumer)
if(NOT last_output MATCHES "grey kept: yes")
  message(FATAL_ERROR "the consumer printed:\n${last_output}")
endif()
message(STATUS "consumer output:\n${last_output}")
