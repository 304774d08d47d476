; The setup program: installs brindlex.exe for every user of the machine, writes the
; program's uninstall entry (32-bit registry view) and the uninstaller.
;
; Built by CMake (installer/installer.cmake) with these definitions:
;   SETTINGS    a file that defines VERSION (a.b.c.d), PUBLISHER and ICON
;   PROGRAM     the program file to install as brindlex.exe
;   OUTFILE     the setup program to write
;   SIGN_SCRIPT optional: a command that signs the file named by its argument in place
;
; Switches: /S (silent), /CID=<id>, /ALLOWDOWNGRADE, /D=<folder> (last); the
; uninstaller takes /S and /PURGE. Exit codes are the EXIT_* values below.

!include "${SETTINGS}"

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS all

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh

!define PRODUCT "Brindlex"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Brindlex"
; The program holds this mutex for as long as it runs.
!define PROGRAM_MUTEX "{C3A45363-5733-4DA3-B97E-674189E1FA82}"
!define CID_CHARACTERS "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-"
!define CID_MAX_LENGTH 64
; How long a silent run waits for a running Brindlex to end, in half seconds.
!define SILENT_WAIT_STEPS 60

; The uninstaller's copy that removes it once it has ended; not for users.
!define CLEANUP_SWITCH "/REMOVEUNINSTALLERAFTER="
!define CLEANUP_WAIT_MS 60000

!define EXIT_BAD_COMMAND_LINE 2
!define EXIT_PROGRAM_RUNNING 3
!define EXIT_NEWER_INSTALLED 4
!define EXIT_NOT_ADMINISTRATOR 5
!define EXIT_WRITE_FAILED 6

!define SYNCHRONIZE 0x00100000
!define ERROR_ACCESS_DENIED 5
!define STD_ERROR_HANDLE -12

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

!ifdef SIGN_SCRIPT
  ; The uninstaller is signed before it is packed, the setup program once written.
  !uninstfinalize '"${SIGN_SCRIPT}" "%1"' = 0
  !finalize '"${SIGN_SCRIPT}" "%1"' = 0
!endif

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\brindlex.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"

LangString BadCid ${LANG_ENGLISH} \
  "The /CID value must be 1 to ${CID_MAX_LENGTH} characters, each a letter, a digit, '.', '_' or '-'."
LangString BadCid ${LANG_SIMPCHINESE} \
  "/CID 的值必须为 1 到 ${CID_MAX_LENGTH} 个字符，每个字符只能是字母、数字、“.”、“_”或“-”。"
LangString NewerInstalled ${LANG_ENGLISH} \
  "Brindlex $InstalledVersion is installed, which is newer than this setup's ${VERSION}. Run setup with /ALLOWDOWNGRADE to install the older version."
LangString NewerInstalled ${LANG_SIMPCHINESE} \
  "已安装的 Brindlex $InstalledVersion 比本安装程序的 ${VERSION} 更新。如需安装旧版本，请加上 /ALLOWDOWNGRADE 运行。"
LangString CloseProgram ${LANG_ENGLISH} "Brindlex is running. Close it, then click Retry."
LangString CloseProgram ${LANG_SIMPCHINESE} "Brindlex 正在运行。请关闭它，然后点击“重试”。"
LangString ProgramStillRunning ${LANG_ENGLISH} "Brindlex is still running. Nothing was changed."
LangString ProgramStillRunning ${LANG_SIMPCHINESE} "Brindlex 仍在运行，未做任何更改。"
LangString NeedAdministrator ${LANG_ENGLISH} "Administrator rights are needed to install or remove Brindlex."
LangString NeedAdministrator ${LANG_SIMPCHINESE} "安装或卸载 Brindlex 需要管理员权限。"
LangString WriteFailed ${LANG_ENGLISH} "Brindlex could not be written completely: $WriteFailure"
LangString WriteFailed ${LANG_SIMPCHINESE} "Brindlex 未能完整写入：$WriteFailure"

Var InstalledVersion
Var EarlierLocation
Var Cid
Var CidGiven
Var Purge
Var WriteFailure

