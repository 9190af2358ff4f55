# Manual pages are written in scdoc (docs/man/NAME.1.scd) and installed compressed, as Debian
# keeps them.
find_program(SCDOC scdoc REQUIRED)
find_program(GZIP gzip REQUIRED)

# Builds and installs the page of the installed program NAME; a program without one is reported.
function(zezuvur_man_page name)
    set(source ${PROJECT_SOURCE_DIR}/docs/man/${name}.1.scd)
    if(NOT EXISTS ${source})
        message(WARNING "${name} is installed without a manual page: write docs/man/${name}.1.scd")
        return()
    endif()
    set(page ${PROJECT_BINARY_DIR}/man/${name}.1.gz)
    add_custom_command(OUTPUT ${page}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
        COMMAND sh -c "\"$1\" < \"$2\" | \"$3\" -9n > \"$4\"" man-page ${SCDOC} ${source} ${GZIP} ${page}
        DEPENDS ${source} VERBATIM)
    add_custom_target(man_${name} ALL DEPENDS ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
