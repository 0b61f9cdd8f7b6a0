# Installs a build tree into a fresh prefix (or takes an installed PREFIX),
# checks that the files users look for are there, then builds and runs a host
# program against it through find_package(osa_plugin).
# cmake -DWORK_DIR=<dir> -DCONSUMER=<source dir> (-DBUILD_DIR=<build tree> | -DPREFIX=<prefix>)
#       [-DGENERATOR=<generator>] [-DC_COMPILER=<cc>] -P install_consumer.cmake
if(NOT WORK_DIR OR NOT CONSUMER OR (NOT BUILD_DIR AND NOT PREFIX))
  message(FATAL_ERROR "usage: cmake -DWORK_DIR=... -DCONSUMER=... -DBUILD_DIR=...|-DPREFIX=... "
                      "-P install_consumer.cmake")
endif()

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code STREQUAL "0")
    message(FATAL_ERROR "${what} failed (${code}):\n${out}\n${err}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
if(NOT PREFIX)
  set(PREFIX ${WORK_DIR}/prefix)
  run("cmake --install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})
  foreach(file bin/osa_plugin bin/osa_record bin/osa_modeldbg include/osa_plugin.h
               share/osa_plugin/gdb/osa.py share/osa_plugin/gdb/osahost/commands.py)
    if(NOT EXISTS ${PREFIX}/${file})
      message(FATAL_ERROR "not installed: ${file}")
    endif()
  endforeach()
endif()

set(configure ${CMAKE_COMMAND} -S ${CONSUMER} -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${PREFIX})
if(GENERATOR)
  list(APPEND configure -G ${GENERATOR})
endif()
if(C_COMPILER)
  list(APPEND configure -DCMAKE_C_COMPILER=${C_COMPILER})
endif()
run("configuring the host program" ${configure})
run("building the host program" ${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run("running the host program" ${WORK_DIR}/build/consumer)
message(STATUS "a host program found, linked and ran the plug-in installed in ${PREFIX}")
