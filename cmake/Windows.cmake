# The Windows build, cross-compiled with mingw-w64 (cmake/mingw-w64-x86_64.cmake):
# tessera-host.exe with its string tables as PE resources, the crypto module
# tessera-crypto.dll that it loads on demand, and the test programs that run
# under Wine. Everything links the C and C++ runtimes statically, so the
# binaries import only DLLs that Windows ships.
#
# cJSON and GoogleTest come from TESSERA_WINDOWS_DEPS (tools/build-windows-deps).
set(TESSERA_WINDOWS_DEPS "${PROJECT_SOURCE_DIR}/build-windows-deps/prefix" CACHE PATH
    "Where tools/build-windows-deps installed cJSON and GoogleTest for Windows")
list(APPEND CMAKE_FIND_ROOT_PATH "${TESSERA_WINDOWS_DEPS}")
list(APPEND CMAKE_PREFIX_PATH "${TESSERA_WINDOWS_DEPS}")

find_path(CJSON_INCLUDE_DIR cjson/cJSON.h REQUIRED)
find_library(CJSON_LIBRARY NAMES cjson REQUIRED)
add_library(tessera-cjson INTERFACE)
target_include_directories(tessera-cjson INTERFACE "${CJSON_INCLUDE_DIR}" "${CJSON_INCLUDE_DIR}/cjson")
target_link_libraries(tessera-cjson INTERFACE "${CJSON_LIBRARY}")

# Unicode entry points and no min/max macros in the few files that see
# <windows.h>; the C runtime's own, standard-conforming printf family.
add_compile_definitions(UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN __USE_MINGW_ANSI_STDIO=1
                        _WIN32_WINNT=0x0601)
add_link_options(-static -static-libgcc -static-libstdc++)
# A release build ships without its symbol tables (about a third of the size).
add_link_options($<$<CONFIG:Release,MinSizeRel>:-s>)

add_subdirectory(trace)
add_subdirectory(kernel)
add_subdirectory(resources)
add_subdirectory(ui)
add_subdirectory(agent)
add_subdirectory(host)
add_subdirectory(tools/installer)
if(TESSERA_TESTS)
  add_subdirectory(tests/windows)
endif()
