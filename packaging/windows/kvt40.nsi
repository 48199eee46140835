; The KVT40 service tool's installer for 64-bit Windows, made by scripts/package-windows.sh:
;   makensis -DVERSION=1.2.3 -DFILES=files.nsh -DREMOVE=remove.nsh -DICON=kvt40.ico -DOUTFILE=setup.exe kvt40.nsi
; FILES installs the gathered folder, REMOVE deletes exactly those files again.
; kvt40ctl.exe is reachable from a console through the system PATH, which gets the install
; folder (and loses it on uninstall); App Paths entries let Run and `start` find both programs.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include LogicLib.nsh
!include WinMessages.nsh
!include StrFunc.nsh
${StrStr}
${UnStrRep}

!define PRODUCT "KVT40 Service Tool"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define APP_PATHS "Software\Microsoft\Windows\CurrentVersion\App Paths"
!define ENV_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
!define OWN_KEY "Software\${PRODUCT}"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${OWN_KEY}" "InstallDir"
ShowInstDetails show
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "LegalCopyright" "KVT40 service tool developers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; A running program keeps its .exe open: the setup could not replace it, so it stops before
; touching anything, with the exit code of a setup aborted by its script (2).
!macro RefuseWhileRunning EXE
  ${If} ${FileExists} "$INSTDIR\${EXE}"
    ClearErrors
    FileOpen $0 "$INSTDIR\${EXE}" a
    ${If} ${Errors}
      MessageBox MB_OK|MB_ICONSTOP "${EXE} is running. Close it, then run the setup again." /SD IDOK
      SetErrorLevel 2
      Abort "${EXE} is running: nothing was installed."
    ${EndIf}
    FileClose $0
  ${EndIf}
!macroend

Section "Install"
  SetShellVarContext all
  !insertmacro RefuseWhileRunning kvt40.exe
  !insertmacro RefuseWhileRunning kvt40ctl.exe
  !include "${FILES}"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\kvt40.exe" "" "$INSTDIR\kvt40.exe" 0

  WriteRegStr HKLM "${OWN_KEY}" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\kvt40.exe,0"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  WriteRegStr HKLM "${APP_PATHS}\kvt40.exe" "" "$INSTDIR\kvt40.exe"
  WriteRegStr HKLM "${APP_PATHS}\kvt40ctl.exe" "" "$INSTDIR\kvt40ctl.exe"

  ; The PATH is read whole or not touched: a longer one than NSIS can hold would be cut short.
  ReadRegStr $0 HKLM "${ENV_KEY}" "Path"
  StrLen $1 $0
  ${If} $1 >= 1000
    DetailPrint "The PATH is too long to change here: kvt40ctl.exe is found through App Paths only."
  ${Else}
    ${StrStr} $2 ";$0;" ";$INSTDIR;"
    ${If} $2 == ""
      ${If} $0 == ""
        StrCpy $0 "$INSTDIR"
      ${Else}
        StrCpy $0 "$0;$INSTDIR"
      ${EndIf}
      WriteRegExpandStr HKLM "${ENV_KEY}" "Path" $0
      WriteRegDWORD HKLM "${OWN_KEY}" "AddedToPath" 1
      SendMessage ${HWND_BROADCAST} ${WM_WININICHANGE} 0 "STR:Environment" /TIMEOUT=5000
      DetailPrint "Added $INSTDIR to the PATH."
    ${EndIf}
  ${EndIf}
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  ReadRegDWORD $3 HKLM "${OWN_KEY}" "AddedToPath"
  ${If} $3 == 1
    ReadRegStr $0 HKLM "${ENV_KEY}" "Path"
    StrLen $1 $0
    ${If} $1 < 1000
      ${UnStrRep} $0 ";$0;" ";$INSTDIR;" ";"
      StrCpy $1 $0 1
      ${If} $1 == ";"
        StrCpy $0 $0 "" 1
      ${EndIf}
      StrCpy $1 $0 "" -1
      ${If} $1 == ";"
        StrCpy $0 $0 -1
      ${EndIf}
      WriteRegExpandStr HKLM "${ENV_KEY}" "Path" $0
      SendMessage ${HWND_BROADCAST} ${WM_WININICHANGE} 0 "STR:Environment" /TIMEOUT=5000
    ${EndIf}
  ${EndIf}
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  !include "${REMOVE}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINST_KEY}"
  DeleteRegKey HKLM "${APP_PATHS}\kvt40.exe"
  DeleteRegKey HKLM "${APP_PATHS}\kvt40ctl.exe"
  DeleteRegKey HKLM "${OWN_KEY}"
SectionEnd
