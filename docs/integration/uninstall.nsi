; An application's installer, as far as the watchdog goes: the watchdog and its uninstall program
; beside the application, and an uninstaller that puts back a desktop a crashed run left broken
; before it removes them. Build: makensis -DFILES=<folder of the built files> uninstall.nsi
!include LogicLib.nsh

Unicode true
Name "Example App"
OutFile "example-app-setup.exe"
InstallDir "$LOCALAPPDATA\Programs\ExampleApp"
RequestExecutionLevel user

Section
  SetOutPath "$INSTDIR"
  ; File "${FILES}\example-app.exe" and the rest of the application, then:
  File "${FILES}\system-state-watchdog.exe"
  File "${FILES}\system-state-watchdog-uninstall.exe"
  WriteUninstaller "$INSTDIR\uninstall.exe"
SectionEnd

Section "Uninstall"
  ; Where the application keeps its marker (the examples: %LOCALAPPDATA%\ExampleApp).
  ReadEnvStr $1 LOCALAPPDATA
  StrCpy $1 "$1\ExampleApp"
  ; End the application first: its clean end stands its watcher down.
  ExecWait '"$INSTDIR\system-state-watchdog-uninstall.exe" "$1\desktop-recovery.json"' $0
  ${If} $0 == 4
    MessageBox MB_OK|MB_ICONSTOP "Close Example App, then uninstall it again." /SD IDOK
    Abort
  ${ElseIf} $0 == 5
    MessageBox MB_YESNO|MB_ICONQUESTION "The taskbar or the desktop icons could not be put \
        back (see $1\logs). Forget what the application recorded?" /SD IDNO IDNO kept
    ExecWait '"$INSTDIR\system-state-watchdog-uninstall.exe" --discard "$1\desktop-recovery.json"'
  kept:
  ${EndIf}
  RMDir /r "$1\logs"
  RMDir "$1"
  Delete "$INSTDIR\system-state-watchdog.exe"
  Delete "$INSTDIR\system-state-watchdog-uninstall.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
