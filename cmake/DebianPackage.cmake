# The Debian package (cpack -G DEB in a Linux build): one package "bspp"
# with everything that is installed, under /usr.
#
# The library lands in /usr/<libdir> as configured: /usr/lib for a build
# with the default prefix (the linux preset), /usr/lib/<multiarch> when the
# build was configured with CMAKE_INSTALL_PREFIX=/usr. Both are on the
# dynamic loader's default path and in ldconfig's cache, so programs,
# ctypes and Mono find libbspp.so.1 with no LD_LIBRARY_PATH.
#
# Anything else installed by the project goes into the package as well, and
# its Depends line is worked out by dpkg-shlibdeps from every ELF file in it.
set(BSPP_DEB_MAINTAINER "bspp developers <bspp-dev@lists.example.org>" CACHE STRING
  "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${BSPP_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION
  "Prints simplified-Chinese text (GB2312 bytes) on a 9-pin dot-matrix
printer that speaks Epson ESC/P, on the first parallel port (/dev/lp0):
single-byte characters as text in fixed 80-column lines, Chinese
characters drawn from a 16-pixel Song font as dot graphics.

This package holds the shared library libbspp.so.1 (one call, BSPPring),
its header, CMake package and pkg-config file, and the bspp-print command,
which prints a file, writes the job stream, lists it or draws a preview.")
# Depends: from the ELF files (libc6, libstdc++6, libfreetype6, ...).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Glyphs need a font with simplified-Chinese coverage; WenQuanYi's bitmap
# Song strike is the one that prints cleanly at 16 pixels.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xfonts-wqy | fonts-wqy-zenhei | fonts-arphic-uming")
# DEBIAN/shlibs, so that packages built against this one depend on it; CPack
# also adds the ldconfig calls for a library in /usr/lib.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
