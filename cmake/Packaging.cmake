# `make package`: a Debian package of what `cmake --install` puts in place, built by CPack. Its version is the
# project() version, as are marrowick-cli --version's, the About box's and the man pages'; its dependencies are
# those dpkg-shlibdeps finds for the two programs.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME marrowick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Marrowick")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Browse iPhone and iPad backups and copy files out of them")
set(CPACK_PACKAGE_DESCRIPTION
    "Marrowick reads the iPhone and iPad backups that iTunes (or any tool writing
the same format) left on the computer. It lists every backup it finds with a
short summary, browses a backup's files as the device's own folder tree and
copies files or whole folders out into an ordinary folder. Backups are never
written to.
.
The package holds the desktop program (marrowick) and the command-line tool
for scripts and terminals (marrowick-cli).")
set(CPACK_PACKAGE_CONTACT "Marrowick Developer <dev@marrowick.example>" CACHE STRING "The package's maintainer")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The icons are SVG files drawn by Qt's SVG plugins, which no linker sees; Wayland sessions want Qt's plugin
# for them (without it the window opens through XWayland).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
