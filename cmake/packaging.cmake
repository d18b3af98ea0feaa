# The Debian package (cpack -G DEB in the build folder, or scripts/package.sh): the program, its
# tools, their manual pages, icons, desktop entry, AppStream metadata and README, and a systemd
# unit that runs it as a headless server under the system user marrowline, made by the
# maintainer scripts in packaging/. It passes lintian without errors or warnings
# (scripts/package-check.sh).
include(GNUInstallDirs)

set(marrowline_packaging ${PROJECT_SOURCE_DIR}/packaging)
# Who answers for the package (also in packaging/changelog and packaging/copyright).
set(marrowline_contact "Marrowline developers <maintainers@users.noreply.c-seed-63c766eb.example>")
# Relative, so that "cmake --install --prefix DIR" stays inside DIR; in the package it is
# /usr/lib/systemd/system.
install(FILES ${marrowline_packaging}/marrowline.service DESTINATION lib/systemd/system)
# The first marrowline.ini of the server; the postinst script copies it into the program folder.
install(FILES ${marrowline_packaging}/marrowline.ini
  DESTINATION ${CMAKE_INSTALL_DATADIR}/marrowline)
# The copyright file and the changelog every Debian package holds (the changelog compressed as
# the manual pages are).
set(marrowline_changelog ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${marrowline_changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND gzip -9nc ${marrowline_packaging}/changelog > ${marrowline_changelog}
  DEPENDS ${marrowline_packaging}/changelog
  VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${marrowline_changelog})
install(FILES ${marrowline_packaging}/copyright ${marrowline_changelog}
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/marrowline)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME marrowline)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Marrowline developers")
set(CPACK_PACKAGE_CONTACT ${marrowline_contact})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "moves files over serial lines, as a client or a server")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Marrowline moves files point to point over serial lines: a modem that dials\n"
  "out or answers, or a direct null-modem cable. One installation is either a\n"
  "client (a persistent queue of outgoing files) or a server (answers on every\n"
  "active port, authenticates callers, keeps per-user inboxes and outboxes).\n"
  "The package holds the program, the tools linesim (virtual lines) and mllog\n"
  "(results logs as tables), and a systemd unit, marrowline.service, that runs\n"
  "the server headless under the system user marrowline, with its files in\n"
  "/var/lib/marrowline.")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME marrowline)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${marrowline_contact})
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link come from dpkg-shlibdeps (dpkg-dev); the icons need the Qt SVG
# plugin, which nothing links, and the postinst script needs adduser.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, adduser")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${marrowline_packaging}/postinst ${marrowline_packaging}/prerm ${marrowline_packaging}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