; Parts shared by setup and uninstaller; "un" is empty or "un.".
!macro SharedFunctions un
  ; Sets the exit code, says why on standard error (when there is one) and in a box
  ; (unless silent). Stack: message, exit code on top.
  Function ${un}Refuse
    Exch $R0
    Exch
    Exch $R1
    SetErrorLevel $R0
    System::Call 'kernel32::GetStdHandle(i ${STD_ERROR_HANDLE}) p .R0'
    ${If} $R0 <> 0
    ${AndIf} $R0 <> -1
      FileWrite $R0 "$R1$\r$\n"
    ${EndIf}
    ${IfNot} ${Silent}
      MessageBox MB_OK|MB_ICONSTOP "$R1"
    ${EndIf}
    Pop $R1
    Pop $R0
  FunctionEnd

  ; $R0 = 1 when Brindlex runs: its mutex exists, even one this account may not open.
  Function ${un}ProbeProgram
    System::Call 'kernel32::OpenMutexW(i ${SYNCHRONIZE}, i 0, w "${PROGRAM_MUTEX}") p .R0 ?e'
    Pop $R1
    ${If} $R0 <> 0
      System::Call 'kernel32::CloseHandle(p R0)'
      StrCpy $R0 1
    ${ElseIf} $R1 = ${ERROR_ACCESS_DENIED}
      StrCpy $R0 1
    ${Else}
      StrCpy $R0 0
    ${EndIf}
  FunctionEnd

  ; Returns once Brindlex is not running. A silent run waits for it to end; otherwise
  ; the user is asked to close it. Aborts with EXIT_PROGRAM_RUNNING when it stays.
  Function ${un}WaitForProgramToEnd
    StrCpy $R2 0
    ${Do}
      Call ${un}ProbeProgram
      ${IfThen} $R0 = 0 ${|} Return ${|}
      ${If} ${Silent}
        ${IfThen} $R2 >= ${SILENT_WAIT_STEPS} ${|} ${ExitDo} ${|}
        Sleep 500
        IntOp $R2 $R2 + 1
      ${Else}
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(CloseProgram)" IDRETRY retry
        ${ExitDo}
        retry:
      ${EndIf}
    ${Loop}
    Push "$(ProgramStillRunning)"
    Push ${EXIT_PROGRAM_RUNNING}
    Call ${un}Refuse
    Abort "$(ProgramStillRunning)"
  FunctionEnd

  Function ${un}RequireAdministrator
    UserInfo::GetAccountType
    Pop $R0
    ${If} $R0 != "Admin"
      Push "$(NeedAdministrator)"
      Push ${EXIT_NOT_ADMINISTRATOR}
      Call ${un}Refuse
      Quit
    ${EndIf}
  FunctionEnd

  ; Aborts with EXIT_WRITE_FAILED when the error flag is set; $WriteFailure names the step.
  Function ${un}AbortOnWriteError
    ${If} ${Errors}
      Push "$(WriteFailed)"
      Push ${EXIT_WRITE_FAILED}
      Call ${un}Refuse
      Abort "$(WriteFailed)"
    ${EndIf}
  FunctionEnd

  ; Looks for the first command-line argument, split as Windows splits command lines,
  ; that starts with the text on the stack (any letter case). $R0 = the rest of it;
  ; the error flag is set when there is none.
  Function ${un}FindArgument
    Exch $R1
    Push $R2
    Push $R3
    Push $R4
    Push $R5
    Push $R6
    Push $R7
    StrLen $R2 $R1
    StrCpy $R6 0
    System::Call 'kernel32::GetCommandLineW() p .R3'
    System::Call 'shell32::CommandLineToArgvW(p R3, *i .R4) p .R3'
    ${If} $R3 <> 0
      IntOp $R4 $R4 - 1
      ${For} $R5 1 $R4
        IntOp $R0 $R5 * 4
        IntPtrOp $R0 $R3 + $R0
        System::Call '*$R0(p .R0)'
        System::Call 'kernel32::lstrcpynW(w .R0, p R0, i ${NSIS_MAX_STRLEN})'
        StrCpy $R7 $R0 $R2
        ${If} $R7 == $R1
          StrCpy $R0 $R0 "" $R2
          StrCpy $R6 1
          ${Break}
        ${EndIf}
      ${Next}
      System::Call 'kernel32::LocalFree(p R3)'
    ${EndIf}
    ClearErrors
    ${If} $R6 = 0
      StrCpy $R0 ""
      SetErrors
    ${EndIf}
    Pop $R7
    Pop $R6
    Pop $R5
    Pop $R4
    Pop $R3
    Pop $R2
    Pop $R1
  FunctionEnd

  ; $R0 = 1 when the switch on the stack is an argument of its own (any letter case).
  Function ${un}HasSwitch
    Call ${un}FindArgument
    ${If} ${Errors}
    ${OrIf} $R0 != ""
      StrCpy $R0 0
    ${Else}
      StrCpy $R0 1
    ${EndIf}
  FunctionEnd
