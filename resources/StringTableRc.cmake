# Writes the string tables of StringTable.cpp as a Windows resource script:
# the English table as language 1033, the Chinese one as 2052, so that
# LoadStringW picks the user's language. One source for both platforms.
#   cmake -DSOURCE=StringTable.cpp -DOUTPUT=strings.rc -P StringTableRc.cmake
file(READ "${SOURCE}" text)

# windres reads the bytes of a UTF-8 script as single characters, so every
# character of a text that is not plain ASCII is written as a \xNNNN escape
# of its UTF-16 code units (each escape complete, so none runs into the next).
function(append_unit out unit)
  math(EXPR hex "${unit}" OUTPUT_FORMAT HEXADECIMAL)
  string(SUBSTRING "${hex}" 2 -1 hex)
  string(LENGTH "${hex}" digits)
  math(EXPR pad "4 - ${digits}")
  string(REPEAT "0" ${pad} zeros)
  set(${out} "${${out}}\\x${zeros}${hex}" PARENT_SCOPE)
endfunction()

function(rc_text text out)
  string(HEX "${text}" hex)
  if(hex MATCHES "^([0-7][0-9a-f])*$")
    set(${out} "${text}" PARENT_SCOPE)
    return()
  endif()
  string(LENGTH "${hex}" n)
  set(result "")
  set(i 0)
  while(i LESS n)
    string(SUBSTRING "${hex}" ${i} 2 byte)
    math(EXPR lead "0x${byte}")
    math(EXPR i "${i} + 2")
    if(lead LESS 128)
      set(cp ${lead})
      set(more 0)
    elseif(lead LESS 224)
      math(EXPR cp "${lead} & 31")
      set(more 1)
    elseif(lead LESS 240)
      math(EXPR cp "${lead} & 15")
      set(more 2)
    else()
      math(EXPR cp "${lead} & 7")
      set(more 3)
    endif()
    foreach(k RANGE 1 ${more})
      if(more EQUAL 0)
        break()
      endif()
      string(SUBSTRING "${hex}" ${i} 2 byte)
      math(EXPR cp "(${cp} << 6) | (0x${byte} & 63)")
      math(EXPR i "${i} + 2")
    endforeach()
    if(cp GREATER_EQUAL 65536)
      math(EXPR high "0xD800 + ((${cp} - 65536) >> 10)")
      math(EXPR low "0xDC00 + ((${cp} - 65536) & 1023)")
      append_unit(result ${high})
      append_unit(result ${low})
    else()
      append_unit(result ${cp})
    endif()
  endwhile()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

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
