# Writes the string tables of StringTable.cpp as a Windows resource script:
# the English table as language 1033, the Chinese one as 2052, so that
# LoadStringW picks the user's language. One source for both platforms.
#   cmake -DSOURCE=StringTable.cpp -DOUTPUT=strings.rc -P StringTableRc.cmake
file(READ "${SOURCE}" text)

include(${CMAKE_CURRENT_LIST_DIR}/RcText.cmake)

function(table_entries name out)
  string(REGEX MATCH "constexpr StringResource ${name}\\[\\] = {(.*)" rest "${text}")
  string(FIND "${CMAKE_MATCH_1}" "\n};" end)
  string(SUBSTRING "${CMAKE_MATCH_1}" 0 ${end} body)
  set(lines "")
  string(REGEX MATCHALL "{(0x[0-9A-Fa-f]+|[0-9]+), u\"([^\"\\\\]|\\\\.)*\"}" entries "${body}")
  foreach(entry IN LISTS entries)
    string(REGEX MATCH "{([^,]+), u\"(.*)\"}" unused "${entry}")
    math(EXPR id "${CMAKE_MATCH_1}" OUTPUT_FORMAT DECIMAL)
    rc_text("${CMAKE_MATCH_2}" rc)
    string(APPEND lines "  ${id}, L\"${rc}\"\n")
  endforeach()
  if(lines STREQUAL "")
    message(FATAL_ERROR "StringTableRc: no entries in ${name}")
  endif()
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

table_entries(kEnglish english)
table_entries(kChinese chinese)
file(WRITE "${OUTPUT}.tmp" "// Generated from StringTable.cpp; do not edit.

LANGUAGE 0x09, 0x01
STRINGTABLE
BEGIN
${english}END

LANGUAGE 0x04, 0x02
STRINGTABLE
BEGIN
${chinese}END
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
