# Install locations (GNUInstallDirs) and tabrend_add_man_page(page.N): installs a manual page
# gzip-compressed, as Debian keeps them, into share/man/manN.
include(GNUInstallDirs)

function(tabrend_add_man_page page)
  string(REGEX REPLACE "^.*\\.([1-9])$" "\\1" section ${page})
  set(source ${CMAKE_CURRENT_SOURCE_DIR}/${page})
  set(compressed ${CMAKE_CURRENT_BINARY_DIR}/${page}.gz)
  # -n leaves the name and time out of the archive, so the same page gives the same bytes.
  add_custom_command(OUTPUT ${compressed}
    COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" sh ${source} ${compressed}
    DEPENDS ${source} VERBATIM)
  string(REPLACE "." "_" target man_${page})
  add_custom_target(${target} ALL DEPENDS ${compressed})
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()
