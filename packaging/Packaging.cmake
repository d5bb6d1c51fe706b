# Installation and packages: the binaries (installed by src/ and tools/sim), the desktop
# entry, the theme icons and the manual pages on Linux, and a Debian package through CPack;
# the Windows installer is described in windows/.

set(KORVAN_MAINTAINER "Zespół Korvan <korvan@example.org>")

if(UNIX AND NOT APPLE)
    # The icon is the window's own drawing, rendered at build time for each theme size.
    set(korvan_icons ${PROJECT_BINARY_DIR}/icons/hicolor)
    add_custom_command(OUTPUT ${korvan_icons}/256x256/apps/korvan.png
        COMMAND ${CMAKE_COMMAND} -E env ${KORVAN_OFFSCREEN_ENV} ASAN_OPTIONS=detect_leaks=0
            $<TARGET_FILE:korvan-icon> --hicolor ${korvan_icons}
        DEPENDS korvan-icon
        COMMENT "Rendering the application icon"
        VERBATIM)
    add_custom_target(korvan-icons ALL DEPENDS ${korvan_icons}/256x256/apps/korvan.png)

    install(FILES ${PROJECT_SOURCE_DIR}/packaging/korvan.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(DIRECTORY ${korvan_icons} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

    # Manual pages, compressed as Debian installs them.
    find_program(KORVAN_GZIP gzip REQUIRED)
    set(korvan_man_pages)
    foreach(page korvan.1 korvan-sim.1)
        set(compressed ${PROJECT_BINARY_DIR}/man/${page}.gz)
        add_custom_command(OUTPUT ${compressed}
            COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/man/${page}
                ${PROJECT_BINARY_DIR}/man/${page}
            COMMAND ${KORVAN_GZIP} -9nf ${PROJECT_BINARY_DIR}/man/${page}
            DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/${page}
            VERBATIM)
        list(APPEND korvan_man_pages ${compressed})
    endforeach()
    add_custom_target(korvan-man-pages ALL DEPENDS ${korvan_man_pages})
    install(FILES ${korvan_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

    # The licence as Debian's machine-readable copyright file: each line indented, blank
    # lines as " .".
    file(READ ${PROJECT_SOURCE_DIR}/LICENSE KORVAN_LICENSE_PARAGRAPH)
    string(STRIP "${KORVAN_LICENSE_PARAGRAPH}" KORVAN_LICENSE_PARAGRAPH)
    string(REPLACE "\n\n" "\n.\n" KORVAN_LICENSE_PARAGRAPH "${KORVAN_LICENSE_PARAGRAPH}")
    string(REPLACE "\n" "\n " KORVAN_LICENSE_PARAGRAPH " ${KORVAN_LICENSE_PARAGRAPH}")
    configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in
        ${PROJECT_BINARY_DIR}/doc/copyright @ONLY)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in
        ${PROJECT_BINARY_DIR}/doc/changelog @ONLY)
    set(korvan_changelog ${PROJECT_BINARY_DIR}/doc/compressed/changelog)
    add_custom_command(OUTPUT ${korvan_changelog}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_BINARY_DIR}/doc/changelog
            ${korvan_changelog}
        COMMAND ${KORVAN_GZIP} -9nf ${korvan_changelog}
        DEPENDS ${PROJECT_BINARY_DIR}/doc/changelog
        VERBATIM)
    add_custom_target(korvan-changelog ALL DEPENDS ${korvan_changelog}.gz)
    install(FILES ${PROJECT_BINARY_DIR}/doc/copyright ${korvan_changelog}.gz
        ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/korvan)
endif()

set(CPACK_PACKAGE_NAME korvan)
set(CPACK_PACKAGE_VERSION ${KORVAN_VERSION_TEXT})
set(CPACK_PACKAGE_VENDOR "Zespół Korvan")
set(CPACK_PACKAGE_CONTACT ${KORVAN_MAINTAINER})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "operator panel for a network I/O controller")
set(CPACK_PACKAGE_DESCRIPTION
    "Korvan listens on TCP port 6165 for a network I/O controller with 8 digital\n\
inputs and 24 digital outputs, shows the inputs and lets the operator switch\n\
each output. The package also holds korvan-sim, which plays the controller\n\
for commissioning without hardware.")
set(CPACK_STRIP_FILES ON)
if(NOT WIN32)
    # The Debian package installs under /usr; the Windows installer into its own folder.
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KORVAN_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# Depends come from the binary's own libraries (Qt 6 Widgets, Network, Gui, Core).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The design's font is a Windows one; DejaVu Sans is the stand-in with Polish letters.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-dejavu-core)

if(WIN32)
    include(${CMAKE_CURRENT_LIST_DIR}/windows/WindowsPackage.cmake)
endif()

include(CPack)
