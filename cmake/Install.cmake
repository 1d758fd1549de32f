# Install layout (GNUInstallDirs), for `cmake --install` and the package:
#   bin/dorvane, bin/dorvane-cli, bin/dorvane-sim
#   share/dorvane/Language/*.ini          (installed by i18n/)
#   share/dorvane/help/{en,zh}/*.html     the help pages, opened by topic name
#   share/icons/hicolor/scalable/apps/dorvane.svg
#   share/applications/dorvane.desktop    (also opens GPX and KML files)
#   share/metainfo/org.dorvane.Dorvane.metainfo.xml   AppStream, for software centres
#   share/man/man1/{dorvane,dorvane-cli,dorvane-sim}.1.gz
#   share/bash-completion/completions/dorvane-cli     (where bash-completion's
#                                         pkg-config file says, under the prefix)
#   share/doc/dorvane/{copyright,changelog.Debian.gz}
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
install(FILES ${PROJECT_SOURCE_DIR}/resources/org.dorvane.Dorvane.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Bash completion: bash-completion loads completions/<command> on first use
# from the folder its pkg-config file names (/usr/share/... on Debian); under
# another prefix the same folder relative to it.
set(DORVANE_BASH_COMPLETION_DIR "" CACHE STRING
  "Where the bash completion is installed, relative to the prefix (empty: from pkg-config)")
set(_completion_dir ${DORVANE_BASH_COMPLETION_DIR})
if(NOT _completion_dir)
  set(_completion_dir ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  find_program(DORVANE_PKG_CONFIG pkg-config)
  if(DORVANE_PKG_CONFIG)
    execute_process(COMMAND ${DORVANE_PKG_CONFIG} --variable=completionsdir bash-completion
      OUTPUT_VARIABLE _pc_dir OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _pc_rc ERROR_QUIET)
    if(_pc_rc EQUAL 0 AND _pc_dir MATCHES "^/usr/(.+)$")
      set(_completion_dir ${CMAKE_MATCH_1})
    endif()
  endif()
endif()
install(FILES ${PROJECT_SOURCE_DIR}/resources/completion/dorvane-cli DESTINATION ${_completion_dir})

# The package's copyright (DEP-5) and changelog, where Debian keeps them.
install(FILES ${PROJECT_SOURCE_DIR}/resources/debian/copyright
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/dorvane)

# Man pages are installed compressed, as Debian policy asks; gzip -n keeps
# the file free of a time stamp so that builds are reproducible. The Debian
# changelog goes the same way.
find_program(DORVANE_GZIP gzip)
set(_gz_outputs "")
function(dorvane_install_gz source destination)
  get_filename_component(_name ${source} NAME)
  if(DORVANE_GZIP)
    set(_out ${CMAKE_BINARY_DIR}/gz/${_name}.gz)
    add_custom_command(OUTPUT ${_out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/gz
      COMMAND ${DORVANE_GZIP} -n -9 -c ${source} > ${_out}
      DEPENDS ${source}
      COMMENT "Compressing ${_name}")
    install(FILES ${_out} DESTINATION ${destination})
    set(_gz_outputs ${_gz_outputs} ${_out} PARENT_SCOPE)
  else()
    install(FILES ${source} DESTINATION ${destination})
  endif()
endfunction()
foreach(_page dorvane dorvane-cli dorvane-sim)
  dorvane_install_gz(${PROJECT_SOURCE_DIR}/man/${_page}.1 ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
dorvane_install_gz(${PROJECT_SOURCE_DIR}/resources/debian/changelog.Debian ${CMAKE_INSTALL_DATADIR}/doc/dorvane)
if(_gz_outputs)
  add_custom_target(dorvane_man ALL DEPENDS ${_gz_outputs})
endif()
