# Install layout (Debian, GNUInstallDirs; the prefix defaults to /usr):
#
#   <libdir>/libvelacore.so.*          core, for host applications to link
#   <includedir>/vela/core/*.h         its public headers
#   <libdir>/cmake/core/               its package config: find_package(core)
#   <libdir>/vela/                     the application folder: velahost, Linkhub,
#                                      velasim, dbupdate, libtqcore, translations
#   <libdir>/vela/instruments/         the driver plug-in
#   <bindir>/<program>                 relative links into the application folder
#   <mandir>/man1/<program>.1.gz       their manual pages
#
# The application folder is an image of the build's bin folder. Programs find
# their neighbours by their own folder (the host runs dbupdate and looks for
# plug-ins below it, the driver starts Linkhub beside it; a link on the PATH
# resolves to the real program first), and libraries by RUNPATHs relative to
# $ORIGIN. So the same files work under /usr, under a DESTDIR, or unpacked
# from the packages into any folder.
#
# Components, one Debian package each (VelaPackaging.cmake): "corelib" the
# core library, "coredev" its headers, development link and package config,
# "vela" the plug-in, dbupdate and the translations, "standins" the host
# framework, host program, Linkhub and the simulator.

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
    set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install prefix" FORCE)
endif()
include(GNUInstallDirs)

set(VELA_INSTALL_APPDIR ${CMAKE_INSTALL_LIBDIR}/vela)
set(VELA_INSTALL_PLUGINDIR ${VELA_INSTALL_APPDIR}/instruments)
set(VELA_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/vela)
set(VELA_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake)

# Manual pages of the commands on the PATH are made from their --help and
# --version by help2man. scripts/sanitize.sh turns them off: the programs of
# its builds are not to run while building. Without help2man the build goes
# on without them (and says so), and makes them once help2man is there.
option(VELA_MAN_PAGES "Make the manual pages of the commands on the PATH (needs help2man)" ON)
find_program(VELA_HELP2MAN help2man)
find_program(VELA_GZIP gzip)
set(VELA_MAKE_MAN_PAGES ${VELA_MAN_PAGES})
if(VELA_MAN_PAGES AND NOT (VELA_HELP2MAN AND VELA_GZIP))
    message(WARNING "help2man not found: the commands get no manual pages (scripts/setup.sh installs it)")
    set(VELA_MAKE_MAN_PAGES OFF)
