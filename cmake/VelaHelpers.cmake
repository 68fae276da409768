# Qt programs want a private runtime folder and warn on start without one.
set(VELA_RUNTIME_DIR ${CMAKE_BINARY_DIR}/runtime)
file(MAKE_DIRECTORY ${VELA_RUNTIME_DIR})
file(CHMOD ${VELA_RUNTIME_DIR} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

# Slow builds (the sanitizer runs) stretch every test's wait bounds by this
# whole factor: CTest's time-out here, and the waits inside the tests through
# VELA_TEST_TIME_FACTOR (tests/support/testtime.h).
set(VELA_TEST_TIME_FACTOR 1 CACHE STRING "Factor on the tests' time bounds")

# vela_add_test(<name> SOURCES <files...> [LIBS <targets...>] [TIMEOUT <s>] [LABELS <l...>])
#
# One QtTest executable registered with CTest. GUI tests run offscreen; each
# test gets the build's bin folder so it can start the built programs.
function(vela_add_test name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test Qt6::Core testsupport ${T_LIBS})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 180)
    endif()
    math(EXPR T_TIMEOUT "${T_TIMEOUT} * ${VELA_TEST_TIME_FACTOR}")
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VELA_BIN_DIR=${VELA_BIN_DIR};XDG_RUNTIME_DIR=${VELA_RUNTIME_DIR};VELA_TEST_TIME_FACTOR=${VELA_TEST_TIME_FACTOR}")
    if(T_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
    endif()
endfunction()

# Adds every sub-folder of the current folder that has a CMakeLists.txt.
function(vela_add_child_dirs)
    file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
         ${CMAKE_CURRENT_SOURCE_DIR}/*)
    list(SORT children)
    foreach(child ${children})
        if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
           AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
            add_subdirectory(${child})
        endif()
    endforeach()
endfunction()
