# Fails unless each binary imports only DLLs that come with Windows itself:
# no C or C++ runtime of the compiler's, nothing the user would have to
# install beside it.
#   cmake -DOBJDUMP=... -DBINARIES=a.exe;b.dll -P CheckImports.cmake
set(SYSTEM_DLLS advapi32.dll crypt32.dll kernel32.dll msvcrt.dll user32.dll gdi32.dll ole32.dll
    oleaut32.dll shlwapi.dll ncrypt.dll bcrypt.dll comctl32.dll cryptui.dll gdiplus.dll msimg32.dll)
# An executable's imports are resolved before any of its code runs, from
# its own folder first unless they are KnownDLLs, which Windows takes from
# System32 alone: an executable imports nothing else.
set(KNOWN_DLLS advapi32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll shlwapi.dll user32.dll)
set(failures "")
foreach(binary IN LISTS BINARIES)
  execute_process(COMMAND ${OBJDUMP} -p ${binary} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${binary} failed")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" names "${dump}")
  if(names STREQUAL "")
    message(FATAL_ERROR "${binary}: no imports found; is it a PE file?")
  endif()
  foreach(entry IN LISTS names)
    string(REPLACE "DLL Name: " "" dll "${entry}")
    string(STRIP "${dll}" dll)
    string(TOLOWER "${dll}" dll)
    list(FIND SYSTEM_DLLS "${dll}" found)
    list(FIND KNOWN_DLLS "${dll}" known)
    if(found EQUAL -1)
      string(APPEND failures "\n  ${binary} imports ${dll}")
    elseif(binary MATCHES "[.]exe$" AND known EQUAL -1)
      string(APPEND failures "\n  ${binary} imports ${dll}, not a KnownDLL")
    endif()
  endforeach()
  message(STATUS "${binary}: ${names}")
endforeach()
if(failures)
  message(FATAL_ERROR "imports of DLLs that Windows does not ship, or not from System32:${failures}")
endif()
