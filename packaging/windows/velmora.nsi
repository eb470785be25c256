; The per-user installer of both builds: makensis -DSTAGE_X64=FOLDER -DSTAGE_X86=FOLDER
; -DOUTFILE=FILE velmora.nsi, where each FOLDER holds that architecture's velmora.exe,
; velmora-cli.exe, README.txt and velmora.ico. A 64-bit Windows gets the 64-bit programs, any
; other the 32-bit ones; the installer itself is 32-bit, so that it starts on both. No
; administrator: the program goes to %LOCALAPPDATA%\Programs\Velmora, which the user can write,
; and its uninstall entry to HKCU. The uninstaller leaves the user's settings and journal
; (%APPDATA%\velmora, %LOCALAPPDATA%\velmora) where they are.
Target x86-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
!include "MUI2.nsh"
!include "x64.nsh"

!define PRODUCT "Velmora"
!define VERSION "1.1"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmora"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Velmora"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails nevershow
ShowUninstDetails nevershow

!define MUI_ICON "${STAGE_X86}\velmora.ico"
!define MUI_UNICON "${STAGE_X86}\velmora.ico"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\velmora.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

!macro Programs STAGE
  File "${STAGE}\velmora.exe"
  File "${STAGE}\velmora-cli.exe"
  File "${STAGE}\README.txt"
  File "${STAGE}\velmora.ico"
!macroend

; On a 64-bit Windows the uninstall entry goes to the registry's own view, not the 32-bit one
; this installer would see by default.
Function .onInit
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
FunctionEnd

Function un.onInit
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
FunctionEnd

Section "Velmora 程序" SectionProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  ${If} ${RunningX64}
    !insertmacro Programs "${STAGE_X64}"
  ${Else}
    !insertmacro Programs "${STAGE_X86}"
  ${EndIf}
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Velmora.lnk" "$INSTDIR\velmora.exe" "" "$INSTDIR\velmora.ico"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Velmora 开发组"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\velmora.ico"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "桌面快捷方式" SectionDesktop
  CreateShortcut "$DESKTOP\Velmora.lnk" "$INSTDIR\velmora.exe" "" "$INSTDIR\velmora.ico"
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SectionProgram} "Velmora 窗口程序、命令行程序 velmora-cli.exe 和说明。"
  !insertmacro MUI_DESCRIPTION_TEXT ${SectionDesktop} "在桌面上放一个 Velmora 的快捷方式。"
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Section "Uninstall"
  ; The folder goes last: once it is gone, so is everything else.
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  Delete "$SMPROGRAMS\Velmora.lnk"
  Delete "$DESKTOP\Velmora.lnk"
  Delete "$INSTDIR\velmora.exe"
  Delete "$INSTDIR\velmora-cli.exe"
  ; The skin engine library, which the program writes beside itself at every start.
  Delete "$INSTDIR\hrttp.dll"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\velmora.ico"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
