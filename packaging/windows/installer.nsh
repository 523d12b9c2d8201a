; The installer's own parts, included by packaging/windows.cmake into CPack's script:
; its version resource and branding, the optional PATH entry of the install folder, and the
; uninstaller's checks around CPack's deletes. Before them, every program of the install
; folder must have ended, so that no delete fails; after them, a file that is still held
; is removed at the next restart and the operator is told so, never a "completed" over
; files left behind.

!include "FileFunc.nsh"

; setup.exe's version resource, as Explorer's Properties and an installer's signer read it.
VIProductVersion "${RELAY_FILE_VERSION}"
VIFileVersion "${RELAY_FILE_VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "Relay panel"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "Relay panel ${VERSION} setup"
VIAddVersionKey /LANG=0 "CompanyName" "The relay panel developers"
VIAddVersionKey /LANG=0 "LegalCopyright" "MIT licence, The relay panel developers"

; The project's own line at the foot of each page, instead of Nullsoft's. (CPack's own
; setting trims the line, which makensis refuses off Windows.)
BrandingText "Relay panel ${VERSION}"

; The install folder itself on PATH, where the options page (or /PATH on the command
; line, for a silent install) asks for it: relayctl.exe lies there, not in a bin folder.
Function relay_add_to_path
  Push $0
  Push $1
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PATH" $1
  IfErrors asked
  StrCpy $DO_NOT_ADD_TO_PATH 0
  StrCpy $ADD_TO_PATH_ALL_USERS 1
  StrCpy $ADD_TO_PATH_CURRENT_USER 0
  ; The uninstaller reads where to take it away from.
  WriteRegStr SHCTX "Software\Microsoft\Windows\CurrentVersion\Uninstall\Relay panel" "DoNotAddToPath" 0
  WriteRegStr SHCTX "Software\Microsoft\Windows\CurrentVersion\Uninstall\Relay panel" "AddToPathAllUsers" 1
  WriteRegStr SHCTX "Software\Microsoft\Windows\CurrentVersion\Uninstall\Relay panel" "AddToPathCurrentUser" 0
asked:
  StrCmp $DO_NOT_ADD_TO_PATH 1 done
  Push $INSTDIR
  Call AddToPath
done:
  Pop $1
  Pop $0
FunctionEnd

Var relay_services_stopped
Var relay_left_behind_checked

; Whether a program or file is in use: Windows refuses to open a running program's
; file for writing (append mode changes nothing). Stack: path -> "1" or "0".
Function un.relay_held
  Exch $0
  Push $1
  ClearErrors
  FileOpen $1 $0 a
  IfErrors held
  FileClose $1
  StrCpy $0 0
  Goto done
held:
  StrCpy $0 1
done:
  Pop $1
  Exch $0
FunctionEnd

; The bridge's services (relayboard-mqtt-LINE) whose program lies in the install folder,
; each given to `verb`: "stop" (its owed pulses end first, as at a shutdown), "start"
; (again, after a cancelled uninstall, those that start with Windows) or "delete".
; Services of another installation are left alone. Stack: verb.
Function un.relay_services
  Exch $6
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  StrLen $3 "$INSTDIR\"
  ; A removed key moves the later ones up: a second pass finds any it made skipped.
  StrCpy $4 1
  StrCmp $6 "delete" 0 pass
  StrCpy $4 2
pass:
  StrCpy $0 0
next:
  EnumRegKey $1 HKLM "SYSTEM\CurrentControlSet\Services" $0
  StrCmp $1 "" passed
  IntOp $0 $0 + 1
  StrCpy $2 $1 16
  StrCmp $2 "relayboard-mqtt-" 0 next
  ReadRegStr $2 HKLM "SYSTEM\CurrentControlSet\Services\$1" "ImagePath"
  StrCpy $5 $2 1
  StrCmp $5 '"' 0 +2
  StrCpy $2 $2 "" 1
  StrCpy $2 $2 $3
  StrCmp $2 "$INSTDIR\" 0 next
  ; (Labels, not relative jumps: a plug-in call is more than one instruction.)
  StrCmp $6 "stop" do_stop
  StrCmp $6 "start" do_start
  StrCmp $6 "delete" do_delete next
