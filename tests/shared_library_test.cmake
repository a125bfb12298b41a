# Builds the library alone as a shared library from SOURCE_DIR in a scratch
# folder under WORK_DIR, then checks what it exports: the soname carries the
# major version, and every defined dynamic symbol is one of the public
# functions that the headers mark DEMOSAIC_EXPORT (nothing of the engine, no
# standard-library template), each of them present. Then installs it and
# builds and runs the example consumer in CONSUMER_SOURCE against it.
cmake_minimum_required(VERSION 3.21)
include(${CMAKE_CURRENT_LIST_DIR}/script_support.cmake)
require_variables(SOURCE_DIR CONSUMER_SOURCE WORK_DIR CXX_COMPILER NM READELF)

file(REMOVE_RECURSE ${WORK_DIR})
set(build ${WORK_DIR}/build)
set(prefix ${WORK_DIR}/prefix)
set(consumer_build ${WORK_DIR}/consumer-build)


run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${build} -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DBUILD_SHARED_LIBS=ON
    -DDEMOSAIC_BUILD_TOOLS=OFF -DDEMOSAIC_BUILD_TESTS=OFF)
run(${CMAKE_COMMAND} --build ${build} --target demosaic)

file(GLOB libraries ${build}/library/libdemosaic.so.*.*.*)
list(LENGTH libraries count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one libdemosaic.so.MAJOR.MINOR.PATCH, found: ${libraries}")
endif()
run(${READELF} -d ${libraries})
file(STRINGS ${build}/include/demosaic/version.h major REGEX "#define DEMOSAIC_VERSION_MAJOR")
string(REGEX REPLACE ".* ([0-9]+)$" "\\1" major "${major}")
if(NOT last_output MATCHES "Library soname: \\[libdemosaic\\.so\\.${major}\\]")
  message(FATAL_ERROR "the soname is not libdemosaic.so.${major}:\n${last_output}")
endif()

# The public names: each function the headers mark DEMOSAIC_EXPORT.
file(GLOB headers ${SOURCE_DIR}/include/demosaic/*.h ${build}/include/demosaic/*.h)
set(public_names)
foreach(header ${headers})
  file(READ ${header} text)
  # A declaration starts its line with the mark (the macro's own definition
  # does not).
  string(REGEX MATCHALL "\nDEMOSAIC_EXPORT [^;(]*[ *&]([A-Za-z0-9_]+)\\(" declarations "${text}")
  foreach(declaration ${declarations})
    string(REGEX REPLACE ".*[ *&]([A-Za-z0-9_]+)\\($" "\\1" name "${declaration}")
    list(APPEND public_names ${name})
  endforeach()
endforeach()
list(REMOVE_DUPLICATES public_names)
list(LENGTH public_names public_count)
if(public_count LESS 10)
  message(FATAL_ERROR "found only ${public_count} exported declarations: ${public_names}")
endif()

run(${NM} -D --defined-only --demangle ${libraries})
string(REPLACE "\n" ";" lines "${last_output}")
set(found_names)
set(strays)
foreach(line ${lines})
  # "ADDRESS TYPE NAME"; NAME may hold spaces (a demangled signature).
  if(NOT line MATCHES "^[0-9a-fA-F]+ [A-Za-z] (.*)$")
    continue()
  endif()
  set(symbol "${CMAKE_MATCH_1}")
  set(name "")
  if(symbol MATCHES "^demosaic::([A-Za-z0-9_]+)\\(")
    set(name "${CMAKE_MATCH_1}")
  endif()
  if(name AND name IN_LIST public_names)
    list(APPEND found_names ${name})
  else()
    list(APPEND strays "${symbol}")
  endif()
endforeach()
if(strays)
  list(JOIN strays "\n  " stray_text)
  message(FATAL_ERROR "the shared library exports names that are not public:\n  ${stray_text}")
endif()
foreach(name ${public_names})
  if(NOT name IN_LIST found_names)
    message(FATAL_ERROR "the shared library does not export demosaic::${name}")
  endif()
endforeach()
list(REMOVE_DUPLICATES found_names)
message(STATUS "exports only the public names: ${found_names}")

# The example, linked against the installed shared library.
run(${CMAKE_COMMAND} --install ${build} --prefix ${prefix} --component library)
if(NOT EXISTS ${prefix}/lib/libdemosaic.so.${major})
  message(FATAL_ERROR "the install lacks lib/libdemosaic.so.${major}")
endif()
run(${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${consumer_build}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
run(${CMAKE_COMMAND} --build ${consumer_build})
run(${READELF} -d ${consumer_build}/consumer)
if(NOT last_output MATCHES "Shared library: \\[libdemosaic\\.so\\.${major}\\]")
  message(FATAL_ERROR "the consumer is not linked against libdemosaic.so.${major}:\n${last_output}")
endif()
run(${consumer_build}/consumer)
if(NOT last_output MATCHES "grey kept: yes")
  message(FATAL_ERROR "the consumer printed:\n${last_output}")
endif()
message(STATUS "consumer output:\n${last_output}")
