; VeltraneSetup.exe: the program, its two libraries, Message.ini and the Veltrane.ini template
; into Program Files (always: no other folder) for every user of the machine, a Start-menu shortcut with the program's
; icon, an uninstaller and its entry in "Programs and Features". /S installs and uninstalls
; without a window.
; Defined by the build: BIN_DIR (the program folder of the build), ICON, OUT_FILE, VERSION.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include LogicLib.nsh

!define PRODUCT "Veltrane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${PRODUCT}"
OutFile "${OUT_FILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1041 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1041 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1041 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1041 "LegalCopyright" "${PRODUCT}"

LoadLanguageFile "${NSISDIR}\Contrib\Language files\Japanese.nlf"

; A running program holds its files open and its settings in memory: neither an install nor an
; uninstall may go on under it. Its single-instance mutex says it runs. Silent runs skip the box
; and end with exit code 2.
!macro RefuseWhileRunning
  System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "Global\Veltrane") p .r0'
  ${If} $0 P<> 0
    System::Call 'kernel32::CloseHandle(p r0)'
    MessageBox MB_OK|MB_ICONSTOP "Veltrane が起動しています。Veltrane を終了してから、もう一度実行してください。" /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
!macroend

Function un.onInit
  !insertmacro RefuseWhileRunning
FunctionEnd

; The program runs as administrator and loads its libraries from its own folder: only a folder
; that only administrators can change will do, so there is no folder to choose.
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  !insertmacro RefuseWhileRunning
  ; Also over /D= on the command line.
  StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
FunctionEnd

Section "Install"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${BIN_DIR}\Veltrane.exe"
  File "${BIN_DIR}\Decode.dll"
  File "${BIN_DIR}\sha512.dll"
  File "${BIN_DIR}\Message.ini"
  ; The user's settings survive a reinstall: the template only goes where there is none.
  SetOverwrite off
  File "${BIN_DIR}\Veltrane.ini"
  SetOverwrite on
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\Veltrane.exe" "" "$INSTDIR\Veltrane.exe" 0

  SetRegView 64
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Veltrane.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  Delete "$INSTDIR\Veltrane.exe"
  Delete "$INSTDIR\Decode.dll"
  Delete "$INSTDIR\sha512.dll"
  Delete "$INSTDIR\Message.ini"
  Delete "$INSTDIR\Veltrane.ini"
  Delete "$INSTDIR\Uninstall.exe"
  ; Not recursive: downloads and logs the user keeps in the folder stay with it.
  RMDir "$INSTDIR"
  SetRegView 64
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
