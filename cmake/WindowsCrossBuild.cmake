# The Windows binaries, cross-built from the same sources beside the Linux
# build (in BUILD/windows), so that the test suite can run them under Wine.
# They need the cross compiler, Wine and the Windows libraries that
# tools/setup-deps --windows installs.
option(TESSERA_WINDOWS "Also cross-build the Windows binaries and test them under Wine" OFF)
set(TESSERA_WINDOWS_DEPS "${PROJECT_SOURCE_DIR}/build-windows-deps/prefix" CACHE PATH
    "Where tools/build-windows-deps installed cJSON and GoogleTest for Windows")

find_program(TESSERA_MINGW_CXX x86_64-w64-mingw32-g++-posix)
find_program(TESSERA_MINGW_OBJDUMP x86_64-w64-mingw32-objdump)
# Debian's 64-bit loader itself, which needs no 32-bit Wine beside it.
find_program(TESSERA_WINE_LOADER NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(TESSERA_WINE_LOADER NAMES wine64 wine)
find_program(TESSERA_WINESERVER NAMES wineserver PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(TESSERA_WINESERVER NAMES wineserver)

set(TESSERA_WINDOWS_READY OFF)
if(TESSERA_MINGW_CXX AND TESSERA_MINGW_OBJDUMP AND TESSERA_WINE_LOADER AND TESSERA_WINESERVER
   AND EXISTS "${TESSERA_WINDOWS_DEPS}/lib/libcjson.a" AND EXISTS "${TESSERA_WINDOWS_DEPS}/lib/libgtest.a")
  set(TESSERA_WINDOWS_READY ON)
endif()

set(TESSERA_WINDOWS_BUILD OFF)
if(TESSERA_WINDOWS AND NOT TESSERA_FUZZ)
  if(NOT TESSERA_WINDOWS_READY)
    message(FATAL_ERROR "TESSERA_WINDOWS needs mingw-w64, Wine and the Windows libraries: run tools/setup-deps --windows")
  endif()
  set(TESSERA_WINDOWS_BUILD ON)
endif()

if(TESSERA_WINDOWS_BUILD)
  include(ExternalProject)
  set(TESSERA_WINDOWS_BINARY_DIR ${PROJECT_BINARY_DIR}/windows)
  ExternalProject_Add(tessera-windows
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${TESSERA_WINDOWS_BINARY_DIR}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
      -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
      -DTESSERA_WERROR=${TESSERA_WERROR}
      -DTESSERA_TESTS=${TESSERA_TESTS}
      -DTESSERA_WINDOWS_DEPS=${TESSERA_WINDOWS_DEPS}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    TEST_COMMAND "")
  message(STATUS "Windows binaries: cross-built in ${TESSERA_WINDOWS_BINARY_DIR}")
endif()
