# Installation and packages.
#
#   cmake --install <build> --prefix <dir>
#     Linux                                    Windows (<arch>: x86 or x64)
#     include/bspp.h                           include/bspp.h
#     lib/libbspp.so.1.0.0.1, .so.1, .so       bin/<arch>/bspp.dll
#                                              lib/<arch>/bspp.lib, bspp.def
#     lib/cmake/bspp/                          lib/cmake/bspp/ (both arches)
#     lib/pkgconfig/bspp.pc
#     bin/bspp-print                           bin/<arch>/bspp-print.exe
#     share/doc/bspp/README.md                 share/doc/bspp/README.md
#
#   cpack (Linux build): a Debian package of that tree under /usr.
#   cpack (win32 build): a ZIP of the x86 tree and the win64 build's x64 tree.
#
# Whatever else is installed (install() anywhere in the project) goes into
# both packages as well; the Debian package's dependencies are worked out
# from every ELF file in it.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
include(${CMAKE_CURRENT_LIST_DIR}/BsppPkgConfig.cmake)

set(BSPP_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/bspp)
if(WIN32)
  # Two builds share one tree: each puts its binaries in a folder of its own
  # and its imported target in a file of its own; bsppConfig.cmake picks the
  # one that matches the consumer's pointer size.
  set(bspp_bindir ${CMAKE_INSTALL_BINDIR}/${BSPP_ARCH})
  set(bspp_libdir ${CMAKE_INSTALL_LIBDIR}/${BSPP_ARCH})
  set(bspp_targets_file bsppTargets-${BSPP_ARCH}.cmake)
  set(bspp_version_arch ARCH_INDEPENDENT)
else()
  set(bspp_bindir ${CMAKE_INSTALL_BINDIR})
  set(bspp_libdir ${CMAKE_INSTALL_LIBDIR})
  set(bspp_targets_file bsppTargets.cmake)
  set(bspp_version_arch)
endif()

install(TARGETS bspp EXPORT bsppTargets
  RUNTIME DESTINATION ${bspp_bindir}
  LIBRARY DESTINATION ${bspp_libdir}
  ARCHIVE DESTINATION ${bspp_libdir})
install(FILES ${PROJECT_SOURCE_DIR}/include/bspp.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS bspp-print RUNTIME DESTINATION ${bspp_bindir})
install(EXPORT bsppTargets NAMESPACE bspp:: DESTINATION ${BSPP_CMAKE_DIR}
  FILE ${bspp_targets_file})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/bsppConfig.cmake.in
  ${PROJECT_BINARY_DIR}/bsppConfig.cmake
  INSTALL_DESTINATION ${BSPP_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/bsppConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion ${bspp_version_arch})
install(FILES ${PROJECT_BINARY_DIR}/bsppConfig.cmake ${PROJECT_BINARY_DIR}/bsppConfigVersion.cmake
  DESTINATION ${BSPP_CMAKE_DIR})

if(EXISTS ${PROJECT_SOURCE_DIR}/README.md)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

if(WIN32)
  # The definition file the import library was made from, for hosts that
  # make their own (MSVC's lib /def:bspp.def).
  install(FILES ${BSPP_IMPORT_DEF} DESTINATION ${bspp_libdir} RENAME bspp.def)
else()
  bspp_configure_pc(${PROJECT_BINARY_DIR}/bspp.pc
    ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_LIBDIR} ${CMAKE_INSTALL_INCLUDEDIR})
  install(FILES ${PROJECT_BINARY_DIR}/bspp.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()

set(CPACK_PACKAGE_NAME bspp)
set(CPACK_PACKAGE_VENDOR bspp)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows)
  if(BSPP_ARCH STREQUAL "x86")
    # The ZIP is made from the x86 build and takes the x64 build's install
    # tree in as well (build it first: the win64 preset).
    set(BSPP_WIN64_BUILD_DIR ${PROJECT_SOURCE_DIR}/build/win64 CACHE PATH
      "Build tree of the x64 DLL that the Windows package also holds")
    set(CPACK_INSTALL_CMAKE_PROJECTS
      "${PROJECT_BINARY_DIR};bspp;ALL;/"
      "${BSPP_WIN64_BUILD_DIR};bspp;ALL;/")
    configure_file(${CMAKE_CURRENT_LIST_DIR}/CPackWindows.cmake.in
      ${PROJECT_BINARY_DIR}/CPackWindows.cmake @ONLY)
    set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackWindows.cmake)
  else()
    set(CPACK_SYSTEM_NAME windows-x64-only)
  endif()
else()
  include(${CMAKE_CURRENT_LIST_DIR}/DebianPackage.cmake)
endif()
include(CPack)
