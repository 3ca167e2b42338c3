# marrowick_install_man_page(SOURCE): a roff page with @PROJECT_VERSION@ in its title line, installed
# gzip-compressed to the section its name ends in (marrowick.1.in goes to man1/marrowick.1.gz).
function(marrowick_install_man_page source)
    get_filename_component(page ${source} NAME_WLE)
    string(REGEX MATCH "[0-9]$" section ${page})
    configure_file(${source} ${CMAKE_CURRENT_BINARY_DIR}/${page} @ONLY)
    add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${page}.gz
        COMMAND gzip -9 --no-name --force --keep ${CMAKE_CURRENT_BINARY_DIR}/${page}
        DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${page}
        COMMENT "Compressing the man page ${page}")
    add_custom_target(man_${page} ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${page}.gz)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()
