# Read by cpack before it makes the packages (CPACK_PROJECT_CONFIG_FILE).
#
# The dependencies of the runtime library's package: CPack's own computation
# is off for it (VelaPackaging.cmake), so dpkg-shlibdeps is run here on the
# built library, the same way CPack runs it for the other packages.
if(CPACK_GENERATOR STREQUAL "DEB")
    set(work ${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/shlibdeps-corelib)
    file(REMOVE_RECURSE ${work})
    file(MAKE_DIRECTORY ${work}/debian)
    file(WRITE ${work}/debian/control "")
    execute_process(COMMAND dpkg-shlibdeps -O ${CPACK_VELA_CORE_LIBRARY}
                    WORKING_DIRECTORY ${work}
                    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    file(REMOVE_RECURSE ${work})
    if(NOT status EQUAL 0 OR NOT output MATCHES "^shlibs:Depends=(.+)$")
        message(FATAL_ERROR "dpkg-shlibdeps on ${CPACK_VELA_CORE_LIBRARY} failed: ${errors}")
    endif()
    set(CPACK_DEBIAN_CORELIB_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
endif()
