# The Debian package (cpack -G DEB in the build folder; scripts/package.sh):
# what CMake installs, under /usr. dpkg-shlibdeps finds the libraries that the
# executable links; the QML modules and the SVG image plugin are loaded at run
# time, where it cannot see them, so they are the one list kept here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavolin-encoder)
set(CPACK_PACKAGE_VENDOR Tavolin)
set(CPACK_PACKAGE_CONTACT "Tavolin <encoder@tavolin.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Internet radio encoder: streams an audio input to Icecast or Shoutcast")
set(CPACK_PACKAGE_DESCRIPTION
    "Tavolin Encoder captures an audio device, shows its left and right levels,
encodes the audio and sends it live to an Icecast or Shoutcast server. It can
run a station unattended: it starts at logon, reconnects after a lost
connection, sends the now-playing title from a file, records each broadcast
and warns of dead air.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://tavolin.example/encoder/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# QtQuick.Dialogs draws its dialogs with QtQuick.Controls 1, which its own
# package does not bring.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qml-module-qtquick2, qml-module-qtquick-window2, \
qml-module-qtquick-controls2, qml-module-qtquick-controls, qml-module-qtquick-dialogs, \
qml-module-qtquick-layouts, libqt5svg5")

include(GNUInstallDirs)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tavolin-encoder)

include(CPack)
