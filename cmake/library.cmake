# quenlo_install_library(TARGET DESCRIPTION): installs a shared library with its
# soname (lib<name>.so.<major>), its PUBLIC_HEADER and a pkg-config file. The
# file is written when installing, so it names the prefix actually installed to.
function(quenlo_install_library target description)
  set_target_properties(${target} PROPERTIES VERSION ${PROJECT_VERSION}
                        SOVERSION ${PROJECT_VERSION_MAJOR})
  install(TARGETS ${target} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  set(pc ${CMAKE_CURRENT_BINARY_DIR}/${target}.pc)
  install(CODE "
    set(NAME ${target})
    set(DESCRIPTION \"${description}\")
    set(VERSION ${PROJECT_VERSION})
    set(LIBDIR ${CMAKE_INSTALL_LIBDIR})
    set(INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR})
    configure_file(${PROJECT_SOURCE_DIR}/cmake/library.pc.in ${pc} @ONLY)")
  install(FILES ${pc} DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()
