# Debian packages, one per install component (cmake/MerligInstall.cmake), built from a build tree:
#   cpack -G DEB --config BUILD/CPackConfig.cmake -B OUTDIR
#   merlig          the proxy, its desktop entry, icon, man page and system service (not enabled);
#                   its post-install step grants the program cap_net_bind_service; its service
#                   stops before the program is removed or upgraded, and is disabled on purge
#   libovelta0      the shared library
#   libovelta-dev   headers, CMake package, the ovpack tool and its man page
# Installs into /usr with DESTDIR, so that what the install step writes (run paths, the service's
# program path) names /usr and not the staging directory.
set(CPACK_PACKAGE_NAME merlig)
set(CPACK_PACKAGE_VENDOR "Merlig")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Merlig maintainers <merlig@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# MIT (Expat); each package's copyright file (doc/copyright) carries the same text.
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL merlig libovelta0 libovelta-dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Dependencies on system libraries come from dpkg-shlibdeps, which finds libovelta.so.0 in the build
# tree; the packages' own dependencies on each other are exact.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
set(merlig_deb_version "${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")

set(CPACK_DEBIAN_MERLIG_PACKAGE_NAME merlig)
set(CPACK_DEBIAN_MERLIG_PACKAGE_SECTION net)
set(CPACK_DEBIAN_MERLIG_PACKAGE_DEPENDS "libovelta0 (= ${merlig_deb_version}), libcap2-bin")
set(CPACK_DEBIAN_MERLIG_PACKAGE_RECOMMENDS "fonts-ipafont-gothic")
set(CPACK_DEBIAN_MERLIG_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/deb/merlig/postinst
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/deb/merlig/prerm
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/deb/merlig/postrm)
set(CPACK_COMPONENT_MERLIG_DESCRIPTION
"local POP3 proxy that logs in to the real server with APOP
Merlig lets a mail program that can only log in with plain USER and PASS
read a mailbox on a POP3 server that demands APOP (RFC 1939). The mail
program talks to Merlig on port 110 of the local machine with the user
name user@pop.server; Merlig logs in to pop.server with APOP and then
relays the mail unchanged.

It runs as a tray program with a log window, or without a display as the
system service merlig.service (installed, not enabled). Installing the
package lets every user start it: the program is granted the
cap_net_bind_service capability.")

set(CPACK_DEBIAN_LIBOVELTA0_PACKAGE_NAME libovelta0)
set(CPACK_DEBIAN_LIBOVELTA0_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBOVELTA0_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/tools/deb/libovelta0/triggers)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)  # only libovelta0 holds a shared library
set(CPACK_COMPONENT_LIBOVELTA0_DESCRIPTION
"Ovelta component library
Ovelta is the component library Merlig is made of: MD5, a notification-area
icon component, a counter and random generator, string and file helpers,
pack archives with their own compression codec (Corvel) and CRC-16 check
words, BMP and ACT palette loaders, an 8-bit 256-colour drawing surface and
a glyph-to-pattern renderer.

This package holds the shared library.")

set(CPACK_DEBIAN_LIBOVELTA-DEV_PACKAGE_NAME libovelta-dev)
set(CPACK_DEBIAN_LIBOVELTA-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBOVELTA-DEV_PACKAGE_DEPENDS "libovelta0 (= ${merlig_deb_version})")
set(CPACK_COMPONENT_LIBOVELTA-DEV_DESCRIPTION
"Ovelta component library: development files and the ovpack tool
Ovelta is the component library Merlig is made of: MD5, a notification-area
icon component, pack archives with their own compression codec, BMP and ACT
palette loaders, an 8-bit drawing surface and a glyph-to-pattern renderer.

This package holds the headers, the CMake package (find_package(Ovelta))
and ovpack, which builds, lists, extracts and verifies pack archives.")

include(CPack)
