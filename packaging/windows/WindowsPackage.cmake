# The Windows installer: 64-bit NSIS through CPack, with Korvan's own script
# (NSIS.template.in beside this file): Polish or English pages, the licence page, a
# Start-menu shortcut, an uninstaller and installed-programs entry, the licences of all
# that is shipped, and a firewall rule (on by default) narrowed to the Domain and Private
# networks and to the local subnet or the controller's addresses.

set(CPACK_GENERATOR NSIS)
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_FILE_NAME korvan-setup)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Korvan)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# CPack looks for NSIS.template.in here first.
set(CPACK_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})
set(CPACK_KORVAN_NSIS_DIR ${CMAKE_CURRENT_LIST_DIR})
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_PACKAGE_NAME Korvan)
set(CPACK_NSIS_DISPLAY_NAME "${KORVAN_VERSION_RECORD}")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/src/app/korvan.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/src/app/korvan.ico)

# Licences, in a folder of their own: the project's, and for the MinGW build Debian's
# copyright files of the packages the shipped DLLs come from, with the licence texts those
# files point to under /usr/share/common-licenses.
set(korvan_licences ${PROJECT_BINARY_DIR}/licences)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${korvan_licences}/Korvan.txt COPYONLY)
if(MINGW)
    function(korvan_debian_source package out_name out_version)
        execute_process(
            COMMAND dpkg-query -W "-f=\${source:Package}\n\${source:Version}" ${package}
            OUTPUT_VARIABLE text RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(failed)
            message(FATAL_ERROR "The Windows installer needs Debian's package ${package}")
        endif()
        string(REPLACE "\n" ";" text "${text}")
        list(GET text 0 name)
        list(GET text 1 version)
        set(${out_name} ${name} PARENT_SCOPE)
        set(${out_version} ${version} PARENT_SCOPE)
    endfunction()

    # korvan_licence_text(NAME <file in the licences folder> FROM <the text it copies>)
    function(korvan_licence_text)
        cmake_parse_arguments(L "" "NAME;FROM" "" ${ARGN})
        if(NOT EXISTS ${L_FROM})
            message(FATAL_ERROR "The Windows installer needs the licence text ${L_FROM}")
        endif()
        configure_file(${L_FROM} ${korvan_licences}/${L_NAME} COPYONLY)
    endfunction()

    # build-qt.sh notes the Debian version it built; a Qt built before it did was built
    # from the version of the host's qt6-base-dev, which it asks apt for.
    cmake_path(GET Qt6_DIR PARENT_PATH qt_prefix)
    cmake_path(GET qt_prefix PARENT_PATH qt_prefix)
    cmake_path(GET qt_prefix PARENT_PATH qt_prefix)
    set(QT_DEBIAN_VERSION "")
    if(EXISTS ${qt_prefix}/.korvan-complete)
        file(STRINGS ${qt_prefix}/.korvan-complete line REGEX "^debian_version=")
        string(REPLACE "debian_version=" "" QT_DEBIAN_VERSION "${line}")
    endif()
    if(QT_DEBIAN_VERSION STREQUAL "")
        korvan_debian_source(qt6-base-dev ignored QT_DEBIAN_VERSION)
    endif()
    set(QT_VERSION ${Qt6_VERSION})
    korvan_debian_source(gcc-mingw-w64-x86-64-posix-runtime GCC_SOURCE GCC_VERSION)
    korvan_debian_source(mingw-w64-x86-64-dev MINGW_SOURCE MINGW_VERSION)
    string(REGEX MATCH "^[0-9]+" GCC_UPSTREAM "${CMAKE_CXX_COMPILER_VERSION}")

    korvan_licence_text(NAME Qt.txt FROM /usr/share/doc/libqt6core6/copyright)
    korvan_licence_text(NAME GCC-runtime.txt
        FROM /usr/share/doc/gcc-mingw-w64-x86-64-posix-runtime/copyright)
    korvan_licence_text(NAME MinGW-w64.txt FROM /usr/share/doc/mingw-w64-x86-64-dev/copyright)
    foreach(text LGPL-3 GPL-3 GPL-2 Apache-2.0)
        korvan_licence_text(NAME ${text}.txt FROM /usr/share/common-licenses/${text})
    endforeach()
    # libmosquitto and OpenSSL: their own texts, from the sources build-mosquitto.sh built.
    set(built_licences ${KORVAN_MOSQUITTO_DIR}/licences)
    korvan_licence_text(NAME libmosquitto.txt FROM ${built_licences}/mosquitto-LICENSE.txt)
    korvan_licence_text(NAME EDL-1.0.txt FROM ${built_licences}/mosquitto-edl-v10.txt)
    korvan_licence_text(NAME OpenSSL.txt FROM ${built_licences}/openssl-LICENSE.txt)
    file(STRINGS ${KORVAN_MOSQUITTO_DIR}/.korvan-complete built
        REGEX "^(mosquitto|openssl)(_debian_version)?=")
    foreach(line IN LISTS built)
        string(REGEX MATCH "^([a-z_]+)=(.*)$" ignored "${line}")
        string(TOUPPER "${CMAKE_MATCH_1}" name)
        set(${name} "${CMAKE_MATCH_2}")
    endforeach()
    if(NOT MOSQUITTO_DEBIAN_VERSION OR NOT OPENSSL_DEBIAN_VERSION)
        message(FATAL_ERROR "${KORVAN_MOSQUITTO_DIR}/.korvan-complete names no Debian versions")
    endif()
    configure_file(${PROJECT_SOURCE_DIR}/packaging/licences/README.txt.in
        ${korvan_licences}/README.txt @ONLY)
endif()
install(DIRECTORY ${korvan_licences}/ DESTINATION licences)

if(KORVAN_BUILD_TESTS)
    # The firewall rule the installer composes, row by row (Wine's netsh keeps no rules).
    add_test(NAME windows_firewall_rule
        COMMAND ${PROJECT_SOURCE_DIR}/tools/windows/check-firewall-rule.sh
            ${PROJECT_BINARY_DIR}/firewall-rule)
    set_tests_properties(windows_firewall_rule PROPERTIES LABELS installer TIMEOUT 300)
endif()
