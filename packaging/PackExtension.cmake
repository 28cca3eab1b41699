# Packs an extension folder into a CRX3 signed with a key, with Chromium's own
# packer: writes DIR.crx beside DIR.
#   cmake -DCHROMIUM=/usr/lib/chromium/chromium -DKEY=key.pem -DDIR=folder -P PackExtension.cmake
# Chromium runs headless (as root only without its sandbox), in a throwaway
# profile and home that are removed afterwards, and without a zygote, so that
# no process of it outlives the packing.
foreach(var IN ITEMS CHROMIUM KEY DIR)
  if(NOT ${var})
    message(FATAL_ERROR "PackExtension.cmake needs -D${var}=...")
  endif()
endforeach()

set(scratch "${DIR}.packing")
file(REMOVE_RECURSE "${scratch}" "${DIR}.crx")
file(MAKE_DIRECTORY "${scratch}/home")
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env "HOME=${scratch}/home"
    ${CHROMIUM} --headless=new --no-sandbox --no-zygote --disable-gpu --no-first-run --disable-crash-reporter
    "--user-data-dir=${scratch}/profile" "--pack-extension=${DIR}" "--pack-extension-key=${KEY}"
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
file(REMOVE_RECURSE "${scratch}")
if(NOT result EQUAL 0 OR NOT EXISTS "${DIR}.crx")
  message(FATAL_ERROR "Chromium did not pack ${DIR} (exit ${result}):\n${output}")
endif()
