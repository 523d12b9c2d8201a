# The Windows packages: `cpack` in build-win/ (scripts/package-windows) makes
#   packages/relay-panel-<version>-win64.zip        unpack anywhere and run (portable)
#   packages/relay-panel-<version>-win64-setup.exe  installs under Program Files\Relay panel
# of relay_panel.exe, relayctl.exe and relayboard-mqtt.exe side by side, with README.txt, LICENSE.txt and
# OpenSSL-LICENSE.txt.

# Both programs in the package's top folder: relayctl.exe finds the panel's name file
# beside itself, as the panel does.
install(TARGETS relay_panel relayctl relayboard-mqtt RUNTIME DESTINATION .)

# The texts with Windows line ends, which every Windows editor shows as lines.
function(_relay_windows_text source target)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(READ ${source} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${target} "${text}")
endfunction()
set(relay_windows_texts ${CMAKE_BINARY_DIR}/packaging/windows)
_relay_windows_text(${CMAKE_SOURCE_DIR}/packaging/windows/README.txt
                    ${relay_windows_texts}/README.txt)
_relay_windows_text(${CMAKE_SOURCE_DIR}/LICENSE ${relay_windows_texts}/LICENSE.txt)
# OpenSSL's, with Windows line ends too (cmake/openssl_windows.cmake): it is built in.
install(FILES ${relay_windows_texts}/README.txt ${relay_windows_texts}/LICENSE.txt
        ${relay_openssl_licence} DESTINATION .)

set(CPACK_PACKAGE_NAME relay-panel)
set(CPACK_PACKAGE_VENDOR "The relay panel developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Control panel for a 16-relay board on a serial port")
set(CPACK_PACKAGE_FILE_NAME relay-panel-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Relay panel")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Relay panel")
set(CPACK_RESOURCE_FILE_LICENSE ${relay_windows_texts}/LICENSE.txt)
set(CPACK_RESOURCE_FILE_README ${relay_windows_texts}/README.txt)
# The Start menu's entries: the panel, under its own name, and the README. The options
# page's desktop icon is the panel's.
set(CPACK_PACKAGE_EXECUTABLES "relay_panel;Relay panel")
set(CPACK_NSIS_MENU_LINKS "README.txt" "Relay panel README")
set(CPACK_CREATE_DESKTOP_LINKS relay_panel)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR "ZIP;NSIS")

# The installer: 64-bit programs under Program Files, with the licence to accept, the
# Start menu entry, an entry in Apps & features, and an uninstaller. An older version
# is removed first.
set(relay_icon ${CMAKE_SOURCE_DIR}/packaging/windows/relay_panel.ico)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
# A 64-bit installer for 64-bit programs: it writes the 64-bit registry and folders
# without redirection, and runs where no 32-bit layer is installed. The finish page's
# "Run Relay panel" is set in cpack_options.cmake.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
# The installer's own parts (packaging/windows/installer.nsh): setup.exe's version
# resource and the project's line at the foot of each page; relayctl.exe's folder on PATH when the options page or /PATH asks (CPack's
# own entry would be a bin folder, which this package has not); the uninstaller stops
# the bridge's services of this folder and has the running programs closed before it
# deletes, and schedules what is still held for the next restart after: it never reports
# success over files left behind.
# (Its !include is added in cpack_options.cmake, which cpack reads as it is written.)
set(CPACK_RELAY_NSIS_INCLUDE ${CMAKE_SOURCE_DIR}/packaging/windows/installer.nsh)
set(CPACK_NSIS_MODIFY_PATH ON)
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "Call relay_add_to_path")
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "Call un.relay_before_deletes")
set(CPACK_NSIS_DELETE_ICONS_EXTRA "Call un.relay_after_deletes")
set(CPACK_NSIS_PACKAGE_NAME "Relay panel")
set(CPACK_NSIS_DISPLAY_NAME "Relay panel ${PROJECT_VERSION}")
set(CPACK_NSIS_MUI_ICON ${relay_icon})
set(CPACK_NSIS_MUI_UNIICON ${relay_icon})
set(CPACK_NSIS_INSTALLED_ICON_NAME relay_panel.exe)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
set(CPACK_NSIS_UNINSTALL_NAME Uninstall)
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
# The installer's file is named for what it is: ...-win64-setup.exe.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/packaging/windows/cpack_options.cmake)

# The package needs only the two programs: cpack does not build the tests first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

include(CPack)
