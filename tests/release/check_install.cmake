# Installs a build into a scratch prefix and checks the layout:
#   cmake -DBIN=<build dir> -DOUT=<scratch prefix> -DGUI=<ON|OFF> [-DVALIDATE=<desktop-file-validate>] -P check_install.cmake
file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BIN} --prefix ${OUT}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}\n${err}")
endif()
set(expected
  bin/dorvane-cli
  bin/dorvane-sim
  share/dorvane/Language/code_ch.ini
  share/dorvane/Language/code_en.ini
  share/dorvane/help/en/index.html
  share/dorvane/help/en/communication.html
  share/dorvane/help/zh/index.html
  share/dorvane/help/zh/communication.html
  share/applications/dorvane.desktop
  share/metainfo/org.dorvane.Dorvane.metainfo.xml
  share/bash-completion/completions/dorvane-cli
  share/doc/dorvane/copyright
  share/icons/hicolor/scalable/apps/dorvane.svg
  lib/udev/rules.d/70-dorvane.rules)
if(GUI)
  list(APPEND expected bin/dorvane)
endif()
set(missing "")
foreach(f ${expected})
  if(NOT EXISTS ${OUT}/${f})
    list(APPEND missing ${f})
  endif()
endforeach()
foreach(page dorvane.1 dorvane-cli.1 dorvane-sim.1)
  if(NOT EXISTS ${OUT}/share/man/man1/${page}.gz AND NOT EXISTS ${OUT}/share/man/man1/${page})
    list(APPEND missing share/man/man1/${page}.gz)
  endif()
endforeach()
if(NOT EXISTS ${OUT}/share/doc/dorvane/changelog.Debian.gz AND NOT EXISTS ${OUT}/share/doc/dorvane/changelog.Debian)
  list(APPEND missing share/doc/dorvane/changelog.Debian.gz)
endif()
if(missing)
  message(FATAL_ERROR "Not installed: ${missing}")
endif()
if(VALIDATE)
  execute_process(COMMAND ${VALIDATE} ${OUT}/share/applications/dorvane.desktop
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT "${out}${err}" STREQUAL "")
    message(FATAL_ERROR "desktop-file-validate: ${out}${err}")
  endif()
endif()
# Installed under another prefix than the configured one, the programs still
# find their language files (relative to bin/): English speaks English.
execute_process(COMMAND ${CMAKE_COMMAND} -E env LANG=C LC_ALL=C ${OUT}/bin/dorvane-cli frobnicate
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT "${out}${err}" MATCHES "Unknown command: frobnicate")
  message(FATAL_ERROR "the installed dorvane-cli found no English language file: ${out}${err}")
endif()
# The desktop offers Dorvane for GPX and KML files, opened in the field view.
file(READ ${OUT}/share/applications/dorvane.desktop entry)
foreach(want "Exec=dorvane %f" "application/gpx+xml;" "application/vnd.google-earth.kml+xml;")
  string(FIND "${entry}" "${want}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "dorvane.desktop lacks ${want}")
  endif()
endforeach()
file(REMOVE_RECURSE ${OUT})
message(STATUS "install layout checked")