!macroend
!insertmacro SharedFunctions ""
!insertmacro SharedFunctions "un."

; /CID=<id>: $CidGiven = 1 and $Cid set when present; a malformed one ends setup here.
Function ReadCid
  Push "/CID="
  Call FindArgument
  StrCpy $Cid $R0
  ${If} ${Errors}
    StrCpy $CidGiven 0
    Return
  ${EndIf}
  StrCpy $CidGiven 1
  StrLen $R1 $Cid
  ; The value goes by register, so that quotes in it cannot upset the call's syntax.
  StrCpy $R0 $Cid
  System::Call 'shlwapi::StrSpnW(w R0, w "${CID_CHARACTERS}") i .R2'
  ${If} $R1 < 1
  ${OrIf} $R1 > ${CID_MAX_LENGTH}
  ${OrIf} $R2 <> $R1
    Push "$(BadCid)"
    Push ${EXIT_BAD_COMMAND_LINE}
    Call Refuse
    Quit
  ${EndIf}
FunctionEnd

; A newer Brindlex stays unless /ALLOWDOWNGRADE is given.
Function RefuseDowngrade
  ReadRegStr $InstalledVersion HKLM "${UNINSTALL_KEY}" "DisplayVersion"
  ${IfThen} $InstalledVersion == "" ${|} Return ${|}
  ${VersionCompare} $InstalledVersion "${VERSION}" $R0
  ${If} $R0 = 1
    Push "/ALLOWDOWNGRADE"
    Call HasSwitch
    ${If} $R0 = 0
      Push "$(NewerInstalled)"
      Push ${EXIT_NEWER_INSTALLED}
      Call Refuse
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

Function .onInit
  SetRegView 32
  Call RequireAdministrator
  Call ReadCid
  Call RefuseDowngrade
  ReadRegStr $EarlierLocation HKLM "${UNINSTALL_KEY}" "InstallLocation"
FunctionEnd

; Anything that stopped the installation without its own exit code is a write failure.
Function .onInstFailed
  GetErrorLevel $R0
  ${IfThen} $R0 = -1 ${|} SetErrorLevel ${EXIT_WRITE_FAILED} ${|}
FunctionEnd

Function WriteUninstallEntry
  StrCpy $WriteFailure "HKLM\${UNINSTALL_KEY}"
  ClearErrors
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\brindlex.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  ; Run in place (_?=) so that callers wait for it and get its exit code.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" _?=$INSTDIR'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" \
    '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
  ${GetSize} "$INSTDIR" "/S=0K /G=0" $R0 $R1 $R2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $R0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; Without /CID an upgrade keeps the cid it had.
  ${If} $CidGiven = 1
    WriteRegStr HKLM "${UNINSTALL_KEY}" "cid" $Cid
  ${EndIf}
  Call AbortOnWriteError
FunctionEnd

; An upgrade into another folder takes the earlier copy away.
Function RemoveEarlierLocation
  ${If} $EarlierLocation == ""
  ${OrIf} $EarlierLocation == $INSTDIR
    Return
  ${EndIf}
  Delete "$EarlierLocation\brindlex.exe"
  Delete "$EarlierLocation\uninstall.exe"
  RMDir "$EarlierLocation"
