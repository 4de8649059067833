# bspp_configure_pc(<output> <prefix> <libdir> <includedir>)
#
# Writes bspp.pc for a tree installed at <prefix> with the .pc file in
# <libdir>/pkgconfig. With relative <libdir> and <includedir> (the usual
# case) the file finds its prefix from its own place, so the tree can be
# installed or unpacked anywhere (--prefix, DESTDIR, a package). An absolute
# directory is written as it is, and then the prefix is <prefix>.
set(BSPP_PC_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/bspp.pc.in)

function(bspp_configure_pc output prefix libdir includedir)
  if(IS_ABSOLUTE "${libdir}")
    set(BSPP_PC_PREFIX "${prefix}")
  else()
    # From <prefix>/<libdir>/pkgconfig back up to <prefix>.
    file(RELATIVE_PATH up /prefix/${libdir}/pkgconfig /prefix)
    string(REGEX REPLACE "/$" "" up "${up}")
    set(BSPP_PC_PREFIX "\${pcfiledir}/${up}")
  endif()
  foreach(dir libdir includedir)
    if(IS_ABSOLUTE "${${dir}}")
      set(BSPP_PC_${dir} "${${dir}}")
    else()
      set(BSPP_PC_${dir} "\${prefix}/${${dir}}")
    endif()
  endforeach()
  set(BSPP_PC_DESCRIPTION "${PROJECT_DESCRIPTION}")
  set(BSPP_PC_VERSION "${PROJECT_VERSION}")
  configure_file(${BSPP_PC_TEMPLATE} ${output} @ONLY)
endfunction()
