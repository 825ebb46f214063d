# Shared compile settings, carried by interface targets rather than directory-wide flags.

add_library(zentrowe_warnings INTERFACE)
target_compile_options(zentrowe_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    $<$<BOOL:${ZENTROWE_WERROR}>:-Werror>)

add_library(zentrowe_sanitize INTERFACE)
if(ZENTROWE_SANITIZE STREQUAL "thread")
    target_compile_options(zentrowe_sanitize INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(zentrowe_sanitize INTERFACE -fsanitize=thread)
elseif(ZENTROWE_SANITIZE)
    target_compile_options(zentrowe_sanitize INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    # The sanitisers' data leaves millions of relocations in a position-independent program,
    # which the loader applies page by page at every start: the tests start thousands of
    # processes, so their programs are linked at a fixed address.
    target_link_options(zentrowe_sanitize INTERFACE -fsanitize=address,undefined
        $<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:-no-pie>)
endif()

# Windows: 64-bit file offsets in the C library's calls, the wide-character Win32 API, and a
# windows.h that leaves min and max alone.
if(WIN32)
    target_compile_definitions(zentrowe_sanitize INTERFACE
        _FILE_OFFSET_BITS=64 UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
endif()

# zentrowe_add_test(NAME name SOURCES a.cpp b.cpp [LIBS ...] [LABELS ...])
# One GoogleTest executable, its cases registered with CTest one by one.
function(zentrowe_add_test)
    cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${ARG_NAME} ${ARG_SOURCES})
    target_link_libraries(${ARG_NAME} PRIVATE zentrowe_core zentrowe_test_support
        GTest::gtest zentrowe_test_main zentrowe_warnings zentrowe_sanitize ${ARG_LIBS})
    gtest_discover_tests(${ARG_NAME}
        WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
        PROPERTIES LABELS "${ARG_LABELS}"
        DISCOVERY_TIMEOUT 60)
endfunction()

# zentrowe_add_locale_tests(TARGET target LOCALE name FILTER gtest-filter [ENVIRONMENT ...])
# The cases of a test program that FILTER picks, registered once more to run under LOCALE (label
# "locale"): the window runs in the user's locale, and nothing it writes may change with it. The
# program's main sets the locale ZENTROWE_TEST_LOCALE names and fails when it is not installed.
function(zentrowe_add_locale_tests)
    cmake_parse_arguments(ARG "" "TARGET;LOCALE;FILTER" "ENVIRONMENT" ${ARGN})
    gtest_discover_tests(${ARG_TARGET}
        WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
        TEST_PREFIX "${ARG_LOCALE}:"
        TEST_FILTER "${ARG_FILTER}"
        PROPERTIES LABELS locale
            ENVIRONMENT "LC_ALL=${ARG_LOCALE};ZENTROWE_TEST_LOCALE=${ARG_LOCALE};${ARG_ENVIRONMENT}"
        DISCOVERY_TIMEOUT 60)
endfunction()
