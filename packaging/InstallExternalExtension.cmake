# Runs at install time: writes <id>.json, which names the packed extension and
# its version, into the folders where Chromium, Google Chrome and Microsoft
# Edge on Linux look for extensions to install into every profile. They take
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
foreach(dir IN ITEMS
    /usr/share/chromium/extensions         # Chromium
    /usr/share/google-chrome/extensions    # Google Chrome
    /usr/share/microsoft-edge/extensions)  # Microsoft Edge
  file(INSTALL DESTINATION "${dir}" TYPE FILE
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
    FILES "${filled}")
endforeach()
