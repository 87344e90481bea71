# Shared settings and helpers of the build.

# Compile options of every target of ours (not of third-party code).
add_library(keystrip_options INTERFACE)
target_include_directories(keystrip_options INTERFACE "${PROJECT_SOURCE_DIR}")
target_compile_options(keystrip_options INTERFACE -Wall -Wextra)
if(KEYSTRIP_WERROR)
    target_compile_options(keystrip_options INTERFACE -Werror)
endif()
if(WIN32)
    target_compile_definitions(keystrip_options INTERFACE
        UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
    # One self-contained exe: no libgcc, libstdc++ or winpthread DLLs.
    target_link_options(keystrip_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()

# Collects the .cpp files of the given source folders. Files ending in
# Win32.cpp are built for Windows only, files ending in Posix.cpp for the
# native build only; test doubles live in platform/doubles and are not part
# of the core.
function(keystrip_collect_sources out)
    set(_sources)
    foreach(_dir IN LISTS ARGN)
        file(GLOB _found CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${_dir}/*.cpp")
        foreach(_file IN LISTS _found)
            if(_file MATCHES "Win32\\.cpp$" AND NOT WIN32)
                continue()
            endif()
            if(_file MATCHES "Posix\\.cpp$" AND WIN32)
                continue()
            endif()
            list(APPEND _sources "${_file}")
        endforeach()
    endforeach()
    set(${out} ${_sources} PARENT_SCOPE)
endfunction()

# Wine: every Windows test runs through cmake/wine-run.sh with a private
# prefix inside the build tree, created once by the wine-prefix fixture.
set(KEYSTRIP_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
set(KEYSTRIP_WINE_RUN "${PROJECT_SOURCE_DIR}/cmake/wine-run.sh")

function(keystrip_add_wine_test name)
    add_test(NAME ${name} COMMAND "${KEYSTRIP_WINE_RUN}" "${KEYSTRIP_WINEPREFIX}" ${ARGN})
    set_tests_properties(${name} PROPERTIES LABELS wine FIXTURES_REQUIRED wineprefix
        RESOURCE_LOCK wineprefix)
endfunction()
