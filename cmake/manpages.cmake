# Man pages written in scdoc, turned into roff at build time and installed
# with the tools. Without scdoc at configure time they are skipped.
include(GNUInstallDirs)
find_program(TIVLINK_SCDOC scdoc)

# Builds man/NAME.SECTION.scd into NAME.SECTION and installs it.
function(tivlink_man_page name section)
  set(source ${PROJECT_SOURCE_DIR}/man/${name}.${section}.scd)
  if(NOT TIVLINK_SCDOC)
    message(STATUS "${name}(${section}): man page skipped (no scdoc; install the scdoc package)")
    return()
  endif()
  set(page ${PROJECT_BINARY_DIR}/man/${name}.${section})
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND sh -c "\"$1\" < \"$2\" > \"$3\"" scdoc ${TIVLINK_SCDOC} ${source} ${page}
    DEPENDS ${source}
    COMMENT "man page ${name}(${section})"
    VERBATIM)
  add_custom_target(man_${name}_${section} ALL DEPENDS ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()