FunctionEnd

Section "Brindlex"
  SectionIn RO
  Call WaitForProgramToEnd
  SetShellVarContext all
  SetOverwrite on
  SetOutPath "$INSTDIR"
  File "/oname=brindlex.exe" "${PROGRAM}"
  StrCpy $WriteFailure "$INSTDIR\uninstall.exe"
  ClearErrors
  WriteUninstaller "$INSTDIR\uninstall.exe"
  Call AbortOnWriteError
  StrCpy $WriteFailure "$SMPROGRAMS\${PRODUCT}.lnk, $DESKTOP\${PRODUCT}.lnk"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\brindlex.exe"
  CreateShortcut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\brindlex.exe"
  Call AbortOnWriteError
  Call WriteUninstallEntry
  Call RemoveEarlierLocation
SectionEnd

Function un.onInit
  Push "${CLEANUP_SWITCH}"
  Call un.FindArgument
  ${IfNot} ${Errors}
    Call un.CleanUpAfterUninstaller
    Quit
  ${EndIf}
  SetRegView 32
  Call un.RequireAdministrator
  Push "/PURGE"
  Call un.HasSwitch
  StrCpy $Purge $R0
FunctionEnd

Function un.onUninstFailed
  GetErrorLevel $R0
  ${IfThen} $R0 = -1 ${|} SetErrorLevel ${EXIT_WRITE_FAILED} ${|}
FunctionEnd

; An uninstaller cannot delete its own running file. A copy of it in the temporary
; folder waits for this process to end, then removes the file and the install folder
; (see un.onInit); the copy itself goes at the next restart, as the system empties
; the temporary folder.
Function un.RemoveUninstaller
  Delete "$INSTDIR\uninstall.exe"
  ${IfNot} ${FileExists} "$INSTDIR\uninstall.exe"
    Return
  ${EndIf}
  GetTempFileName $R0
  Delete $R0
  StrCpy $R0 "$R0.exe"
  ClearErrors
  CopyFiles /SILENT "$EXEPATH" $R0
  ${If} ${Errors}
    Delete /REBOOTOK "$INSTDIR\uninstall.exe"
    Return
  ${EndIf}
  System::Call 'kernel32::GetCurrentProcessId() i .R1'
  Exec '"$R0" ${CLEANUP_SWITCH}$R1 _?=$INSTDIR'
FunctionEnd

; Started by un.RemoveUninstaller with the id of the uninstaller process it waits for.
Function un.CleanUpAfterUninstaller
  System::Call 'kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i R0) p .R1'
  ${If} $R1 <> 0
    System::Call 'kernel32::WaitForSingleObject(p R1, i ${CLEANUP_WAIT_MS})'
    System::Call 'kernel32::CloseHandle(p R1)'
  ${EndIf}
  Delete /REBOOTOK "$INSTDIR\uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"
  Delete /REBOOTOK "$EXEPATH"
  SetRebootFlag false
FunctionEnd

Section "Uninstall"
  Call un.WaitForProgramToEnd
  SetShellVarContext all
  StrCpy $WriteFailure "$INSTDIR\brindlex.exe"
  Delete "$INSTDIR\brindlex.exe"
  ClearErrors
  ${IfThen} ${FileExists} "$INSTDIR\brindlex.exe" ${|} SetErrors ${|}
  Call un.AbortOnWriteError
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$DESKTOP\${PRODUCT}.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; The unpacked engine always goes, with the folder it is kept in for all users.
  Delete "$APPDATA\${PRODUCT}\node.dll"
  RMDir "$APPDATA\${PRODUCT}"
  ; The user's settings and logs stay unless /PURGE; an engine earlier versions
  ; unpacked there goes too.
  SetShellVarContext current
  ${If} $Purge = 1
    RMDir /r "$APPDATA\${PRODUCT}"
  ${Else}
    Delete "$APPDATA\${PRODUCT}\node.dll"
  ${EndIf}
  Call un.RemoveUninstaller
  RMDir "$INSTDIR"
SectionEnd
