# Run with -P: makes the Debian package of BUILD_DIR with cpack, checks it with
# dpkg-deb, unpacks it with dpkg -x and uses it from there. Also checks that
# bspp.pc takes absolute libdir and includedir as a distribution sets them.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

function(step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out
    WORKING_DIRECTORY ${WORK_DIR})
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

function(expect text)
  foreach(pattern IN LISTS ARGN)
    if(NOT text MATCHES "${pattern}")
      message(FATAL_ERROR "no match for ${pattern} in\n${text}")
    endif()
  endforeach()
endfunction()

include(${SOURCE_DIR}/cmake/BsppPkgConfig.cmake)
set(PROJECT_DESCRIPTION "test")
bspp_configure_pc(${WORK_DIR}/abs/bspp.pc /opt/bspp /usr/lib64/bspp /opt/include/bspp)
set(ENV{PKG_CONFIG_LIBDIR} ${WORK_DIR}/abs)
foreach(pair libdir=/usr/lib64/bspp includedir=/opt/include/bspp)
  string(REGEX REPLACE "=.*" "" variable ${pair})
  step(pkg-config --variable=${variable} bspp)
  expect("${variable}=${out}" "^${pair}\n$")
endforeach()
unset(ENV{PKG_CONFIG_LIBDIR})

step(${CMAKE_CPACK_COMMAND} -G DEB -B ${WORK_DIR} --config ${BUILD_DIR}/CPackConfig.cmake)
file(GLOB deb ${WORK_DIR}/*.deb)
step(dpkg --print-architecture)
string(STRIP "${out}" arch)
expect("${deb}" "/bspp_${VERSION}-1_${arch}\\.deb$")

step(dpkg-deb --field ${deb})
# Depends comes from dpkg-shlibdeps: what the library and bspp-print load.
expect("\n${out}" "\nVersion: ${VERSION}-1\n" "\nArchitecture: ${arch}\n" "\nSection: libs\n"
  "\nMaintainer: [^\n<]+ <[^\n>]+@[^\n>]+>\n" "\nDescription: [^\n]+\n [^\n]+"
  "\nDepends: [^\n]*libc6 \\(>= " "\nDepends: [^\n]*libfreetype6 \\(>= "
  "\nDepends: [^\n]*libfontconfig1 \\(>= ")
step(dpkg-deb --info ${deb} shlibs)
expect("${out}" "^libbspp 1 bspp \\(>= ${VERSION}-1\\)")
step(dpkg-deb --info ${deb})
expect("${out}" "postinst|triggers")  # ldconfig on installation

# Under /usr, owned by root, the library with its links.
step(dpkg-deb --contents ${deb})
set(lib ./usr/${LIBDIR})
expect("${out}" "-rw-r--r-- root/root +[0-9]+ [^ ]+ [^ ]+ ${lib}/libbspp\\.so\\.${VERSION}\n"
  "root/root +0 [^ ]+ [^ ]+ ${lib}/libbspp\\.so\\.1 -> libbspp\\.so\\.${VERSION}\n"
  "root/root +0 [^ ]+ [^ ]+ ${lib}/libbspp\\.so -> libbspp\\.so\\.1\n"
  "-rw-r--r-- root/root .* ./usr/include/bspp\\.h\n" " ${lib}/cmake/bspp/bsppConfig\\.cmake\n"
  " ${lib}/pkgconfig/bspp\\.pc\n" "-rwxr-xr-x root/root .* ./usr/bin/bspp-print\n"
  " ./usr/share/doc/bspp/README\\.md\n")
if(out MATCHES "(^|\n)[^\n]* \\./(usr/local/|[^u\n])[^\n]*")
  message(FATAL_ERROR "not under /usr: ${CMAKE_MATCH_0}")
endif()

# Unpacked and used: bspp-print, ctypes, gcc -lbspp, pkg-config, find_package.
set(root ${WORK_DIR}/root)
step(dpkg -x ${deb} ${root})
set(ENV{LD_LIBRARY_PATH} ${root}/usr/${LIBDIR})
file(WRITE ${WORK_DIR}/hello.txt "Hello")
step(${root}/usr/bin/bspp-print -o - ${WORK_DIR}/hello.txt)
expect("${out}" "^Hello")
step(python3 -c "import ctypes, sys; lib = ctypes.CDLL('libbspp.so.1'); lib.BSPPring.restype = ctypes.c_ubyte; sys.exit(lib.BSPPring(None, -1, 0, 0) > 1)")
step(cc -I${root}/usr/include ${CONSUMER_DIR}/main.c -L${root}/usr/${LIBDIR} -lbspp -o consumer-cc)
step(readelf -d ${WORK_DIR}/consumer-cc)
expect("${out}" "\\(NEEDED\\) +Shared library: \\[libbspp\\.so\\.1\\]")
step(${WORK_DIR}/consumer-cc)
set(ENV{PKG_CONFIG_PATH} ${root}/usr/${LIBDIR}/pkgconfig)
foreach(mode OFF ON)
  set(build ${WORK_DIR}/build-pkgconfig-${mode})
  step(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${build} -G ${GENERATOR}
       -DCMAKE_PREFIX_PATH=${root}/usr -DUSE_PKGCONFIG=${mode})
  step(${CMAKE_COMMAND} --build ${build})
  step(${build}/consumer)
endforeach()
