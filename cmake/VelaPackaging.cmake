# Debian packages, one per install component (scripts/package.sh runs cpack,
# then lintian on what it made):
#
#   libvelacore1     core, the shared library (component corelib)
#   libvelacore-dev  its headers, development link and CMake package config
#                    (coredev)
#   vela             the InstrVela plug-in, dbupdate, the translations (vela)
#   vela-standins    the host framework library, velahost, Linkhub, velasim
#                    (standins)
#
# The packages of one build depend on each other by exact version: the
# plug-in and the stand-ins are built against this build's core, and the
# development package's link and headers are of this library only. vela does
# not depend on the stand-ins: its plug-in needs the host framework only
# inside a host process, which brings the framework itself. Every other
# dependency is computed by dpkg-shlibdeps.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vela)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vela developers <vela-dev@vela-analyzer.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL corelib coredev vela standins)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE vela)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Libraries of another package (libtqcore for the plug-in, core for the
# plug-in and the stand-ins) are looked up in the build; the links between
# the packages are declared below, not computed.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${VELA_BIN_DIR})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(vela_deb_version ${CPACK_PACKAGE_VERSION})

# --- libvelacore1 ------------------------------------------------------------
# Its shlibs file tells dpkg-shlibdeps which package brings the library; its
# trigger has dpkg refresh the loader's cache once after all packages are
# unpacked. CPack's own dependency computation is off for this package since
# it would also write maintainer scripts that call ldconfig themselves; the
# dependencies are computed by VelaCPackProject.cmake instead, from the
# library named here.
set(VELA_CORE_SONAME_VERSION ${PROJECT_VERSION_MAJOR})
set(VELA_DEBIAN_DIR ${CMAKE_BINARY_DIR}/debian)
file(WRITE ${VELA_DEBIAN_DIR}/corelib/shlibs
     "libvelacore ${VELA_CORE_SONAME_VERSION} libvelacore${VELA_CORE_SONAME_VERSION} (>= ${vela_deb_version})\n")
file(WRITE ${VELA_DEBIAN_DIR}/corelib/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_CORELIB_PACKAGE_NAME libvelacore${VELA_CORE_SONAME_VERSION})
set(CPACK_DEBIAN_CORELIB_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_CORELIB_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_CORELIB_PACKAGE_CONTROL_EXTRA ${VELA_DEBIAN_DIR}/corelib/shlibs ${VELA_DEBIAN_DIR}/corelib/triggers)
set(CPACK_VELA_CORE_LIBRARY ${VELA_BIN_DIR}/libvelacore.so.${PROJECT_VERSION})
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/VelaCPackProject.cmake)
set(CPACK_COMPONENT_CORELIB_DESCRIPTION
"Core library of the Vela analyzer software
The shared library of settings, results and clot curves used by the host
application and the analyzer's driver plug-in: the SQLite settings store,
result and curve types, common functions, a serial-port device and a
property tree model.")

# --- libvelacore-dev ---------------------------------------------------------
# qt6-base-dev: the package config finds the Qt modules core links publicly.
set(CPACK_DEBIAN_COREDEV_PACKAGE_NAME libvelacore-dev)
set(CPACK_DEBIAN_COREDEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_COREDEV_PACKAGE_DEPENDS "${CPACK_DEBIAN_CORELIB_PACKAGE_NAME} (= ${vela_deb_version}), qt6-base-dev")
set(CPACK_COMPONENT_COREDEV_DESCRIPTION
"Core library of the Vela analyzer software (development files)
Headers, development link and CMake package config of the core library:
a host application does find_package(core) and links the target core.")

# --- vela ----------------------------------------------------------------------
set(CPACK_DEBIAN_VELA_PACKAGE_NAME vela)
set(CPACK_DEBIAN_VELA_PACKAGE_SECTION science)
# Loaded by Qt at run time, so the computed library dependencies miss them:
# the SQLite driver of the settings store and dbupdate; Qt's own
# translations for the standard buttons and dates.
set(CPACK_DEBIAN_VELA_PACKAGE_DEPENDS "${CPACK_DEBIAN_CORELIB_PACKAGE_NAME} (= ${vela_deb_version}), libqt6sql6-sqlite")
set(CPACK_DEBIAN_VELA_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_COMPONENT_VELA_DESCRIPTION
"Driver plug-in and database upgrade tool of the Vela analyzer
The InstrVela driver plug-in places a host application's assays on the
analyzer and reads back clot times and curves; dbupdate upgrades the
databases of an installation. With the English translations.")

# --- vela-standins -----------------------------------------------------------
set(CPACK_DEBIAN_STANDINS_PACKAGE_NAME vela-standins)
set(CPACK_DEBIAN_STANDINS_PACKAGE_SECTION devel)
# qt6-qpa-plugins: the platform plug-ins velahost needs to open a window or run offscreen.
set(CPACK_DEBIAN_STANDINS_PACKAGE_DEPENDS
    "vela (= ${vela_deb_version}), ${CPACK_DEBIAN_CORELIB_PACKAGE_NAME} (= ${vela_deb_version}), qt6-qpa-plugins")
set(CPACK_COMPONENT_STANDINS_DESCRIPTION
"Host program, port helper and simulated analyzer for the Vela driver
Stand-ins for what lies around the driver on a workstation: the host
framework library and the host program velahost, which loads the
plug-in and runs worklists; Linkhub, which owns the analyzer's serial
port; and velasim, a simulated analyzer on a serial line.")

# --- Documents every package carries ------------------------------------------
# The copyright file, and the changelog (a native package's, compressed).
# The changelog's newest entry must be of this version.
set(changelog ${PROJECT_SOURCE_DIR}/cmake/debian/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${changelog})
file(STRINGS ${changelog} newest LIMIT_COUNT 1)
if(NOT newest MATCHES "^vela \\(${vela_deb_version}\\) ")
    message(FATAL_ERROR "cmake/debian/changelog: the newest entry is not of version ${vela_deb_version}: ${newest}")
endif()
execute_process(COMMAND gzip -9nc ${changelog} OUTPUT_FILE ${VELA_DEBIAN_DIR}/changelog.gz
                COMMAND_ERROR_IS_FATAL ANY)
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
    string(TOUPPER ${component} upper)
    set(doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
    install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${VELA_DEBIAN_DIR}/changelog.gz
            DESTINATION ${doc} COMPONENT ${component})
    # A lintian tag that must stay is overridden, with its reason, in
    # cmake/debian/<package>.lintian-overrides.
    set(overrides ${PROJECT_SOURCE_DIR}/cmake/debian/${CPACK_DEBIAN_${upper}_PACKAGE_NAME}.lintian-overrides)
    if(EXISTS ${overrides})
        install(FILES ${overrides} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
                RENAME ${CPACK_DEBIAN_${upper}_PACKAGE_NAME} COMPONENT ${component})
    endif()
endforeach()

include(CPack)
