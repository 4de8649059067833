# Installation and packages.
#
#   cmake --install <build> --prefix <dir>
#     include/bspp.h
#     lib/libbspp.so                     (Linux)   bin/bspp.dll + lib/bspp.lib (Windows)
#     lib/cmake/bspp/bsppConfig*.cmake   find_package(bspp) -> bspp::bspp
#     lib/pkgconfig/bspp.pc              (Linux)
#     bin/bspp-print[.exe]
#     share/doc/bspp/README.md, and on Windows lib/bspp.def
#
#   cpack (win32 build): a ZIP of the same tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(BSPP_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/bspp)

install(TARGETS bspp EXPORT bsppTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/bspp.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS bspp-print RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(EXPORT bsppTargets NAMESPACE bspp:: DESTINATION ${BSPP_CMAKE_DIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/bsppConfig.cmake.in
  ${PROJECT_BINARY_DIR}/bsppConfig.cmake
  INSTALL_DESTINATION ${BSPP_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/bsppConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/bsppConfig.cmake ${PROJECT_BINARY_DIR}/bsppConfigVersion.cmake
  DESTINATION ${BSPP_CMAKE_DIR})

if(EXISTS ${PROJECT_SOURCE_DIR}/README.md)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

if(WIN32)
  # The definition file the import library was made from, for hosts that
  # make their own (MSVC's lib /def:bspp.def).
  install(FILES ${PROJECT_SOURCE_DIR}/src/api/bspp.def DESTINATION ${CMAKE_INSTALL_LIBDIR})
else()
  # The .pc file finds its prefix from its own place, so the tree can be
  # installed anywhere (cmake --install --prefix, DESTDIR, an unpacked ZIP).
  file(RELATIVE_PATH BSPP_PC_TO_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/bspp.pc.in ${PROJECT_BINARY_DIR}/bspp.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/bspp.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()

set(CPACK_PACKAGE_NAME bspp)
set(CPACK_PACKAGE_VENDOR bspp)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_GENERATOR ZIP)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_SYSTEM_NAME win32)
endif()
include(CPack)
