# Runs at install time: writes org.tessera.host.json from the templates into
# the browsers' system-wide host directories, with "path" set to the host's
# installed location under the prefix of this install. file(INSTALL) puts
# them under $ENV{DESTDIR} and records them in install_manifest.txt.
if(IS_ABSOLUTE "${TESSERA_MANIFEST_BINDIR}")
  set(host "${TESSERA_MANIFEST_BINDIR}/tessera-host")
else()
  set(host "${CMAKE_INSTALL_PREFIX}/${TESSERA_MANIFEST_BINDIR}/tessera-host")
endif()
cmake_path(NORMAL_PATH host)
if(host MATCHES "[\"\\\\]")
  message(FATAL_ERROR "The host path cannot go into a manifest as it is: ${host}")
endif()

# Each browser's system folders from the table, by the kind of manifest it
# takes; a folder that several browsers share is written once.
include("${TESSERA_MANIFEST_TEMPLATES}/BrowserTable.cmake")
tessera_read_browser_table("${TESSERA_BROWSERS_LIST}" "${TESSERA_FIREFOX_MANIFEST_DIR}")
set(chromium_dirs ${TESSERA_CHROMIUM_DIRS})
set(firefox_dirs ${TESSERA_FIREFOX_DIRS})

foreach(browser IN ITEMS chromium firefox)
  file(READ "${TESSERA_MANIFEST_TEMPLATES}/${browser}.json.in" manifest)
  string(REPLACE "@TESSERA_HOST_PATH@" "${host}" manifest "${manifest}")
  set(filled "${TESSERA_MANIFEST_STAGING}/${browser}/org.tessera.host.json")
  file(WRITE "${filled}" "${manifest}")
  foreach(dir IN LISTS ${browser}_dirs)
    file(INSTALL DESTINATION "${dir}" TYPE FILE
      PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
      FILES "${filled}")
  endforeach()
endforeach()
