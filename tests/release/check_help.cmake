# Checks the help pages:
#   cmake -DHELP=<resources/help> [-DLANG_DIR=<resources/Language>] -P check_help.cmake
# - both languages hold the same pages, among them every topic the programs open;
# - every local link and style sheet names a file that exists;
# - nothing is loaded from outside (the pages must work offline);
# - errors.html lists every message DeviceErrorText (transfer/dorvane_doc.cpp)
#   can show, word for word as the language file has it: en/ the texts of
#   code_en.ini, zh/ those of code_ch.ini. LANG_DIR defaults to the Language
#   folder beside HELP.
set(topics index communication files conversion fields book errors)
# The keys DeviceErrorText maps error codes to. Keep in step with it.
set(device_error_keys
  RES_GLOBAL_STRING_RES_ERR_MSG_NULL_1            # 0
  RES_GLOBAL_STRING_RES_ERR_FILE_NOT_EXIST        # 1, 242
  RES_GLOBAL_STRING_RES_ERR_MSG_FILEBUSY          # 2
  RES_GLOBAL_STRING_RES_ERR_MSG_FILEUNKNOW        # 3
  RES_GLOBAL_STRING_RES_ERR_MSG_FILEEXIST         # 4
  RES_GLOBAL_STRING_RES_ERR_MSG_WPTISFULL         # 5
  RES_GLOBAL_STRING_RES_ERROR_NOSPACE             # 6
  RES_GLOBAL_STRING_RES_ERR_MSG_TIMEOUT           # 16
  RES_CMAINFRAME_ERROR_DONT_SUPPORT_DOWNLOAD_GMT  # 48
  RES_GLOBAL_STRING_RES_GPS_CONNECT_ERROR         # 240, 241
  RES_GLOBAL_STRING_RES_ERR_LOCAL_READ            # 243
  RES_GLOBAL_STRING_RES_ERR_LOCAL_WRITE           # 244
  RES_CORE2_FILE_TOO_LARGE                        # 245
  RES_FAULTS_BAD_DATA                             # 246
  RES_FAULTS_DISCONNECTED                         # 247
  RES_GLOBAL_STRING_RES_ERR_OTHER)                # any other code
if(NOT DEFINED LANG_DIR)
  get_filename_component(LANG_DIR ${HELP}/../Language ABSOLUTE)
endif()
set(failures "")
foreach(lang en zh)
  foreach(t ${topics})
    if(NOT EXISTS ${HELP}/${lang}/${t}.html)
      list(APPEND failures "${lang}/${t}.html is missing")
    endif()
  endforeach()
endforeach()
file(GLOB en_pages RELATIVE ${HELP}/en ${HELP}/en/*)
file(GLOB zh_pages RELATIVE ${HELP}/zh ${HELP}/zh/*)
if(NOT en_pages STREQUAL zh_pages)
  list(APPEND failures "the languages differ: en has [${en_pages}], zh has [${zh_pages}]")
endif()

file(GLOB_RECURSE pages ${HELP}/*.html)
foreach(page ${pages})
  get_filename_component(dir ${page} DIRECTORY)
  file(READ ${page} text)
  if(NOT text MATCHES "<meta charset=\"utf-8\">")
    list(APPEND failures "${page}: no UTF-8 charset")
  endif()
  string(REGEX MATCHALL "(href|src)=\"[^\"]*\"" refs "${text}")
  foreach(ref ${refs})
    string(REGEX REPLACE "^(href|src)=\"([^\"#]*).*$" "\\2" target "${ref}")
    if(target MATCHES "^[a-zA-Z]+:" OR target MATCHES "^//")
      list(APPEND failures "${page}: external reference ${target}")
    elseif(NOT target STREQUAL "" AND NOT EXISTS ${dir}/${target})
      list(APPEND failures "${page}: broken link ${target}")
    endif()
  endforeach()
  if(text MATCHES "@import|url\\(")
    list(APPEND failures "${page}: loads a resource through CSS")
  endif()
endforeach()
# The device error table: each text as the message cell of a row. The page is
# compared with & < > " ' unescaped. Language files end their lines in CR LF
# (or LF); a value ends at the line end.
foreach(pair "en;code_en.ini" "zh;code_ch.ini")
  list(GET pair 0 lang)
  list(GET pair 1 ini)
  set(page ${HELP}/${lang}/errors.html)
  if(NOT EXISTS ${LANG_DIR}/${ini})
    list(APPEND failures "${LANG_DIR}/${ini} is missing (set -DLANG_DIR)")
    continue()
  endif()
  if(NOT EXISTS ${page})
    continue()  # already reported above
  endif()
  file(READ ${LANG_DIR}/${ini} ini_text)
  file(READ ${page} html)
  string(REPLACE "&lt;" "<" html "${html}")
  string(REPLACE "&gt;" ">" html "${html}")
  string(REPLACE "&quot;" "\"" html "${html}")
  string(REPLACE "&apos;" "'" html "${html}")
  string(REPLACE "&#39;" "'" html "${html}")
  string(REPLACE "&amp;" "&" html "${html}")
  foreach(key ${device_error_keys})
    if(NOT ini_text MATCHES "(^|\n)${key}=([^\r\n]*)")
      list(APPEND failures "${ini}: no key ${key}")
      continue()
    endif()
    set(wanted "${CMAKE_MATCH_2}")
    if(wanted STREQUAL "")
      list(APPEND failures "${ini}: ${key} is empty")
      continue()
    endif()
    string(FIND "${html}" "<td>${wanted}</td>" at)
    if(at EQUAL -1)
      list(APPEND failures "${lang}/errors.html: no table cell with the text of ${key}: ${wanted}")
    endif()
  endforeach()
endforeach()

list(LENGTH pages n)
if(n EQUAL 0)
  list(APPEND failures "no pages found under ${HELP}")
endif()
if(failures)
  list(JOIN failures "\n  " msg)
  message(FATAL_ERROR "Help pages:\n  ${msg}")
endif()
message(STATUS "${n} help pages checked")
