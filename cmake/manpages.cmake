# Man pages written in scdoc, turned into compressed roff at build time and
# installed with the tools. Without scdoc at configure time they are skipped.
include(GNUInstallDirs)
find_program(TIVLINK_SCDOC scdoc)
find_program(TIVLINK_GZIP gzip)

# Builds man/NAME.SECTION.scd into NAME.SECTION.gz and installs it with the
# install component given third (default: tools, the tivlink-tools package).
function(tivlink_man_page name section)
  set(component tools)
  if(ARGC GREATER 2)
    set(component ${ARGV2})
  endif()
  set(source ${PROJECT_SOURCE_DIR}/man/${name}.${section}.scd)
  if(NOT TIVLINK_SCDOC OR NOT TIVLINK_GZIP)
    message(STATUS "${name}(${section}): man page skipped (no scdoc or gzip; install the scdoc package)")
    return()
  endif()
  if(TARGET man_${name}_${section})
    return()
  endif()
  # Compressed without a name or time stamp, as Debian ships manual pages.
  set(page ${PROJECT_BINARY_DIR}/man/${name}.${section}.gz)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND sh -c "\"$1\" < \"$2\" | \"$3\" -9n > \"$4\"" scdoc ${TIVLINK_SCDOC} ${source} ${TIVLINK_GZIP} ${page}
    DEPENDS ${source}
    COMMENT "man page ${name}(${section})"
    VERBATIM)
  add_custom_target(man_${name}_${section} ALL DEPENDS ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
endfunction()
