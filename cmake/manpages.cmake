# The manual pages marrowline(1), linesim(1) and mllog(1), from docs/man/. They are compressed
# with "gzip -9n" (no name, no time stamp: the same bytes at every build), as Debian packages
# keep them, and installed with the program.
include(GNUInstallDirs)

set(marrowline_manpages marrowline.1 linesim.1 mllog.1)
set(marrowline_manpages_gz)
foreach(page ${marrowline_manpages})
  set(source ${PROJECT_SOURCE_DIR}/docs/man/${page})
  set(packed ${CMAKE_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${packed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9nc ${source} > ${packed}
    DEPENDS ${source}
    COMMENT "Compressing manual page ${page}"
    VERBATIM)
  list(APPEND marrowline_manpages_gz ${packed})
endforeach()
add_custom_target(manpages ALL DEPENDS ${marrowline_manpages_gz})
install(FILES ${marrowline_manpages_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
