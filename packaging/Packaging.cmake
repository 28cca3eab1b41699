# Installs the demo page and the documentation, and makes the Debian package
# with CPack: `cpack` in a build tree gives tessera_<version>_<arch>.deb
# (tools/make-package configures a release tree for /usr and runs it).

# Debian names the documentation folder after the package.
if(CMAKE_INSTALL_DOCDIR STREQUAL "${CMAKE_INSTALL_DATAROOTDIR}/doc/${PROJECT_NAME}")
  set(CMAKE_INSTALL_DOCDIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/tessera")
endif()

install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/demo/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tessera/demo)

# The changelog and manual page go compressed, without name or time stamp so
# that the same sources give the same bytes.
set(packaging_out ${PROJECT_BINARY_DIR}/packaging)
set(compressed)
foreach(file IN ITEMS changelog tessera-host.1 tessera-doctor.1)
  add_custom_command(OUTPUT ${packaging_out}/${file}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${packaging_out}
    COMMAND sh -c "gzip -9n < \"$1\" > \"$2\"" sh ${CMAKE_CURRENT_LIST_DIR}/${file} ${packaging_out}/${file}.gz
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/${file}
    COMMENT "Compressing ${file}" VERBATIM)
  list(APPEND compressed ${packaging_out}/${file}.gz)
endforeach()
add_custom_target(tessera-packaging-docs ALL DEPENDS ${compressed})

install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${packaging_out}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${packaging_out}/tessera-host.1.gz ${packaging_out}/tessera-doctor.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# Lintian objects to files in /etc/opt, the only place Chrome and Edge read
# system-wide host manifests from.
if(TESSERA_PACKAGE_FORMAT STREQUAL "DEB")
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
    RENAME tessera COMPONENT browser-manifests)
endif()

file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^tessera \\(${PROJECT_VERSION}\\)")
  message(WARNING "packaging/changelog has no entry for version ${PROJECT_VERSION}")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessera)
set(CPACK_PACKAGE_VENDOR "Tessera Developers")
set(CPACK_PACKAGE_CONTACT "Tessera Developers <dev@tessera.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "browser signing host for the user's certificates")
set(CPACK_PACKAGE_DESCRIPTION "\
Tessera lets web pages that the user allows sign text with the user's own
certificates: those with a private key in the NSS database and those on the
PKCS#11 tokens that p11-kit registers (smart cards, USB tokens). A browser
extension starts tessera-host and talks to it in native-messaging frames;
the host produces PKCS#7 and raw RSA signatures, asks for a token's PIN
through pinentry and shows a selection dialog when several certificates
match.
.
This package holds the host, the extension for Chromium-family browsers and
Firefox, the browsers' host manifests and a demo page.")

# Everything under /usr but the browsers' manifests, which go to the fixed
# system paths the browsers read (so the tree is staged through DESTDIR).
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The libraries the host and its modules link come from dpkg-shlibdeps. What
# they load or run by name is added here: NSS loads p11-kit's proxy module,
# Qt its platform plugins for the dialog, and a token's PIN is asked through
# pinentry (a graphical one, since a browser starts the host without a
# terminal).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "p11-kit-modules, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pinentry-gnome3 | pinentry-qt | pinentry-gtk2 | pinentry")
# The browser table's folders, for the conffiles here and the rpm's file list.
include(${PROJECT_SOURCE_DIR}/host/manifests/BrowserTable.cmake)
tessera_read_browser_table(${PROJECT_SOURCE_DIR}/host/manifests/browsers.list "${TESSERA_FIREFOX_MANIFEST_DIR}")
# The host manifests under /etc are conffiles: every system folder of the
# browser table that lies in /etc, in the table's order.
set(conffiles)
foreach(dir IN LISTS TESSERA_CHROMIUM_DIRS TESSERA_FIREFOX_DIRS)
  if(dir MATCHES "^/etc/")
    list(APPEND conffiles "${dir}/org.tessera.host.json")
  endif()
endforeach()
list(JOIN conffiles "\n" conffiles)
file(CONFIGURE OUTPUT ${packaging_out}/conffiles CONTENT "${conffiles}\n" @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/host/manifests/browsers.list)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${packaging_out}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# An rpm instead, when TESSERA_PACKAGE_FORMAT says so.
include(${CMAKE_CURRENT_LIST_DIR}/Rpm.cmake)

include(CPack)
