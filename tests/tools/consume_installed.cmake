# Run with -P: installs BUILD_DIR into WORK_DIR/prefix, then configures,
# builds and runs the consumer project against it twice: through
# find_package(bspp) and through pkg-config.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}")
  endif()
  message(STATUS "${out}")
endfunction()

step(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(header include/bspp.h lib/cmake/bspp/bsppConfig.cmake lib/pkgconfig/bspp.pc)
  if(NOT EXISTS ${prefix}/${header})
    message(FATAL_ERROR "not installed: ${header}")
  endif()
endforeach()

set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
foreach(mode OFF ON)
  set(build ${WORK_DIR}/build-pkgconfig-${mode})
  step(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${build} -G ${GENERATOR}
       -DCMAKE_PREFIX_PATH=${prefix} -DUSE_PKGCONFIG=${mode})
  step(${CMAKE_COMMAND} --build ${build})
  step(${build}/consumer)
endforeach()
