# Run by CPack on the staged files: strips the installed programs the way Debian's own package
# tools do, dropping the symbols and the compiler's notes that a package does not need.
file(GLOB programs ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*)
if(NOT programs)
    message(FATAL_ERROR "no programs staged under ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin")
endif()
foreach(program ${programs})
    execute_process(COMMAND strip --remove-section=.comment --remove-section=.note --strip-unneeded
                            ${program} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
