# Writes the program's dialog resources as a Windows resource script: the
# selection dialog's template in English (1033) and Chinese (2052), with the
# texts of BuiltinResources.cpp, and its three pictures as "PNG" resources.
# One source of texts for both platforms.
#   cmake -DSOURCE=BuiltinResources.cpp -DTEMPLATE=SelectCertificateDlg.rc.in
#         -DIMAGES=images -DOUTPUT=dialog.rc -P DialogRc.cmake
include(${CMAKE_CURRENT_LIST_DIR}/RcText.cmake)
file(READ "${SOURCE}" text)
file(READ "${TEMPLATE}" template)

function(dialog_texts table language out)
  string(REGEX MATCH "constexpr DialogResource ${table}\\[\\] = {[^;]*{101, u\"([^\"]*)\", u\"([^\"]*)\", u\"([^\"]*)\"}"
         unused "${text}")
  if(NOT CMAKE_MATCH_3)
    message(FATAL_ERROR "DialogRc: no dialog 101 in ${table}")
  endif()
  rc_text("${CMAKE_MATCH_1}" caption)
  rc_text("${CMAKE_MATCH_2}" ok)
  rc_text("${CMAKE_MATCH_3}" cancel)
  set(result "${template}")
  string(REPLACE "@LANGUAGE@" "${language}" result "${result}")
  string(REPLACE "@CAPTION@" "${caption}" result "${result}")
  string(REPLACE "@OK@" "${ok}" result "${result}")
  string(REPLACE "@CANCEL@" "${cancel}" result "${result}")
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

dialog_texts(kDialogsEnglish "0x09, 0x01" english)
dialog_texts(kDialogsChinese "0x04, 0x02" chinese)
file(WRITE "${OUTPUT}.tmp" "// Generated from BuiltinResources.cpp; do not edit.
#include <windows.h>

${english}
${chinese}
// The pictures serve both languages.
LANGUAGE 0x09, 0x01
105 PNG \"${IMAGES}/system-certificate.png\"
106 PNG \"${IMAGES}/key-certificate.png\"
107 PNG \"${IMAGES}/certificate-frame.png\"
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