endif()
set(VELA_MAN_DIR ${CMAKE_BINARY_DIR}/man/man1)
# The pages are dated by the newest changelog entry, not by the day of the
# build, so that the same sources make the same pages.
file(STRINGS ${PROJECT_SOURCE_DIR}/cmake/debian/changelog vela_release_trailer REGEX "^ -- " LIMIT_COUNT 1)
string(REGEX REPLACE "^ -- .*>  " "" vela_release_date "${vela_release_trailer}")
execute_process(COMMAND date -d "${vela_release_date}" +%s OUTPUT_VARIABLE VELA_RELEASE_EPOCH
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

# vela_install(<target> <component> <folder> [ON_PATH SUMMARY <text> [HELP_ON_STDERR]])
#
# Installs a program or library into <folder> (relative to the prefix), with
# a RUNPATH that finds libraries beside it, in the application folder and in
# the library folder. ON_PATH adds a relative link in the bin folder and a
# manual page (vela_add_manpage); such a program gets the project version as
# VELA_VERSION for its --version.
function(vela_install target component folder)
    cmake_parse_arguments(I "ON_PATH;HELP_ON_STDERR" "SUMMARY" "" ${ARGN})
    set(rpath)
    foreach(dir ${folder} ${VELA_INSTALL_APPDIR} ${CMAKE_INSTALL_LIBDIR})
        file(RELATIVE_PATH rel ${CMAKE_INSTALL_PREFIX}/${folder} ${CMAKE_INSTALL_PREFIX}/${dir})
        string(REGEX REPLACE "/$" "" rel "${rel}")
        if(rel STREQUAL "")
            list(APPEND rpath "$ORIGIN")
        else()
            list(APPEND rpath "$ORIGIN/${rel}")
        endif()
    endforeach()
    list(REMOVE_DUPLICATES rpath)
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "${rpath}")
    install(TARGETS ${target}
            RUNTIME DESTINATION ${folder} COMPONENT ${component}
            LIBRARY DESTINATION ${folder} COMPONENT ${component} NAMELINK_SKIP)
    if(I_ON_PATH)
        # A relative link made now and installed as it is, so it points into
        # the same tree wherever that tree is unpacked.
        set(link ${CMAKE_BINARY_DIR}/install-links/${target})
        file(RELATIVE_PATH rel ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${folder}/${target})
        file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install-links)
        file(CREATE_LINK ${rel} ${link} SYMBOLIC)
        install(FILES ${link} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
        target_compile_definitions(${target} PRIVATE VELA_VERSION="${PROJECT_VERSION}")
        set(stderr)
        if(I_HELP_ON_STDERR)
            set(stderr HELP_ON_STDERR)
        endif()
        vela_add_manpage(${target} ${component} "${I_SUMMARY}" ${stderr})
    endif()
endfunction()

# vela_add_manpage(<program> <component> <summary> [HELP_ON_STDERR])
#
# Makes the manual page <program>.1.gz in section 1 while building, from the
# program's --help and --version in English (C locale, VELA_LANG=en), with
# <summary> as its one-line description, and installs it. HELP_ON_STDERR:
# the program prints its usage on standard error.
function(vela_add_manpage target component summary)
    cmake_parse_arguments(M "HELP_ON_STDERR" "" "" ${ARGN})
    if(NOT VELA_MAKE_MAN_PAGES)
        return()
    endif()
    if(summary STREQUAL "")
        message(FATAL_ERROR "vela_add_manpage: ${target} needs a SUMMARY")
    endif()
    set(page ${VELA_MAN_DIR}/${target}.1)
    set(options --no-info --section=1 "--name=${summary}" --output=${page})
    if(M_HELP_ON_STDERR)
        list(APPEND options --no-discard-stderr)
    endif()
    add_custom_command(OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${VELA_MAN_DIR}
        COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C LANG=C LANGUAGE= VELA_LANG=en QT_QPA_PLATFORM=offscreen
                XDG_RUNTIME_DIR=${VELA_RUNTIME_DIR} SOURCE_DATE_EPOCH=${VELA_RELEASE_EPOCH} ${VELA_HELP2MAN} ${options} $<TARGET_FILE:${target}>
        COMMAND ${VELA_GZIP} -9nf ${page}
        DEPENDS ${target}
        COMMENT "Manual page of ${target}"
        VERBATIM)
    add_custom_target(${target}_manpage ALL DEPENDS ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()

# vela_install_package_config(<target> <component> <Qt components...>)
#
# Exports <target> under its own name with a package config of the same
# name, so that a consumer does find_package(<target>) and links <target>.
# The Qt components are those the target links publicly.
function(vela_install_package_config target component)
    include(CMakePackageConfigHelpers)
    set(dir ${VELA_INSTALL_CMAKEDIR}/${target})
    string(REPLACE ";" " " VELA_PACKAGE_QT_COMPONENTS "${ARGN}")
    configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/${target}Config.cmake.in
        ${CMAKE_CURRENT_BINARY_DIR}/${target}Config.cmake INSTALL_DESTINATION ${dir})
    write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/${target}ConfigVersion.cmake
        VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
    install(EXPORT ${target}Targets DESTINATION ${dir} COMPONENT ${component})
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${target}Config.cmake
                  ${CMAKE_CURRENT_BINARY_DIR}/${target}ConfigVersion.cmake
            DESTINATION ${dir} COMPONENT ${component})
endfunction()

# vela_install_translations(<component>)
#
# Installs every .qm file the build left in its bin folder into the same
# place below the application folder, where the programs look for them by
# their own folder. Collected when installing, so translations added by any
# target are taken without a list to keep.
function(vela_install_translations component)
    install(CODE "
        file(GLOB_RECURSE qm_files RELATIVE \"${VELA_BIN_DIR}\" \"${VELA_BIN_DIR}/*.qm\")
        foreach(qm IN LISTS qm_files)
            get_filename_component(sub \"${VELA_INSTALL_APPDIR}/\${qm}\" DIRECTORY)
            file(INSTALL \"${VELA_BIN_DIR}/\${qm}\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/\${sub}\")
        endforeach()" COMPONENT ${component})
endfunction()
