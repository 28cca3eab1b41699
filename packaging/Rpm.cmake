# The rpm for Fedora, openSUSE and RHEL, made instead of the Debian package
# when TESSERA_PACKAGE_FORMAT is RPM (tools/make-package --rpm): the same
# files under Fedora's folders (libdir lib64, Firefox's manifest in
# /usr/lib64/mozilla), with the dependencies by Fedora's package names.
# Included from Packaging.cmake, whose CPACK_PACKAGE_* settings it shares.
if(NOT TESSERA_PACKAGE_FORMAT STREQUAL "RPM")
  return()
endif()

set(CPACK_GENERATOR RPM)
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_RELEASE 1)
# The browsers read the manifests from fixed folders under /etc, and the
# manifests name the host under /usr: the rpm cannot be moved elsewhere.
set(CPACK_PACKAGE_RELOCATABLE OFF)
set(CPACK_RPM_PACKAGE_LICENSE "LicenseRef-All-Rights-Reserved")
# Debian's section "utils".
set(CPACK_RPM_PACKAGE_GROUP "Applications/System")
# The description's paragraphs are separated by a "." line in Debian's
# control file, by an empty line in an rpm.
string(REPLACE "\n.\n" "\n\n" CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")

# rpmbuild derives what the host and its modules link from their ELF
# headers, as sonames with symbol versions (libnss3.so(NSS_3.22)(64bit),
# libc.so.6(GLIBC_2.36)(64bit)), names Fedora's packages provide; no
# Debian package name comes in, so it stays on, and the rpm will not install
# on a release older than the libraries it was built against. What the
# host loads or runs by name is added: NSS's own modules, p11-kit's proxy
# module, Qt's platform plugins for the dialog (qt6-qtbase-gui) and
# pinentry for a token's PIN (each Fedora pinentry package provides it).
# The modules provide nothing: the host alone loads them, by path.
set(CPACK_RPM_PACKAGE_AUTOREQ ON)
set(CPACK_RPM_PACKAGE_AUTOPROV OFF)
set(CPACK_RPM_PACKAGE_REQUIRES "nss, p11-kit, qt6-qtbase, qt6-qtbase-gui, pinentry")
# OpenSC is one of several PKCS#11 modules p11-kit may register, so only
# recommended. CPack has no variable for Recommends nor for the packager (the
# .deb's maintainer): the one goes in with the defines, among the header's
# tags, the other is rpmbuild's %packager macro. No build-id links under
# /usr/lib: the package has no debuginfo package they would point into.
set(CPACK_RPM_SPEC_MORE_DEFINE "Recommends: opensc
%define packager ${CPACK_PACKAGE_CONTACT}
%define _build_id_links none")

# The browser folders of host/manifests/browsers.list: the manifests under
# /etc are %config(noreplace), so an administrator's edits survive an
# upgrade. The package owns each folder it puts files in, but none of their
# parents (/etc/opt, /usr/lib64/mozilla, /usr/share/google-chrome, ...): the
# browsers' packages own those, and an rpm erased leaves them standing.
set(rpm_config)
set(rpm_shared ${CMAKE_INSTALL_FULL_MANDIR} ${CMAKE_INSTALL_FULL_MANDIR}/man1)
foreach(dir IN LISTS TESSERA_CHROMIUM_DIRS TESSERA_FIREFOX_DIRS TESSERA_EXTENSION_DIRS)
  if(dir MATCHES "^/etc/")
    list(APPEND rpm_config "%config(noreplace) ${dir}/org.tessera.host.json")
  endif()
  cmake_path(GET dir PARENT_PATH parent)
  while(NOT parent STREQUAL "/")
    list(APPEND rpm_shared ${parent})
    cmake_path(GET parent PARENT_PATH parent)
  endwhile()
endforeach()
list(REMOVE_DUPLICATES rpm_shared)
set(CPACK_RPM_USER_FILELIST ${rpm_config})
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION ${rpm_shared})
