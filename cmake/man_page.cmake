# quenlo_man_page(PROGRAM SOURCE): the program's manual page, written in scdoc
# beside it, turned into troff and gzipped as Debian ships pages, and installed.
# A test runs the program's --help (and each subcommand's) and fails when an
# option or subcommand shown there is missing from the page.
find_program(SCDOC scdoc REQUIRED)

function(quenlo_man_page program source)
  get_filename_component(page ${source} NAME_WLE)  # quenlo-cli.1
  string(REGEX MATCH "[0-9]$" section ${page})
  set(in ${CMAKE_CURRENT_SOURCE_DIR}/${source})
  set(out ${PROJECT_BINARY_DIR}/man/${page})
  add_custom_command(OUTPUT ${out} ${out}.gz
    COMMAND ${SCDOC} < ${in} > ${out}
    COMMAND gzip -9nf < ${out} > ${out}.gz
    DEPENDS ${in}
    COMMENT "Writing the manual page ${page}"
    VERBATIM)
  add_custom_target(man_${program} ALL DEPENDS ${out} ${out}.gz)
  install(FILES ${out}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  add_test(NAME man_page_${program}
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}> -DPAGE=${in}
            -P ${PROJECT_SOURCE_DIR}/tests/cmake/check_man_page.cmake)
  # Every program answers --help without a display, the window's too.
  set_tests_properties(man_page_${program} PROPERTIES ENVIRONMENT_MODIFICATION
                       "DISPLAY=unset:;WAYLAND_DISPLAY=unset:;QT_QPA_PLATFORM=unset:")
endfunction()
