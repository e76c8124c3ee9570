# The Debian package (`make package`). Its library dependencies come from dpkg-shlibdeps, run over every
# executable and plug-in; only what is loaded by name at run time is listed by hand.

set(TM_PACKAGE_MAINTAINER "Kestrelwick Tonemirror team <packages@kestrelwick.example>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tonemirror)
set(CPACK_PACKAGE_VENDOR Kestrelwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_STRIP_FILES ON)

set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find duplicate music files by sound and by tags")
# CPack puts the summary line first and turns empty lines into the "." of the control file.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tonemirror walks the folders you tick, decodes the opening of every audio file
and reduces it to a content fingerprint, reads its tags, and reports pairs of
files that sound alike or are named alike, even when they differ in format,
bit rate, loudness or tags. From the results you play, compare, ignore or move
files to the trash, edit tags and rename files from their tags.")
if(TARGET tonemirror)
    string(APPEND CPACK_DEBIAN_PACKAGE_DESCRIPTION "

This package holds the desktop program and tonemirror-cli, a command-line
front end for scripted scans with text, JSON, CSV or M3U output.")
else()
    string(APPEND CPACK_DEBIAN_PACKAGE_DESCRIPTION "

This package holds tonemirror-cli, the command-line front end, for scripted
scans with text, JSON, CSV or M3U output.")
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TM_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${TM_WEB_SITE_URL})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
if(TARGET tonemirror)
    # The program's images are SVG, read through Qt's SVG image and icon plug-ins: nothing links them.
    # Qt's own dialog buttons (Yes, No, Cancel) follow the chosen language from Qt's translations.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, qt6-translations-l10n")
    # Native windows on a Wayland desktop; without it Qt runs through X11 (libqt6gui6 brings that).
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
endif()

include(CPack)
