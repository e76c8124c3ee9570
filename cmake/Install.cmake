# Install layout. The program keeps its own folder: executables, codec plug-ins and "Locale" together
# under <prefix>/lib/tonemirror, because it loads plug-ins and language files from the folder of the
# resolved executable. <prefix>/bin holds relative links to the two commands; desktop entry, metainfo,
# icons and manual pages go to the usual share/ places.

set(TM_INSTALL_PROGRAM_DIR lib/tonemirror)
set(TM_APP_ID io.github.tonemirror.Tonemirror)
set(TM_DIST_SOURCE_DIR ${PROJECT_SOURCE_DIR}/dist)
set(TM_DIST_BINARY_DIR ${CMAKE_BINARY_DIR}/dist)
set(TM_ICON_SOURCE ${PROJECT_SOURCE_DIR}/app/images/tonemirror.svg)

# The desktop program is installed once it is built; everything that only serves it follows it.
set(tm_commands tonemirror-cli)
if(TARGET tonemirror)
    list(PREPEND tm_commands tonemirror)
endif()
get_property(tm_plugins GLOBAL PROPERTY TM_PLUGINS)

# Everything the install step copies, so a package build need not build tests or benchmarks.
add_custom_target(installable)
add_dependencies(installable ${tm_commands} ${tm_plugins})

install(TARGETS ${tm_commands} RUNTIME DESTINATION ${TM_INSTALL_PROGRAM_DIR})
install(TARGETS ${tm_plugins} LIBRARY DESTINATION ${TM_INSTALL_PROGRAM_DIR})

# Relative links, so the tree still works after DESTDIR staging or extraction into another root.
foreach(command IN LISTS tm_commands)
    set(link ${TM_DIST_BINARY_DIR}/bin/${command})
    file(MAKE_DIRECTORY ${TM_DIST_BINARY_DIR}/bin)
    file(CREATE_LINK ../${TM_INSTALL_PROGRAM_DIR}/${command} ${link} SYMBOLIC)
    install(FILES ${link} DESTINATION bin)
endforeach()

# Language files live in Locale/ of the source tree; they are copied beside the built executables too,
# so a program run from the build folder is translated as well.
file(GLOB tm_locale_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/Locale/*.lng)
set(tm_locale_copies "")
foreach(file IN LISTS tm_locale_files)
    get_filename_component(name ${file} NAME)
    set(copy ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/Locale/${name})
    add_custom_command(OUTPUT ${copy} COMMAND ${CMAKE_COMMAND} -E copy ${file} ${copy} DEPENDS ${file}
                       COMMENT "Copying language file ${name}")
    list(APPEND tm_locale_copies ${copy})
endforeach()
add_custom_target(locale ALL DEPENDS ${tm_locale_copies})
add_dependencies(installable locale)
install(FILES ${tm_locale_files} DESTINATION ${TM_INSTALL_PROGRAM_DIR}/Locale)

# Manual pages, compressed as Debian expects (-n: no time stamp, so the package is reproducible).
set(tm_man_pages tonemirror-cli)
if(TARGET tonemirror)
    list(APPEND tm_man_pages tonemirror)
endif()
set(tm_man_outputs "")
foreach(page IN LISTS tm_man_pages)
    configure_file(${TM_DIST_SOURCE_DIR}/${page}.1.in ${TM_DIST_BINARY_DIR}/man/${page}.1 @ONLY)
    set(compressed ${TM_DIST_BINARY_DIR}/man/${page}.1.gz)
    add_custom_command(OUTPUT ${compressed}
                       COMMAND gzip -9 -n -c ${TM_DIST_BINARY_DIR}/man/${page}.1 > ${compressed}
                       DEPENDS ${TM_DIST_BINARY_DIR}/man/${page}.1 VERBATIM)
    list(APPEND tm_man_outputs ${compressed})
    install(FILES ${compressed} DESTINATION share/man/man1)
endforeach()

# The metainfo carries the version, so it is generated; the validation test reads the generated copy.
set(TM_SCREENSHOT_BASE_URL "https://www.kestrelwick.example/docs/screenshots/"
    CACHE STRING "Web folder where docs/screenshots/*.png are published, for the metainfo")
configure_file(${TM_DIST_SOURCE_DIR}/${TM_APP_ID}.metainfo.xml.in ${TM_DIST_BINARY_DIR}/${TM_APP_ID}.metainfo.xml
               @ONLY)

if(TARGET tonemirror)
    install(FILES ${TM_DIST_SOURCE_DIR}/${TM_APP_ID}.desktop DESTINATION share/applications)
    install(FILES ${TM_DIST_BINARY_DIR}/${TM_APP_ID}.metainfo.xml DESTINATION share/metainfo)
    # The icon theme names the icon after the desktop entry; app/images renders the PNG sizes.
    install(FILES ${TM_ICON_SOURCE} DESTINATION share/icons/hicolor/scalable/apps RENAME ${TM_APP_ID}.svg)
    get_directory_property(icon_dir DIRECTORY ${PROJECT_SOURCE_DIR}/app DEFINITION TM_APP_ICON_DIR)
    get_directory_property(icon_sizes DIRECTORY ${PROJECT_SOURCE_DIR}/app DEFINITION TM_APP_ICON_SIZES)
    foreach(size IN LISTS icon_sizes)
        install(FILES ${icon_dir}/hicolor/${size}x${size}/apps/tonemirror.png
                DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME ${TM_APP_ID}.png)
    endforeach()
    add_dependencies(installable tm_app_icons)
endif()

add_custom_target(dist ALL DEPENDS ${tm_man_outputs})
add_dependencies(installable dist)