do_stop:
  DetailPrint "Stopping the service $1"
  nsExec::ExecToLog '"$SYSDIR\net.exe" stop "$1"'
  Pop $2
  StrCpy $relay_services_stopped 1
  Goto next
do_start:
  ReadRegDWORD $2 HKLM "SYSTEM\CurrentControlSet\Services\$1" "Start"
  IntCmp $2 2 0 next next
  nsExec::ExecToLog '"$SYSDIR\net.exe" start "$1"'
  Pop $2
  Goto next
do_delete:
  DetailPrint "Removing the service $1"
  nsExec::ExecToLog '"$SYSDIR\sc.exe" delete "$1"'
  Pop $2
  Goto next
passed:
  IntOp $4 $4 - 1
  IntCmp $4 0 0 0 pass
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
  Pop $6
FunctionEnd

; Every program of the install folder must have ended: a stopped service's program is
; given 10 seconds; one the operator runs is asked to be closed (Retry looks again).
; Cancel, and a silent uninstall, remove nothing and start the services again.
Function un.relay_close_programs
  Push $0
  Push $1
  Push $2
  Push $3
  StrCpy $3 0
  StrCmp $relay_services_stopped 1 0 look
  StrCpy $3 40
look:
  FindFirst $0 $1 "$INSTDIR\*.exe"
next:
  StrCmp $1 "" closed
  ; The uninstaller itself, when it runs from the folder rather than a copy.
  StrCmp $1 "Uninstall.exe" skip
  Push "$INSTDIR\$1"
  Call un.relay_held
  Pop $2
  StrCmp $2 1 held
skip:
  FindNext $0 $1
  Goto next
held:
  FindClose $0
  IntCmp $3 0 ask ask
  IntOp $3 $3 - 1
  Sleep 250
  Goto look
ask:
  StrCpy $2 $1
  StrCmp $1 "relay_panel.exe" 0 +2
  StrCpy $2 "Relay panel"
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$2 is running. Close it and press Retry, or Cancel." /SD IDCANCEL IDRETRY look
  Push "start"
  Call un.relay_services
  ; The exit status tells a silent uninstall's caller, too.
  SetErrorLevel 2
  Abort "$2 is running: nothing was removed."
closed:
  FindClose $0
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

Function un.relay_before_deletes
  StrCpy $relay_services_stopped 0
  Push "stop"
  Call un.relay_services
  Call un.relay_close_programs
  Push "delete"
  Call un.relay_services
  StrCmp $DO_NOT_ADD_TO_PATH 1 +3
  Push $INSTDIR
  Call un.RemoveFromPath
FunctionEnd

; After the deletes: a file of the folder that something still holds goes at the next
; restart (the finish page then offers it). One the uninstaller cannot even schedule
; for removal ends the uninstall as failed.
Function un.relay_after_deletes
  StrCmp $relay_left_behind_checked 1 0 +2
  Return
  StrCpy $relay_left_behind_checked 1
  Push $0
  Push $1
  Push $2
  FindFirst $0 $1 "$INSTDIR\*.*"
next:
  StrCmp $1 "" done
  StrCmp $1 "." skip
  StrCmp $1 ".." skip
  IfFileExists "$INSTDIR\$1\*.*" skip
  Push "$INSTDIR\$1"
  Call un.relay_held
  Pop $2
  StrCmp $2 1 0 skip
  ClearErrors
  Delete /REBOOTOK "$INSTDIR\$1"
  IfErrors 0 +3
  SetErrorLevel 2
  Abort "$INSTDIR\$1 is in use and could not be removed."
  DetailPrint "$INSTDIR\$1 is in use: it is removed when Windows restarts."
skip:
  FindNext $0 $1
  Goto next
done:
  FindClose $0
  IfRebootFlag 0 told
  RMDir /REBOOTOK "$INSTDIR"
  MessageBox MB_OK|MB_ICONINFORMATION "Some files of Relay panel are in use. They are removed when Windows restarts:$\n$INSTDIR" /SD IDOK
told:
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
