# Writes one of the browsers' host manifests for the Windows installer from
# its template in host/manifests, with "path" naming tessera-host.exe beside
# the manifest: on Windows the browsers resolve a relative path against the
# manifest's own folder, so the manifest holds wherever the user installs.
#
#   cmake -DTEMPLATE=host/manifests/chromium.json.in -DOUTPUT=org.tessera.host.json -P FillManifest.cmake
if(NOT TEMPLATE OR NOT OUTPUT)
  message(FATAL_ERROR "usage: cmake -DTEMPLATE=... -DOUTPUT=... -P FillManifest.cmake")
endif()
file(READ "${TEMPLATE}" manifest)
if(NOT manifest MATCHES "\"@TESSERA_HOST_PATH@\"")
  message(FATAL_ERROR "${TEMPLATE} has no \"path\" to fill in")
endif()
string(REPLACE "@TESSERA_HOST_PATH@" "tessera-host.exe" manifest "${manifest}")
file(WRITE "${OUTPUT}" "${manifest}")
