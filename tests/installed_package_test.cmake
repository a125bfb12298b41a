# Installs the library from BUILD_DIR into a fresh prefix under WORK_DIR, then
# configures, builds and runs the example consumer in CONSUMER_SOURCE against
# that prefix alone, as another project on the machine would: once through
# the CMake package, once with plain g++ and pkg-config's flags.
include(${CMAKE_CURRENT_LIST_DIR}/script_support.cmake)
require_variables(BUILD_DIR CONSUMER_SOURCE WORK_DIR CXX_COMPILER)

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
set(consumer_build ${WORK_DIR}/consumer-build)


run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component library)
foreach(expected include/demosaic/demosaic.h include/demosaic/version.h
                 lib/cmake/demosaic/demosaicConfig.cmake lib/pkgconfig/demosaic.pc)
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

# The same program built by hand with pkg-config's flags for the prefix.
find_program(PKG_CONFIG pkg-config REQUIRED)
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
set(ENV{PKG_CONFIG_LIBDIR} ${prefix}/lib/pkgconfig)  # nothing else on the machine
run(${PKG_CONFIG} --modversion demosaic)
string(STRIP "${last_output}" pc_version)
file(STRINGS ${prefix}/include/demosaic/version.h header_version
     REGEX "#define DEMOSAIC_VERSION_STRING")
if(NOT header_version MATCHES "\"${pc_version}\"")
  message(FATAL_ERROR "pkg-config reports version ${pc_version}, the headers ${header_version}")
endif()
run(${PKG_CONFIG} --cflags --libs demosaic)
separate_arguments(pc_flags UNIX_COMMAND "${last_output}")
set(pc_program ${WORK_DIR}/consumer-pkgconfig)
run(${CXX_COMPILER} -std=c++20 ${CONSUMER_SOURCE}/main.cpp ${pc_flags} -o ${pc_program})
run(${pc_program})
if(NOT last_output MATCHES "grey kept: yes")
  message(FATAL_ERROR "the consumer built with pkg-config printed:\n${last_output}")
endif()
message(STATUS "consumer built with pkg-config (${pc_flags}):\n${last_output}")
