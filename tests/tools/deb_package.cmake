# Run with -P: makes the Debian package of BUILD_DIR with cpack, checks its
# metadata and contents with dpkg-deb, unpacks it with dpkg -x and uses it
# from there: bspp-print, ctypes, and programs linked against it through
# gcc -lbspp, pkg-config and find_package(bspp).
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

function(expect text pattern what)
  if(NOT text MATCHES "${pattern}")
    message(FATAL_ERROR "${what}: no match for ${pattern} in\n${text}")
  endif()
endfunction()

step(${CMAKE_CPACK_COMMAND} -G DEB -B ${WORK_DIR} --config ${BUILD_DIR}/CPackConfig.cmake)
file(GLOB deb ${WORK_DIR}/*.deb)
list(LENGTH deb n)
if(NOT n EQUAL 1)
  message(FATAL_ERROR "expected one .deb, got: ${deb}")
endif()
step(dpkg --print-architecture)
string(STRIP "${out}" arch)
get_filename_component(name ${deb} NAME)
expect("${name}" "^bspp_${VERSION}-1_${arch}\\.deb$" "file name")

# Metadata.
step(dpkg-deb --field ${deb})
set(control "\n${out}")
expect("${control}" "\nVersion: ${VERSION}-1\n" "version")
expect("${control}" "\nArchitecture: ${arch}\n" "architecture")
expect("${control}" "\nMaintainer: [^\n<]+ <[^\n>]+@[^\n>]+>\n" "maintainer")
expect("${control}" "\nSection: libs\n" "section")
expect("${control}" "\nDescription: [^\n]+\n [^\n]+" "description with a long part")
# From dpkg-shlibdeps: what the library and bspp-print really load.
foreach(dep libc6 libstdc\\+\\+6 libfreetype6 libfontconfig1)
  expect("${control}" "\nDepends: ([^\n]*, )?${dep} \\(>= [^)]+\\)" "Depends on ${dep}")
endforeach()
step(dpkg-deb --info ${deb} shlibs)
expect("${out}" "^libbspp 1 bspp \\(>= ${VERSION}-1\\)" "shlibs")
step(dpkg-deb --info ${deb})
expect("${out}" "postinst|triggers" "ldconfig run on installation")

# Contents: under /usr, owned by root, the library with its links.
step(dpkg-deb --contents ${deb})
set(contents "${out}")
set(lib ./usr/${LIBDIR})
foreach(entry
    "-rw-r--r-- root/root +[0-9]+ [^ ]+ [^ ]+ ${lib}/libbspp\\.so\\.${VERSION}\n"
    "root/root +0 [^ ]+ [^ ]+ ${lib}/libbspp\\.so\\.1 -> libbspp\\.so\\.${VERSION}\n"
    "root/root +0 [^ ]+ [^ ]+ ${lib}/libbspp\\.so -> libbspp\\.so\\.1\n"
    "-rw-r--r-- root/root .* ./usr/include/bspp\\.h\n"
    " ${lib}/cmake/bspp/bsppConfig\\.cmake\n"
    " ${lib}/cmake/bspp/bsppTargets\\.cmake\n"
    " ${lib}/pkgconfig/bspp\\.pc\n"
    "-rwxr-xr-x root/root .* ./usr/bin/bspp-print\n"
    " ./usr/share/doc/bspp/README\\.md\n")
  expect("${contents}" "${entry}" "contents")
endforeach()
string(REGEX MATCHALL "[^\n]+" entries "${contents}")
foreach(entry IN LISTS entries)
  if(NOT entry MATCHES " \\./usr/" OR entry MATCHES " \\./usr/local/")
    message(FATAL_ERROR "not under /usr: ${entry}")
  endif()
endforeach()

# Unpacked and used.
set(root ${WORK_DIR}/root)
step(dpkg -x ${deb} ${root})
step(readelf -d ${root}/usr/${LIBDIR}/libbspp.so.1)
expect("${out}" "\\(SONAME\\) +Library soname: \\[libbspp\\.so\\.1\\]" "soname")
set(ENV{LD_LIBRARY_PATH} ${root}/usr/${LIBDIR})

file(WRITE ${WORK_DIR}/hello.txt "Hello")
step(${root}/usr/bin/bspp-print --output ${WORK_DIR}/hello.job ${WORK_DIR}/hello.txt)
file(READ ${WORK_DIR}/hello.job job)
expect("${job}" "^Hel" "bspp-print from the package writes the job")

step(python3 -c "import ctypes, sys; lib = ctypes.CDLL('libbspp.so.1'); lib.BSPPring.restype = ctypes.c_ubyte; sys.exit(lib.BSPPring(None, -1, 0, 0) > 1)")

# gcc -lbspp against the unpacked headers and library.
step(cc -I${root}/usr/include ${CONSUMER_DIR}/main.c -L${root}/usr/${LIBDIR} -lbspp -o consumer-cc)
step(readelf -d ${WORK_DIR}/consumer-cc)
expect("${out}" "\\(NEEDED\\) +Shared library: \\[libbspp\\.so\\.1\\]" "a consumer needs the soname")
step(${WORK_DIR}/consumer-cc)

# The pc file and the CMake package find the unpacked tree from their place.
set(ENV{PKG_CONFIG_PATH} ${root}/usr/${LIBDIR}/pkgconfig)
foreach(mode OFF ON)
  set(build ${WORK_DIR}/build-pkgconfig-${mode})
  step(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${build} -G ${GENERATOR}
       -DCMAKE_PREFIX_PATH=${root}/usr -DUSE_PKGCONFIG=${mode})
  step(${CMAKE_COMMAND} --build ${build})
  step(${build}/consumer)
endforeach()
message(STATUS "${name}: metadata, contents and the unpacked tree in use as expected")
