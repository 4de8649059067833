# Run with -P: bspp.pc as pkg-config reads it, for a relocatable tree with a
# multiarch libdir and for absolute libdir and includedir (as a distribution
# sets them).
file(REMOVE_RECURSE ${WORK_DIR})
include(${SOURCE_DIR}/cmake/BsppPkgConfig.cmake)
set(PROJECT_DESCRIPTION "test")
set(PROJECT_VERSION 1.0.0.1)

function(pc_variable dir variable out)
  execute_process(COMMAND pkg-config --variable=${variable} bspp
    RESULT_VARIABLE rc OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pkg-config failed on ${dir}/bspp.pc")
  endif()
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

function(expect_dir what actual expected)
  get_filename_component(actual "${actual}" REALPATH)
  get_filename_component(expected "${expected}" REALPATH)
  if(NOT actual STREQUAL expected)
    message(FATAL_ERROR "${what}: ${actual}, expected ${expected}")
  endif()
endfunction()

# Relocatable: the tree unpacked anywhere.
set(root ${WORK_DIR}/unpacked/usr)
file(MAKE_DIRECTORY ${root}/lib/x86_64-linux-gnu/pkgconfig ${root}/include)
bspp_configure_pc(${root}/lib/x86_64-linux-gnu/pkgconfig/bspp.pc /usr lib/x86_64-linux-gnu include)
set(ENV{PKG_CONFIG_PATH} ${root}/lib/x86_64-linux-gnu/pkgconfig)
set(ENV{PKG_CONFIG_LIBDIR} ${root}/lib/x86_64-linux-gnu/pkgconfig)
pc_variable(relocatable libdir libdir)
pc_variable(relocatable includedir includedir)
expect_dir("relocatable libdir" "${libdir}" ${root}/lib/x86_64-linux-gnu)
expect_dir("relocatable includedir" "${includedir}" ${root}/include)

# Absolute directories are taken as they are.
set(pcdir ${WORK_DIR}/absolute/pkgconfig)
file(MAKE_DIRECTORY ${pcdir})
bspp_configure_pc(${pcdir}/bspp.pc /opt/bspp /usr/lib64/bspp /opt/include/bspp)
set(ENV{PKG_CONFIG_PATH} ${pcdir})
set(ENV{PKG_CONFIG_LIBDIR} ${pcdir})
foreach(pair "prefix=/opt/bspp" "libdir=/usr/lib64/bspp" "includedir=/opt/include/bspp")
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 variable)
  list(GET pair 1 expected)
  pc_variable(absolute ${variable} value)
  if(NOT value STREQUAL expected)
    message(FATAL_ERROR "absolute ${variable}: ${value}, expected ${expected}")
  endif()
endforeach()
message(STATUS "bspp.pc: relocatable and absolute directories as expected")
