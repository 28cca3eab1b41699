# Runs at install time: writes <id>.json, which names the packed extension and
# its version, into the folders where the Chromium-family browsers of
# host/manifests/browsers.list look for extensions to install into every
# profile, and the extension's update manifest. The browsers take
# "external_crx" as an absolute path, so it names the CRX under the prefix of
# this install. file(INSTALL) honours $ENV{DESTDIR}.
if(IS_ABSOLUTE "${TESSERA_EXTENSION_CRX_DIR}")
  set(crx "${TESSERA_EXTENSION_CRX_DIR}/tessera.crx")
else()
  set(crx "${CMAKE_INSTALL_PREFIX}/${TESSERA_EXTENSION_CRX_DIR}/tessera.crx")
endif()
cmake_path(NORMAL_PATH crx)
if(crx MATCHES "[\"\\\\]")
  message(FATAL_ERROR "The CRX's path cannot go into a JSON file as it is: ${crx}")
endif()

set(filled "${TESSERA_EXTENSION_STAGING}/${TESSERA_EXTENSION_ID}.json")
file(WRITE "${filled}" "{\n  \"external_crx\": \"${crx}\",\n  \"external_version\": \"${TESSERA_EXTENSION_VERSION}\"\n}\n")

# The CRX's manifest names this file as its "update_url": the browsers check
# it for updates, and find only the CRX and version installed here (a package
# upgrade rewrites both). It is the extension's one update channel; an
# extension without one would be updated from the browser's web store.
if(TESSERA_EXTENSION_UPDATE_MANIFEST)
  if(NOT crx MATCHES "^[-A-Za-z0-9._/+]+$")
    message(FATAL_ERROR "The CRX's path cannot go into a file:// URL as it is: ${crx}")
  endif()
  get_filename_component(update_name "${TESSERA_EXTENSION_UPDATE_MANIFEST}" NAME)
  get_filename_component(update_dir "${TESSERA_EXTENSION_UPDATE_MANIFEST}" DIRECTORY)
  set(update_filled "${TESSERA_EXTENSION_STAGING}/${update_name}")
  file(WRITE "${update_filled}" "<?xml version='1.0' encoding='UTF-8'?>
<gupdate xmlns='http://www.google.com/update2/response' protocol='2.0'>
  <app appid='${TESSERA_EXTENSION_ID}'>
    <updatecheck codebase='file://${crx}' version='${TESSERA_EXTENSION_VERSION}' />
  </app>
</gupdate>
")
  file(INSTALL DESTINATION "${update_dir}" TYPE FILE
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
    FILES "${update_filled}")
endif()

# The external-extension folders of the browsers in the table, each once.
get_filename_component(table_dir "${TESSERA_BROWSERS_LIST}" DIRECTORY)
include("${table_dir}/BrowserTable.cmake")
tessera_read_browser_table("${TESSERA_BROWSERS_LIST}" "")
foreach(dir IN LISTS TESSERA_EXTENSION_DIRS)
  file(INSTALL DESTINATION "${dir}" TYPE FILE
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
    FILES "${filled}")
endforeach()
