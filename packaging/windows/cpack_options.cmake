# Read by cpack for each package it makes (CPACK_PROJECT_CONFIG_FILE).
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
  # The finish page's "Run Relay panel" hands the panel to Explorer, the desktop
  # user's own shell, instead of starting it itself: the installer runs with
  # administrator rights, perhaps those of another account (a user who typed an
  # administrator's password), and a panel it started would have them too, and that
  # account's %APPDATA%. Explorer started by the installer passes the file to the
  # running shell and ends, so the panel starts as a start from the Start menu does.
  # (Set here, read by cpack as it is: NSIS's $ and \ need no escaping for CMake.)
  string(APPEND CPACK_NSIS_DEFINES "\n" [=[
  !define MUI_FINISHPAGE_RUN "$WINDIR\explorer.exe"
  !define MUI_FINISHPAGE_RUN_PARAMETERS "$\"$INSTDIR\relay_panel.exe$\""]=])
  # The installer's own parts (packaging/windows/installer.nsh), and the four-part
  # version its version resource needs.
  string(REGEX MATCHALL "[0-9]+" relay_version_parts "${CPACK_PACKAGE_VERSION}.0.0.0")
  list(SUBLIST relay_version_parts 0 4 relay_version_parts)
  list(JOIN relay_version_parts . relay_file_version)
  string(APPEND CPACK_NSIS_DEFINES "\n" "!define RELAY_FILE_VERSION \"${relay_file_version}\""
         "\n" "!include \"${CPACK_RELAY_NSIS_INCLUDE}\"")
endif()
