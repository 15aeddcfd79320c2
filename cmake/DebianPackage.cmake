# The Debian package: `cpack -G DEB` in the release build folder makes
# tellumo_<version>_<arch>.deb with both programs, the desktop entry and icon,
# the man pages and the AppStream data; dpkg-shlibdeps finds the packages of
# the libraries the programs link.
set(TELLUMO_MAINTAINER "Tellumo developers <tellumo@tellumo.example>"
    CACHE STRING "The package's Maintainer field")

set(CPACK_PACKAGE_NAME tellumo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TELLUMO_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "test and set-up tool for the Korvexa Dual receipt printer")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tellumo connects to a Korvexa Dual receipt printer, or its 40/48-column
compatible model, over a serial or parallel port (or a USB adapter), sends
text files to it with flow control, reads its status, model and firmware,
sends its configuration commands, and downloads user-defined characters and
bitmap lines. Its windows are in Brazilian Portuguese.
.
tellumo-printer serves an emulation of the printer on a pseudo-terminal,
with its window or without, for any serial program and for the tests of
software that prints receipts.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Without it a Wayland session shows the windows through XWayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# What Debian asks of every package's documentation folder: the copyright
# and, for a package with no Debian revision, the changelog, compressed.
set(doc_dir ${CMAKE_BINARY_DIR}/package-doc)
string(TIMESTAMP TELLUMO_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_SOURCE_DIR}/cmake/package/changelog.in ${doc_dir}/changelog @ONLY)
add_custom_command(
  OUTPUT ${doc_dir}/changelog.gz
  COMMAND gzip -9nkf ${doc_dir}/changelog
  DEPENDS ${doc_dir}/changelog
  VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${doc_dir}/changelog.gz)
install(FILES ${CMAKE_SOURCE_DIR}/cmake/package/copyright ${doc_dir}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tellumo)

include(CPack)
