# Debian packages, one per install component (scripts/package.sh runs cpack):
#
#   vela           the deliverables: core with headers and package config,
#                  the InstrVela plug-in, dbupdate
#   vela-standins  the host framework library, velahost, Linkhub, velasim
#
# The stand-ins depend on vela of the same version (they link core and load
# its plug-in). vela does not depend back on the stand-ins: its plug-in needs
# the host framework only inside a host process, which brings the framework
# itself. Every other dependency is computed by dpkg-shlibdeps.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vela)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vela workstation developers <vela-dev@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL vela standins)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Libraries of the other package (libtqcore for the plug-in, core for the
# stand-ins) are looked up in the build; the link between the packages is
# declared below, not computed.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${VELA_BIN_DIR})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_VELA_PACKAGE_NAME vela)
set(CPACK_DEBIAN_VELA_PACKAGE_SECTION science)
# Loaded by Qt at run time, so the computed library dependencies miss them:
# the SQLite driver of the settings store and dbupdate; Qt's own
# translations for the standard buttons and dates.
set(CPACK_DEBIAN_VELA_PACKAGE_DEPENDS "libqt6sql6-sqlite")
set(CPACK_DEBIAN_VELA_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_COMPONENT_VELA_DESCRIPTION
"Driver plug-in, core library and database upgrade tool of the analyzer
The InstrVela driver plug-in places a host application's assays on the
analyzer and reads back clot times and curves; core is the shared library
of settings, results and curves used by the host and the plug-in (with
headers and a CMake package config); dbupdate upgrades the databases of
an installation.")

set(CPACK_DEBIAN_STANDINS_PACKAGE_NAME vela-standins)
set(CPACK_DEBIAN_STANDINS_PACKAGE_SECTION devel)
# qt6-qpa-plugins: the platform plug-ins velahost needs to open a window or run offscreen.
set(CPACK_DEBIAN_STANDINS_PACKAGE_DEPENDS "vela (= ${CPACK_PACKAGE_VERSION}), qt6-qpa-plugins")
set(CPACK_COMPONENT_STANDINS_DESCRIPTION
"Host program, port helper and simulated analyzer for the Vela driver
Stand-ins for what lies around the driver on a workstation: the host
framework library and the host program velahost, which loads the
plug-in and runs worklists; Linkhub, which owns the analyzer's serial
port; and velasim, a simulated analyzer on a serial line.")

include(CPack)
