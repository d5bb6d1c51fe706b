# Installation and packages: the binary (installed by src/), the desktop entry and the
# theme icons on Linux, and a Debian package through CPack; the Windows installer is
# described in windows/.

add_subdirectory(tools/icon)

if(UNIX AND NOT APPLE)
    # The icon is the window's own drawing, rendered at build time for each theme size.
    set(korvan_icons ${PROJECT_BINARY_DIR}/icons/hicolor)
    add_custom_command(OUTPUT ${korvan_icons}/256x256/apps/korvan.png
        COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
            $<TARGET_FILE:korvan-icon> --hicolor ${korvan_icons}
        DEPENDS korvan-icon
        COMMENT "Rendering the application icon"
        VERBATIM)
    add_custom_target(korvan-icons ALL DEPENDS ${korvan_icons}/256x256/apps/korvan.png)

    install(FILES ${PROJECT_SOURCE_DIR}/packaging/korvan.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(DIRECTORY ${korvan_icons} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
endif()

set(CPACK_PACKAGE_NAME korvan)
set(CPACK_PACKAGE_VERSION ${KORVAN_VERSION_TEXT})
set(CPACK_PACKAGE_VENDOR "Zespół Korvan")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Operator panel for a network I/O controller")
set(CPACK_PACKAGE_DESCRIPTION
    "Korvan listens on TCP port 6165 for a network I/O controller with 8 digital inputs\n\
and 24 digital outputs, shows the inputs and lets the operator switch each output.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Zespół Korvan")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# Depends come from the binary's own libraries (Qt 6 Widgets, Network, Gui, Core).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The design's font is a Windows one; DejaVu Sans is the stand-in with Polish letters.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-dejavu-core)

if(WIN32)
    include(${CMAKE_CURRENT_LIST_DIR}/windows/WindowsPackage.cmake)
endif()

include(CPack)
