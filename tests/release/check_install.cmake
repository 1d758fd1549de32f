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
if(NOT EXISTS ${OUT}/share/man/man1/dorvane-cli.1.gz AND NOT EXISTS ${OUT}/share/man/man1/dorvane-cli.1)
  list(APPEND missing share/man/man1/dorvane-cli.1.gz)
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
