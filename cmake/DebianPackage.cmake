# The Debian package, made by CPack's DEB generator (scripts/package): the files the install
# rules name, below /usr, stripped, with the dependencies dpkg-shlibdeps reads from the program
# and its sound module.

# Files a Debian package carries besides the program: the manual page and the changelog
# compressed as Debian wants them, and the copyright.
set(package_docs ${PROJECT_BINARY_DIR}/package-docs)
add_custom_command(
  OUTPUT ${package_docs}/vorlan.1.gz ${package_docs}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${package_docs}
  COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/data/vorlan.1 > ${package_docs}/vorlan.1.gz
  COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/data/debian/changelog > ${package_docs}/changelog.gz
  DEPENDS data/vorlan.1 data/debian/changelog
  VERBATIM)
add_custom_target(vorlan_docs DEPENDS ${package_docs}/vorlan.1.gz ${package_docs}/changelog.gz)
# Built with the program, so that a build of the program alone installs too.
add_dependencies(vorlan vorlan_docs)
install(FILES ${package_docs}/vorlan.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES data/debian/copyright ${package_docs}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vorlan)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorlan)
set(CPACK_PACKAGE_VENDOR "The Vorlan developers")
set(CPACK_PACKAGE_CONTACT "Vorlan developers <maintainers@vorlan.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "serverless chat for one local network")
set(CPACK_PACKAGE_DESCRIPTION
    "Vorlan is a chat for one office network with no server to set up. Every\n"
    "running copy is a peer: peers find each other by UDP broadcast, keep a\n"
    "member list with presence, and exchange one-line messages to everybody or\n"
    "to chosen members.\n"
    "\n"
    "It alerts you to incoming lines, keeps a daily conversation log, fetches\n"
    "the recent conversation from other peers, and shares its wire format,\n"
    "settings file and log files (Shift-JIS) with peers on other desktops.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Not linked, but loaded: the Wayland platform, and a font with the Japanese the window shows.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, fonts-ipafont-gothic | fonts-japanese-gothic")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-image-formats-plugins")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
