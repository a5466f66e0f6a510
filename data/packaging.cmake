# The Debian package, made by CPack (`cmake --build BUILD --target package`):
# talmo-tools_<version>_amd64.deb with everything `cmake --install` puts in
# place. Build it with CMAKE_INSTALL_PREFIX=/usr, so that the programs' texts
# name the udev rule where the package puts it.

# The package's own documents: copyright, and the changelog Debian expects of
# a package made by its own authors (a native one).
configure_file(deb/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/deb/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/deb/changelog.gz
  COMMAND gzip -9nc ${CMAKE_CURRENT_BINARY_DIR}/deb/changelog > ${CMAKE_CURRENT_BINARY_DIR}/deb/changelog.gz
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/deb/changelog)
add_custom_target(talmo_deb_docs ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/deb/changelog.gz)
install(FILES deb/copyright ${CMAKE_CURRENT_BINARY_DIR}/deb/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/talmo-tools)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME talmo-tools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "TALMO_Tools <maintainer@example.org>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.talmo.example/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The first line is the summary, the rest the long description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "console, mise à jour du firmware et programmation PIC pour le TALMO
TALMO_Tools affiche l'état du TALMO, une interface USB HID, en direct, met à
jour son firmware par son boot loader, et lit, sauvegarde et programme le
PIC16F87x(A) de la carte VELKOR. Le paquet contient la fenêtre talmo-tools,
le programme talmo-cli pour le terminal (scripts, SSH), talmo-tools-demo sur
un TALMO virtuel, et la règle udev qui donne l'accès au TALMO à l'utilisateur
de la session et au groupe plugdev.")
# udev reads the rule again after installation and after removal.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_SOURCE_DIR}/deb/postinst ${CMAKE_CURRENT_SOURCE_DIR}/deb/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
