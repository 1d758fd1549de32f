# Install layout (GNUInstallDirs), for `cmake --install` and the package:
#   bin/dorvane, bin/dorvane-cli, bin/dorvane-sim
#   share/dorvane/Language/*.ini          (installed by i18n/)
#   share/dorvane/help/{en,zh}/*.html     the help pages, opened by topic name
#   share/applications/dorvane.desktop
#   share/icons/hicolor/scalable/apps/dorvane.svg
#   share/man/man1/dorvane-cli.1.gz
#   lib/udev/rules.d/70-dorvane.rules     (installed by link/)
# The programs look for their data under ${CMAKE_INSTALL_FULL_DATADIR}/dorvane,
# fixed when configuring: configure with the prefix the files will live under.

# The emulator ships too: it is the demo device and lets a user try the
# program without a handheld.
if(TARGET dorvane-sim)
  install(TARGETS dorvane-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/help/
  DESTINATION ${CMAKE_INSTALL_DATADIR}/dorvane/help
  FILES_MATCHING PATTERN "*.html" PATTERN "*.css")

install(FILES ${PROJECT_SOURCE_DIR}/resources/dorvane.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/dorvane.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Man pages are installed compressed, as Debian policy asks; gzip -n keeps
# the file free of a time stamp so that builds are reproducible.
find_program(DORVANE_GZIP gzip)
set(_man_src ${PROJECT_SOURCE_DIR}/man/dorvane-cli.1)
if(DORVANE_GZIP)
  set(_man_out ${CMAKE_BINARY_DIR}/man/dorvane-cli.1.gz)
  add_custom_command(OUTPUT ${_man_out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${DORVANE_GZIP} -n -9 -c ${_man_src} > ${_man_out}
    DEPENDS ${_man_src}
    COMMENT "Compressing the dorvane-cli man page")
  add_custom_target(dorvane_man ALL DEPENDS ${_man_out})
  install(FILES ${_man_out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  install(FILES ${_man_src} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
