# The Windows installer: 64-bit NSIS through CPack. Start-menu shortcut, uninstaller and
# installed-programs entry, and an option (on by default) that lets controllers reach the
# panel through the Windows firewall.

install(PROGRAMS ${CMAKE_CURRENT_LIST_DIR}/allow-tcp-6165.cmd
    DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT firewall)

set(CPACK_GENERATOR NSIS)
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_FILE_NAME korvan-setup)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Korvan)
set(CPACK_PACKAGE_EXECUTABLES korvan Korvan)
if(EXISTS ${PROJECT_SOURCE_DIR}/LICENSE)
    set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
else()
    set(CPACK_NSIS_IGNORE_LICENSE_PAGE ON)
endif()

# The stub CPack uses by default is 32-bit and installs nothing on a 64-bit-only system.
# CPack 3.25 replaces CPACK_NSIS_DEFINES and splits makensis arguments at blanks, so the
# target rides on the compressor line, which comes before anything is compressed.
set(CPACK_NSIS_COMPRESSOR "lzma\n  Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_PACKAGE_NAME Korvan)
set(CPACK_NSIS_DISPLAY_NAME "${KORVAN_VERSION_RECORD}")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/src/app/korvan.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/src/app/korvan.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME "bin\\korvan.exe")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)

set(CPACK_COMPONENTS_ALL Unspecified firewall)
set(CPACK_COMPONENT_UNSPECIFIED_DISPLAY_NAME "Korvan")
set(CPACK_COMPONENT_UNSPECIFIED_DESCRIPTION "Panel operatora i symulator sterownika.")
set(CPACK_COMPONENT_UNSPECIFIED_REQUIRED ON)
set(CPACK_COMPONENT_FIREWALL_DISPLAY_NAME "Zapora systemu Windows: port TCP 6165")
set(CPACK_COMPONENT_FIREWALL_DESCRIPTION
    "Zezwala sterownikowi na połączenie z panelem (ruch przychodzący TCP 6165 do korvan.exe).")

# The firewall section runs before the core section's closing commands, so its script is
# in place when they look for it.
set(korvan_rule "Korvan (TCP 6165)")
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS
    "IfFileExists '$INSTDIR\\bin\\allow-tcp-6165.cmd' 0 +2
  nsExec::ExecToLog '\"$SYSDIR\\cmd.exe\" /c \"$INSTDIR\\bin\\allow-tcp-6165.cmd\"'")
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS
    "nsExec::ExecToLog '\"$SYSDIR\\netsh.exe\" advfirewall firewall delete rule name=\"${korvan_rule}\"'")
