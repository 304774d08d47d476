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
!include WinVer.nsh
!include x64.nsh

!define PRODUCT "Brindlex"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Brindlex"
; The program holds this mutex for as long as it runs, in its own session's namespace.
!define PROGRAM_MUTEX "{C3A45363-5733-4DA3-B97E-674189E1FA82}"
!define PROGRAM_IMAGE "brindlex.exe"
!define PROFILE_LIST "SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList"
!define CID_CHARACTERS "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-"
!define CID_MAX_LENGTH 64
; How long a silent run waits for a running Brindlex to end, in half seconds.
!define SILENT_WAIT_STEPS 60

; The uninstaller's copy that removes it once it has ended; not for users.
!define CLEANUP_SWITCH "/REMOVEUNINSTALLERAFTER="
!define CLEANUP_WAIT_MS 60000
; The folder that copy runs from: administrators and the system only, nothing inherited.
!define CLEANUP_FOLDER_DACL "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)"

!define EXIT_BAD_COMMAND_LINE 2
!define EXIT_PROGRAM_RUNNING 3
!define EXIT_NEWER_INSTALLED 4
!define EXIT_NOT_ADMINISTRATOR 5
!define EXIT_WRITE_FAILED 6

!define SYNCHRONIZE 0x00100000
!define TOKEN_QUERY 0x0008
!define TOKEN_USER_CLASS 1
!define ERROR_ACCESS_DENIED 5
!define STD_ERROR_HANDLE -12
!define INVALID_HANDLE -1
!define GENERIC_READ 0x80000000
!define FILE_READ_ATTRIBUTES 0x80
!define FILE_SHARE_READ 1
!define FILE_SHARE_READ_WRITE 3
!define FILE_SHARE_ALL 7
!define OPEN_EXISTING 3
!define FILE_FLAG_BACKUP_SEMANTICS 0x02000000
; Folders too, and a junction or link itself rather than where it leads.
!define FILE_FLAGS_IN_PLACE 0x02200000
; DELETE, SYNCHRONIZE, FILE_READ_ATTRIBUTES, FILE_WRITE_ATTRIBUTES
!define DELETE_ACCESS 0x00110180
; SYNCHRONIZE, FILE_READ_ATTRIBUTES
!define HOLD_ACCESS 0x00100080
!define FILE_ATTRIBUTE_READONLY 0x1
!define FILE_ATTRIBUTE_DIRECTORY 0x10
!define FILE_ATTRIBUTE_NORMAL 0x80
!define FILE_ATTRIBUTE_REPARSE_POINT 0x400
!define FILE_BASIC_INFORMATION 4
!define FILE_DISPOSITION_INFORMATION 13
!define TH32CS_SNAPPROCESS 2
!define PROCESSENTRY32W_SIZE 556
!define PROCESS_QUERY_LIMITED_INFORMATION 0x1000
; PROCESS_QUERY_INFORMATION, PROCESS_VM_READ: what Windows XP needs to name a process's file
!define PROCESS_QUERY_AND_READ 0x410
; TOKEN_ADJUST_PRIVILEGES, TOKEN_QUERY
!define TOKEN_ADJUST_AND_QUERY 0x28
!define SE_PRIVILEGE_ENABLED 2
; READ_CONTROL, WRITE_DAC, WRITE_OWNER, SYNCHRONIZE, FILE_READ_ATTRIBUTES
!define SECURITY_ACCESS 0x001E0080
!define SE_FILE_OBJECT 1
; OWNER_SECURITY_INFORMATION, DACL_SECURITY_INFORMATION
!define OWNER_AND_DACL 5
!define PROTECTED_DACL 0x80000000
!define UNPROTECTED_DACL 0x20000000
; The install folder and what it holds: owned by the Administrators, changed only by them
; and SYSTEM, read and run by users.
!define INSTALL_FOLDER_SDDL "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
; The folder the program unpacks its engine into: the Administrators' and SYSTEM's alone.
!define ENGINE_FOLDER_SDDL "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
; READ_CONTROL, DELETE, SYNCHRONIZE, FILE_READ_ATTRIBUTES, FILE_WRITE_ATTRIBUTES
!define CHECK_AND_MOVE_ACCESS 0x00130180
!define FILE_RENAME_INFORMATION 10
!define ACL_SIZE_INFORMATION 2
!define ACCESS_ALLOWED_ACE_TYPE 0
!define ACCESS_ALLOWED_CALLBACK_ACE_TYPE 9
!define WIN_LOCAL_SYSTEM_SID 22
!define WIN_BUILTIN_ADMINISTRATORS_SID 26
; What lets an account change a folder or what it holds: FILE_WRITE_DATA, FILE_APPEND_DATA,
; FILE_DELETE_CHILD, DELETE, WRITE_DAC, WRITE_OWNER, GENERIC_WRITE, GENERIC_ALL.
!define WRITE_RIGHTS 0x500D0046

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
LangString CloseProgram ${LANG_ENGLISH} \
  "Brindlex is running in session $RunningSession (process $RunningProcess). Close it, then click Retry."
LangString CloseProgram ${LANG_SIMPCHINESE} \
  "Brindlex 正在会话 $RunningSession 中运行（进程 $RunningProcess）。请关闭它，然后点击“重试”。"
LangString WaitingForProgram ${LANG_ENGLISH} \
  "Brindlex is running in session $RunningSession (process $RunningProcess); waiting up to 30 seconds for it to end."
LangString WaitingForProgram ${LANG_SIMPCHINESE} \
  "Brindlex 正在会话 $RunningSession 中运行（进程 $RunningProcess），最多等待 30 秒让它结束。"
LangString ProgramStillRunning ${LANG_ENGLISH} "Brindlex is still running. Nothing was changed."
LangString ProgramStillRunning ${LANG_SIMPCHINESE} "Brindlex 仍在运行，未做任何更改。"
LangString NeedAdministrator ${LANG_ENGLISH} "Administrator rights are needed to install or remove Brindlex."
LangString NeedAdministrator ${LANG_SIMPCHINESE} "安装或卸载 Brindlex 需要管理员权限。"
LangString WriteFailed ${LANG_ENGLISH} "Brindlex could not be written completely: $WriteFailure"
LangString WriteFailed ${LANG_SIMPCHINESE} "Brindlex 未能完整写入：$WriteFailure"
LangString EngineFolderLeft ${LANG_ENGLISH} \
  "$EngineFolder was left as it is: it is a link, or could not be made a folder only administrators can change. Brindlex tries again when it starts."
LangString EngineFolderLeft ${LANG_SIMPCHINESE} \
  "$EngineFolder 保持原样：它是链接，或无法改为只有管理员才能更改的文件夹。Brindlex 启动时会再试。"

Var InstalledVersion
Var EarlierLocation
Var Cid
Var CidGiven
Var Purge
Var WriteFailure
Var RunningSession
Var RunningProcess
Var EntryAttributes
Var EntryLinks
Var FinalPathProc
Var ImageNameProc
Var ModuleNameProc
Var InstallOwner
Var InstallDacl
Var EngineFolder
Var OwnUserSid

; Parts shared by setup and uninstaller; "un" is empty or "un.".
!macro SharedFunctions un
  ; Writes the message on the stack to standard error, when the caller gave one.
  Function ${un}TellCaller
    Exch $R0
    Push $R1
    System::Call 'kernel32::GetStdHandle(i ${STD_ERROR_HANDLE}) p .R1'
    ${If} $R1 <> 0
    ${AndIf} $R1 <> ${INVALID_HANDLE}
      FileWrite $R1 "$R0$\r$\n"
    ${EndIf}
    Pop $R1
    Pop $R0
  FunctionEnd

  ; Sets the exit code, says why on standard error (when there is one) and in a box
  ; (unless silent). Stack: message, exit code on top.
  Function ${un}Refuse
    Exch $R0
    Exch
    Exch $R1
    SetErrorLevel $R0
    Push $R1
    Call ${un}TellCaller
    ${IfNot} ${Silent}
      MessageBox MB_OK|MB_ICONSTOP "$R1"
    ${EndIf}
    Pop $R1
    Pop $R0
  FunctionEnd

  ; Calls newer than Windows XP, looked up where they exist; 0 where they do not.
  Function ${un}LookUpNewerCalls
    System::Call 'kernel32::GetModuleHandleW(w "kernel32") p .R0'
    System::Call 'kernel32::GetProcAddress(p R0, m "GetFinalPathNameByHandleW") p .R1'
    StrCpy $FinalPathProc $R1
    System::Call 'kernel32::GetProcAddress(p R0, m "QueryFullProcessImageNameW") p .R1'
    StrCpy $ImageNameProc $R1
    StrCpy $ModuleNameProc 0
    ${If} $ImageNameProc = 0
      ; On XP psapi names a process's file; from the system folder, never from beside us.
      System::Call 'kernel32::LoadLibraryW(w "$SYSDIR\psapi.dll") p .R0'
      ${If} $R0 <> 0
        System::Call 'kernel32::GetProcAddress(p R0, m "GetModuleFileNameExW") p .R1'
        StrCpy $ModuleNameProc $R1
      ${EndIf}
    ${EndIf}
  FunctionEnd

  ; Enables the privilege named on the stack in this process's token, when the account
  ; holds it.
  Function ${un}EnablePrivilege
    Exch $R0
    Push $R1
    Push $R2
    Push $R3
    System::Call 'kernel32::GetCurrentProcess() p .R1'
    System::Call 'advapi32::OpenProcessToken(p R1, i ${TOKEN_ADJUST_AND_QUERY}, *p .R1) i .R2'
    ${If} $R2 <> 0
      ; TOKEN_PRIVILEGES with one privilege, whose LUID follows the count.
      System::Call '*(i 1, i 0, i 0, i ${SE_PRIVILEGE_ENABLED}) p .R2'
      IntPtrOp $R3 $R2 + 4
      System::Call 'advapi32::LookupPrivilegeValueW(p 0, w R0, p R3) i .R3'
      ${If} $R3 <> 0
        System::Call 'advapi32::AdjustTokenPrivileges(p R1, i 0, p R2, i 0, p 0, p 0)'
      ${EndIf}
      System::Free $R2
      System::Call 'kernel32::CloseHandle(p R1)'
    ${EndIf}
    Pop $R3
    Pop $R2
    Pop $R1
    Pop $R0
  FunctionEnd

  ; $R0 = the identity (volume serial number and file index) of the file or folder named
  ; by $R0, whatever the spelling or link it is reached through; "" when it cannot be opened.
  Function ${un}FileIdentity
    Push $R1
    Push $R2
    Push $R3
    Push $R4
    Push $R5
    System::Call 'kernel32::CreateFileW(w R0, i ${FILE_READ_ATTRIBUTES}, i ${FILE_SHARE_ALL}, p 0, \
      i ${OPEN_EXISTING}, i ${FILE_FLAG_BACKUP_SEMANTICS}, p 0) p .R1'
    StrCpy $R0 ""
    ${If} $R1 <> ${INVALID_HANDLE}
      ; BY_HANDLE_FILE_INFORMATION: the serial number is its 8th field, the index its last two.
      System::Call '*(&i52) p .R2'
      System::Call 'kernel32::GetFileInformationByHandle(p R1, p R2) i .R3'
      ${If} $R3 <> 0
        System::Call '*$R2(i, i, i, i, i, i, i, i .R3, i, i, i, i .R4, i .R5)'
        StrCpy $R0 "$R3:$R4:$R5"
      ${EndIf}
      System::Free $R2
      System::Call 'kernel32::CloseHandle(p R1)'
    ${EndIf}
    Pop $R5
    Pop $R4
    Pop $R3
    Pop $R2
    Pop $R1
  FunctionEnd

  ; $R0 = the identity (see FileIdentity) of the program file process $R0 runs; "" when
  ; the process cannot be opened or its file not named.
  Function ${un}ProcessImageIdentity
    Push $R1
    Push $R2
    Push $R3
    System::Call 'kernel32::OpenProcess(i ${PROCESS_QUERY_LIMITED_INFORMATION}, i 0, i R0) p .R1'
    ${If} $R1 = 0
      System::Call 'kernel32::OpenProcess(i ${PROCESS_QUERY_AND_READ}, i 0, i R0) p .R1'
    ${EndIf}
    StrCpy $R0 ""
    ${If} $R1 <> 0
      StrCpy $R3 0
      ${If} $ImageNameProc <> 0
        System::Call '::$ImageNameProc(p R1, i 0, w .R2, *i ${NSIS_MAX_STRLEN}) i .R3'
      ${ElseIf} $ModuleNameProc <> 0
        System::Call '::$ModuleNameProc(p R1, p 0, w .R2, i ${NSIS_MAX_STRLEN}) i .R3'
      ${EndIf}
      System::Call 'kernel32::CloseHandle(p R1)'
      ${If} $R3 <> 0
        ; XP may name the file the NT way, "\??\C:\...".
        StrCpy $R3 $R2 4
        ${IfThen} $R3 == "\??\" ${|} StrCpy $R2 $R2 "" 4 ${|}
        StrCpy $R0 $R2
        Call ${un}FileIdentity
      ${EndIf}
    ${EndIf}
    Pop $R3
    Pop $R2
    Pop $R1
  FunctionEnd

  ; $R0 = 1 when this installation's Brindlex runs in any session: a process whose program
  ; file is the install folder's brindlex.exe (or, for an upgrade into another folder, the
  ; earlier folder's), by identity, not by name: any user may start a program of that name
  ; from a folder of their own. A process this account cannot look into is not counted.
  ; Only when the processes cannot be listed does the program's mutex count, here (it is
  ; only seen in this session), even one this account may not open. $RunningSession and
  ; $RunningProcess then say where; "?" is what could not be found out.
  Function ${un}ProbeProgram
    Push $R1
    Push $R2
    Push $R3
    Push $R4
    Push $R5
    Push $R6
    Push $R7
    StrCpy $RunningSession "?"
    StrCpy $RunningProcess "?"
    StrCpy $R0 "$INSTDIR\${PROGRAM_IMAGE}"
    Call ${un}FileIdentity
    StrCpy $R5 $R0
    StrCpy $R6 ""
    ${If} $EarlierLocation != ""
      StrCpy $R0 "$EarlierLocation\${PROGRAM_IMAGE}"
      Call ${un}FileIdentity
      StrCpy $R6 $R0
    ${EndIf}
    StrCpy $R7 0
    System::Call 'kernel32::CreateToolhelp32Snapshot(i ${TH32CS_SNAPPROCESS}, i 0) p .R1'
    ${If} $R1 <> ${INVALID_HANDLE}
      System::Call '*(i ${PROCESSENTRY32W_SIZE}, &i552) p .R2'
      System::Call 'kernel32::Process32FirstW(p R1, p R2) i .R3'
      ${DoWhile} $R3 <> 0
        System::Call '*$R2(i, i, i .R3, i, i, i, i, i, i, &w260 .R4)'
        ${If} $R4 == "${PROGRAM_IMAGE}"
          StrCpy $R0 $R3
          Call ${un}ProcessImageIdentity
          ${If} $R0 != ""
            ${If} $R0 == $R5
            ${OrIf} $R0 == $R6
              StrCpy $R7 1
            ${EndIf}
          ${EndIf}
        ${EndIf}
        ${If} $R7 = 1
          StrCpy $RunningProcess $R3
          System::Call 'kernel32::ProcessIdToSessionId(i R3, *i .R4) i .R3'
          ${IfThen} $R3 <> 0 ${|} StrCpy $RunningSession $R4 ${|}
          ${ExitDo}
        ${EndIf}
        System::Call 'kernel32::Process32NextW(p R1, p R2) i .R3'
      ${Loop}
      System::Free $R2
      System::Call 'kernel32::CloseHandle(p R1)'
    ${Else}
      System::Call 'kernel32::OpenMutexW(i ${SYNCHRONIZE}, i 0, w "${PROGRAM_MUTEX}") p .R1 ?e'
      Pop $R2
      ${If} $R1 <> 0
        System::Call 'kernel32::CloseHandle(p R1)'
        StrCpy $R7 1
      ${ElseIf} $R2 = ${ERROR_ACCESS_DENIED}
        StrCpy $R7 1
      ${EndIf}
      ${If} $R7 = 1
        System::Call 'kernel32::GetCurrentProcessId() i .R1'
        System::Call 'kernel32::ProcessIdToSessionId(i R1, *i .R2) i .R3'
        ${IfThen} $R3 <> 0 ${|} StrCpy $RunningSession $R2 ${|}
      ${EndIf}
    ${EndIf}
    StrCpy $R0 $R7
    Pop $R7
    Pop $R6
    Pop $R5
    Pop $R4
    Pop $R3
    Pop $R2
    Pop $R1
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
        ${If} $R2 = 0
          Push "$(WaitingForProgram)"
          Call ${un}TellCaller
        ${EndIf}
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

  ; Opens in place the file or folder named on top of the stack, with the access below it:
  ; leaves the handle on the stack, or ${INVALID_HANDLE} when it is a junction or link,
  ; leads anywhere but that very path, or cannot be opened. $EntryAttributes = its
  ; attributes, $EntryLinks its number of names. As the handle does not share deletion,
  ; nobody can rename the entry or put a link in its place while it is open.
  Function ${un}OpenInPlace
    Exch $0
    Exch
    Exch $4
    Push $1
    Push $2
    Push $3
    StrCpy $1 ${INVALID_HANDLE}
    System::Call 'kernel32::GetFileAttributesW(w r0) i .r2'
    IntOp $3 $2 & ${FILE_ATTRIBUTE_REPARSE_POINT}
    ${If} $2 <> -1
    ${AndIf} $3 = 0
      System::Call 'kernel32::CreateFileW(w r0, i r4, i ${FILE_SHARE_READ_WRITE}, p 0, \
        i ${OPEN_EXISTING}, i ${FILE_FLAGS_IN_PLACE}, p 0) p .r1'
    ${EndIf}
    ${If} $1 <> ${INVALID_HANDLE}
      System::Call '*(&i52) p .r2'
      System::Call 'kernel32::GetFileInformationByHandle(p r1, p r2) i .r3'
      System::Call '*$2(i .r4)'
      StrCpy $EntryAttributes $4
      System::Call '*$2(i, i, i, i, i, i, i, i, i, i, i .r4)'
      StrCpy $EntryLinks $4
      System::Free $2
      IntOp $2 $EntryAttributes & ${FILE_ATTRIBUTE_REPARSE_POINT}
      ${If} $3 = 0
      ${OrIf} $2 <> 0
        System::Call 'kernel32::CloseHandle(p r1)'
        StrCpy $1 ${INVALID_HANDLE}
      ${ElseIf} $FinalPathProc <> 0
        ; Where the handle leads, for links the attributes do not show (Wine's symbolic
        ; links look like plain files and folders).
        System::Call '::$FinalPathProc(p r1, w .r2, i ${NSIS_MAX_STRLEN}, i 0) i .r3'
        StrCpy $3 $2 4
        ${If} $3 == "\\?\"
          StrCpy $2 $2 "" 4
          StrCpy $3 $2 4
          ${IfThen} $3 == "UNC\" ${|} StrCpy $2 "\$2" "" 3 ${|}
        ${EndIf}
        ${If} $2 != $0
          System::Call 'kernel32::CloseHandle(p r1)'
          StrCpy $1 ${INVALID_HANDLE}
        ${EndIf}
      ${EndIf}
    ${EndIf}
    StrCpy $0 $1
    Pop $3
    Pop $2
    Pop $1
    Pop $4
    Exch $0
  FunctionEnd

  ; $R0 = the folder for all users (SetShellVarContext all) that the program unpacks its
  ; engine into, its parent spelled as the file system does: OpenInPlace compares the name
  ; with where a handle leads.
  Function ${un}EngineFolder
    Push $R1
    Push $R2
    StrCpy $R0 $APPDATA
    System::Call 'kernel32::GetLongPathNameW(w R0, w .R1, i ${NSIS_MAX_STRLEN}) i .R2'
    ${If} $R2 > 0
    ${AndIf} $R2 < ${NSIS_MAX_STRLEN}
      StrCpy $R0 $R1
    ${EndIf}
    StrCpy $R0 "$R0\${PRODUCT}"
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
  Call LookUpNewerCalls
  Call FindOwnUserSid
  ; To tell whose program a process in another session runs.
  Push "SeDebugPrivilege"
  Call EnablePrivilege
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

; The install folder as the file system spells it: full, without "." or "..", long
; names; unchanged when that cannot be found out.
Function UseCanonicalInstallFolder
  StrCpy $R0 $INSTDIR
  System::Call 'kernel32::GetFullPathNameW(w R0, i ${NSIS_MAX_STRLEN}, w .R1, p 0) i .R2'
  ${If} $R2 > 0
  ${AndIf} $R2 < ${NSIS_MAX_STRLEN}
    System::Call 'kernel32::GetLongPathNameW(w R1, w .R0, i ${NSIS_MAX_STRLEN}) i .R2'
    ${If} $R2 > 0
    ${AndIf} $R2 < ${NSIS_MAX_STRLEN}
      StrCpy $INSTDIR $R0
    ${EndIf}
  ${EndIf}
FunctionEnd

; $R0 = a handle that keeps the file named by $R0 from being deleted or changed while it
; is open, or ${INVALID_HANDLE}.
Function HoldFile
  System::Call 'kernel32::CreateFileW(w R0, i ${GENERIC_READ}, i ${FILE_SHARE_READ}, p 0, \
    i ${OPEN_EXISTING}, i 0, p 0) p .R0'
FunctionEnd

; Gives the entry named on top of the stack the owner $InstallOwner and the access list
; $InstallDacl, protected or added to by what it inherits as the flag below it says; and the
; same to everything in a folder, inheriting. Leaves on the stack the first entry that could
; not be given them, or "". A link or a file with other names is such an entry: its
; security is that of what it leads to or shares, which may lie anywhere.
Function ProtectInPlace
  Exch $0
  Exch
  Exch $1
  Push $2
  Push $3
  Push $4
  Push $5
  StrCpy $5 $0
  ; Held while its content is gone through, so that it cannot be swapped for a link.
  Push ${SECURITY_ACCESS}
  Push $0
  Call OpenInPlace
  Pop $2
  ${If} $2 <> ${INVALID_HANDLE}
    IntOp $3 $EntryAttributes & ${FILE_ATTRIBUTE_DIRECTORY}
    ${If} $3 <> 0
    ${OrIf} $EntryLinks = 1
      IntOp $4 ${OWNER_AND_DACL} | $1
      System::Call 'advapi32::SetSecurityInfo(p r2, i ${SE_FILE_OBJECT}, i r4, p $InstallOwner, \
        p 0, p $InstallDacl, p 0) i .r4'
      ${If} $4 = 0
        StrCpy $5 ""
      ${EndIf}
    ${EndIf}
    ${If} $5 == ""
    ${AndIf} $3 <> 0
      FindFirst $3 $4 "$0\*.*"
      ${DoWhile} $4 != ""
        ${If} $4 != "."
        ${AndIf} $4 != ".."
          Push ${UNPROTECTED_DACL}
          Push "$0\$4"
          Call ProtectInPlace
          Pop $1
          ${IfThen} $5 == "" ${|} StrCpy $5 $1 ${|}
        ${EndIf}
        FindNext $3 $4
      ${Loop}
      FindClose $3
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r2)'
  ${EndIf}
  StrCpy $0 $5
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; The program's DLLs that are not among the system's known ones are looked for beside it
; first, and a developer-tools page beside it switches the engine's tools on: so the install
; folder and all it holds get an access list that lets only SYSTEM and the Administrators
; change them, whoever made the folder /D= names. Ends setup when any of it cannot be given
; that list, a link among them, before the program is written there.
Function ProtectInstallFolder
  StrCpy $R0 $INSTDIR
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW( \
    w "${INSTALL_FOLDER_SDDL}", i 1, *p .R1, p 0) i .R2'
  ${If} $R2 <> 0
    System::Call 'advapi32::GetSecurityDescriptorOwner(p R1, *p .R2, *i .R3) i .R4'
    System::Call 'advapi32::GetSecurityDescriptorDacl(p R1, *i .R3, *p .R5, *i .R3) i .R6'
    ${If} $R4 <> 0
    ${AndIf} $R6 <> 0
      StrCpy $InstallOwner $R2
      StrCpy $InstallDacl $R5
      Push ${PROTECTED_DACL}
      Push $INSTDIR
      Call ProtectInPlace
      Pop $R0
    ${EndIf}
    System::Call 'kernel32::LocalFree(p R1)'
  ${EndIf}
  ClearErrors
  ${If} $R0 != ""
    StrCpy $WriteFailure $R0
    SetErrors
  ${EndIf}
  Call AbortOnWriteError
FunctionEnd

; $R0 = 1 when the SID at the address on the stack is SYSTEM's or the Administrators'.
Function IsSystemOrAdministrators
  Exch $R1
  Push $R2
  Push $R3
  System::Call 'advapi32::IsWellKnownSid(p R1, i ${WIN_LOCAL_SYSTEM_SID}) i .R0'
  System::Call 'advapi32::IsWellKnownSid(p R1, i ${WIN_BUILTIN_ADMINISTRATORS_SID}) i .R2'
  ; The administrator running setup counts as one of them, as the program counts the
  ; account it runs as: a folder either of them made has that account for owner where
  ; the system does not give such folders to the Administrators (Wine does not).
  StrCpy $R3 0
  ${If} $OwnUserSid <> 0
    System::Call 'advapi32::EqualSid(p R1, p $OwnUserSid) i .R3'
  ${EndIf}
  ${If} $R0 <> 0
  ${OrIf} $R2 <> 0
  ${OrIf} $R3 <> 0
    StrCpy $R0 1
  ${Else}
    StrCpy $R0 0
  ${EndIf}
  Pop $R3
  Pop $R2
  Pop $R1
FunctionEnd

; $OwnUserSid = the SID of the account setup runs as (kept for the whole run), or 0.
Function FindOwnUserSid
  StrCpy $OwnUserSid 0
  System::Call 'kernel32::GetCurrentProcess() p .R0'
  System::Call 'advapi32::OpenProcessToken(p R0, i ${TOKEN_QUERY}, *p .R1) i .R2'
  ${IfThen} $R2 = 0 ${|} Return ${|}
  ; TOKEN_USER: a pointer to the SID first, the SID itself after it.
  System::Alloc 256
  Pop $R3
  System::Call 'advapi32::GetTokenInformation(p R1, i ${TOKEN_USER_CLASS}, p R3, i 256, *i .R4) i .R2'
  ${If} $R2 <> 0
    System::Call '*$R3(p .R4)'
    StrCpy $OwnUserSid $R4
  ${Else}
    System::Free $R3
  ${EndIf}
  System::Call 'kernel32::CloseHandle(p R1)'
FunctionEnd

; $R0 = 1 when the entry open as the handle on the stack is owned by SYSTEM or the
; Administrators (or the account setup runs as) and grants nobody else a right to write,
; add, delete, or change its access list or owner: no list at all lets everyone in.
Function AdministratorsOnly
  Exch $R1
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  Push $R6
  Push $R7
  Push $R8
  StrCpy $R0 0
  System::Call 'advapi32::GetSecurityInfo(p R1, i ${SE_FILE_OBJECT}, i ${OWNER_AND_DACL}, \
    *p .R2, p 0, *p .R3, p 0, *p .R4) i .R5'
  ${If} $R5 = 0
    Push $R2
    Call IsSystemOrAdministrators
    ${If} $R0 = 1
    ${AndIf} $R3 = 0
      StrCpy $R0 0
    ${EndIf}
    ${If} $R0 = 1
      ; ACL_SIZE_INFORMATION: the number of entries comes first.
      System::Call '*(i 0, i 0, i 0) p .R5'
      System::Call 'advapi32::GetAclInformation(p R3, p R5, i 12, i ${ACL_SIZE_INFORMATION}) i .R6'
      System::Call '*$R5(i .R7)'
      System::Free $R5
      ${IfThen} $R6 = 0 ${|} StrCpy $R0 0 ${|}
      StrCpy $R6 0
      ${DoWhile} $R6 < $R7
        ${IfThen} $R0 = 0 ${|} ${ExitDo} ${|}
        System::Call 'advapi32::GetAce(p R3, i R6, *p .R5) i .R8'
        ${If} $R8 = 0
          StrCpy $R0 0
        ${Else}
          ; ACE_HEADER (type, flags, size), then the rights, then the SID.
          System::Call '*$R5(&i1 .R8, &i1, &i2, i .R2)'
          IntOp $R2 $R2 & ${WRITE_RIGHTS}
          ${If} $R2 <> 0
            ${If} $R8 = ${ACCESS_ALLOWED_ACE_TYPE}
            ${OrIf} $R8 = ${ACCESS_ALLOWED_CALLBACK_ACE_TYPE}
              IntPtrOp $R5 $R5 + 8
              Push $R5
              Call IsSystemOrAdministrators
            ${EndIf}
          ${EndIf}
        ${EndIf}
        IntOp $R6 $R6 + 1
      ${Loop}
    ${EndIf}
    System::Call 'kernel32::LocalFree(p R4)'
  ${EndIf}
  Pop $R8
  Pop $R7
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
FunctionEnd

; Renames the entry named on top of the stack, open as the handle below it with delete
; access, to a free name beside it ("<name>.moved-<tick>-<n>"), through that handle: the
; entry itself moves, whatever might be put at its name meanwhile. $R0 = 1 when it moved.
Function MoveAside
  Exch $R1
  Exch
  Exch $R2
  Push $R3
  Push $R4
  Push $R5
  Push $R6
  Push $R7
  StrCpy $R0 0
  System::Call 'kernel32::GetTickCount() i .R3'
  IntFmt $R3 "%u" $R3
  ${For} $R4 1 20
    StrCpy $R5 "\??\$R1.moved-$R3-$R4"
    StrLen $R6 $R5
    IntOp $R6 $R6 * 2
    ; FILE_RENAME_INFORMATION: not replacing, no root folder, the name's length in bytes,
    ; the name.
    System::Call '*(i 0, p 0, i R6, &w${NSIS_MAX_STRLEN} R5) p .R7'
    IntOp $R6 $R6 + 12
    System::Call 'ntdll::NtSetInformationFile(p R2, *l 0, p R7, i R6, \
      i ${FILE_RENAME_INFORMATION}) i .R6'
    System::Free $R7
    ${If} $R6 = 0
      StrCpy $R0 1
      ${Break}
    ${EndIf}
  ${Next}
  Pop $R7
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
FunctionEnd

; Makes the folder the program unpacks its engine into, for SYSTEM and the Administrators
; alone. Any user may create entries beside it, so what already stands at its name and is
; not such a folder (a file, a folder others may change) is moved aside first: the entry
; itself, through a handle on it, never what a link leads to. A link, or what cannot be
; opened in place, stays, and setup says so; the program tries again when it starts. A
; folder that already is the Administrators' alone holds an earlier version's engine,
; which the program checks and rewrites itself: it is kept.
Function MakeEngineFolder
  ; So that a planted entry's access list cannot keep setup from reading or moving it.
  Push "SeBackupPrivilege"
  Call EnablePrivilege
  Push "SeRestorePrivilege"
  Call EnablePrivilege
  Call EngineFolder
  StrCpy $EngineFolder $R0
  StrCpy $R6 $R0
  StrCpy $R3 0
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW( \
    w "${ENGINE_FOLDER_SDDL}", i 1, *p .R1, p 0) i .R2'
  ${If} $R2 <> 0
    System::Call '*(i 12, p R1, i 0) p .R2'
    ; Again when something takes the name between the moving aside and the making.
    ${For} $R4 1 3
      ; Fails on a name already taken, by whatever.
      System::Call 'kernel32::CreateDirectoryW(w R6, p R2) i .R5'
      ${If} $R5 <> 0
        StrCpy $R3 1
        ${Break}
      ${EndIf}
      Push ${CHECK_AND_MOVE_ACCESS}
      Push $R6
      Call OpenInPlace
      Pop $R7
      ${IfThen} $R7 = ${INVALID_HANDLE} ${|} ${Break} ${|}
      StrCpy $R0 0
      IntOp $R5 $EntryAttributes & ${FILE_ATTRIBUTE_DIRECTORY}
      ${If} $R5 <> 0
        Push $R7
        Call AdministratorsOnly
      ${EndIf}
      ${If} $R0 = 1
        StrCpy $R3 1
        StrCpy $R0 0
      ${Else}
        Push $R7
        Push $R6
        Call MoveAside
      ${EndIf}
      System::Call 'kernel32::CloseHandle(p R7)'
      ; Kept, or not moved: nothing more to try.
      ${IfThen} $R0 = 0 ${|} ${Break} ${|}
    ${Next}
    System::Free $R2
    System::Call 'kernel32::LocalFree(p R1)'
  ${EndIf}
  ${If} $R3 = 0
    DetailPrint "$(EngineFolderLeft)"
    Push "$(EngineFolderLeft)"
    Call TellCaller
  ${EndIf}
  ClearErrors
FunctionEnd

; An upgrade into another folder takes the earlier copy away. The same folder may be
; spelled otherwise (short names, ".", letter case) or reached through a link, so the
; folders are compared by identity; and the files this run wrote are held open while the
; earlier ones go, so that no spelling can reach them.
Function RemoveEarlierLocation
  ${IfThen} $EarlierLocation == "" ${|} Return ${|}
  StrCpy $R0 $EarlierLocation
  Call FileIdentity
  StrCpy $R6 $R0
  StrCpy $R0 $INSTDIR
  Call FileIdentity
  ; Gone already, the same folder, or not to be told apart: nothing is removed.
  ${If} $R6 == ""
  ${OrIf} $R0 == ""
  ${OrIf} $R6 == $R0
    Return
  ${EndIf}
  StrCpy $R0 "$INSTDIR\brindlex.exe"
  Call HoldFile
  StrCpy $R7 $R0
  StrCpy $R0 "$INSTDIR\uninstall.exe"
  Call HoldFile
  StrCpy $R8 $R0
  ${If} $R7 <> ${INVALID_HANDLE}
  ${AndIf} $R8 <> ${INVALID_HANDLE}
    Delete "$EarlierLocation\brindlex.exe"
    Delete "$EarlierLocation\uninstall.exe"
    RMDir "$EarlierLocation"
  ${EndIf}
  ${If} $R7 <> ${INVALID_HANDLE}
    System::Call 'kernel32::CloseHandle(p R7)'
  ${EndIf}
  ${If} $R8 <> ${INVALID_HANDLE}
    System::Call 'kernel32::CloseHandle(p R8)'
  ${EndIf}
  ClearErrors
FunctionEnd

Section "Brindlex"
  SectionIn RO
  Call WaitForProgramToEnd
  SetShellVarContext all
  SetOverwrite on
  SetOutPath "$INSTDIR"
  ; The entry, the shortcuts and the comparison with an earlier folder use one spelling.
  Call UseCanonicalInstallFolder
  SetOutPath "$INSTDIR"
  Call ProtectInstallFolder
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
  Call MakeEngineFolder
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
  Call un.LookUpNewerCalls
  Push "SeDebugPrivilege"
  Call un.EnablePrivilege
  Push "/PURGE"
  Call un.HasSwitch
  StrCpy $Purge $R0
FunctionEnd

Function un.onUninstFailed
  GetErrorLevel $R0
  ${IfThen} $R0 = -1 ${|} SetErrorLevel ${EXIT_WRITE_FAILED} ${|}
FunctionEnd

; $R0 = a fresh folder under the Windows temporary folder that only administrators and
; the system can change, or "" when none could be made.
Function un.MakeProtectedFolder
  StrCpy $R0 ""
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW( \
    w "${CLEANUP_FOLDER_DACL}", i 1, *p .R1, p 0) i .R2'
  ${IfThen} $R2 = 0 ${|} Return ${|}
  System::Call '*(i 12, p R1, i 0) p .R2'
  System::Call 'kernel32::GetCurrentProcessId() i .R3'
  ${For} $R4 1 20
    System::Call 'kernel32::GetTickCount() i .R5'
    IntFmt $R5 "%u" $R5
    StrCpy $R6 "$WINDIR\Temp\Brindlex-uninstall-$R3-$R5-$R4"
    ; Fails on a name already taken, by whoever made it.
    System::Call 'kernel32::CreateDirectoryW(w R6, p R2) i .R5'
    ${If} $R5 <> 0
      StrCpy $R0 $R6
      ${Break}
    ${EndIf}
  ${Next}
  System::Free $R2
  System::Call 'kernel32::LocalFree(p R1)'
FunctionEnd

; $R0 = 1 when the file open as handle $R1 holds exactly the bytes of this program.
Function un.HoldsThisProgram
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  Push $R6
  StrCpy $R0 0
  StrCpy $R2 $EXEPATH
  System::Call 'kernel32::CreateFileW(w R2, i ${GENERIC_READ}, i ${FILE_SHARE_READ}, p 0, \
    i ${OPEN_EXISTING}, i 0, p 0) p .R2'
  ${If} $R2 <> ${INVALID_HANDLE}
    System::Call 'kernel32::GetFileSize(p R1, p 0) i .R3'
    System::Call 'kernel32::GetFileSize(p R2, p 0) i .R4'
    ${If} $R3 = $R4
    ${AndIf} $R3 > 0
      System::Alloc $R3
      Pop $R4
      System::Alloc $R3
      Pop $R5
      System::Call 'kernel32::ReadFile(p R1, p R4, i R3, *i .R6, p 0) i'
      ${If} $R6 = $R3
        System::Call 'kernel32::ReadFile(p R2, p R5, i R3, *i .R6, p 0) i'
        ${If} $R6 = $R3
          System::Call 'ntdll::RtlCompareMemory(p R4, p R5, i R3) i .R6'
          ${IfThen} $R6 = $R3 ${|} StrCpy $R0 1 ${|}
        ${EndIf}
      ${EndIf}
      System::Free $R4
      System::Free $R5
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p R2)'
  ${EndIf}
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
FunctionEnd

; An uninstaller cannot delete its own running file. A copy of it waits for this process
; to end, then removes the file and the install folder (see un.onInit). The copy runs
; with administrator rights, so it is made in a folder of its own that only
; administrators can change, and started only when it holds this program's bytes, read
; through a handle that keeps it unchanged until it runs. It and its folder go at the
; next restart. Without such a copy the file goes at the next restart.
Function un.RemoveUninstaller
  Delete "$INSTDIR\uninstall.exe"
  ${IfNot} ${FileExists} "$INSTDIR\uninstall.exe"
    Return
  ${EndIf}
  Call un.MakeProtectedFolder
  StrCpy $R7 $R0
  StrCpy $R8 0
  ${If} $R7 != ""
    StrCpy $R0 $EXEPATH
    StrCpy $R2 "$R7\uninstall.exe"
    System::Call 'kernel32::CopyFileW(w R0, w R2, i 1) i .R0'
    ${If} $R0 <> 0
      System::Call 'kernel32::CreateFileW(w R2, i ${GENERIC_READ}, i ${FILE_SHARE_READ}, p 0, \
        i ${OPEN_EXISTING}, i 0, p 0) p .R1'
      ${If} $R1 <> ${INVALID_HANDLE}
        Call un.HoldsThisProgram
        ${If} $R0 = 1
          System::Call 'kernel32::GetCurrentProcessId() i .R0'
          ClearErrors
          Exec '"$R7\uninstall.exe" ${CLEANUP_SWITCH}$R0 _?=$INSTDIR'
          ${IfNot} ${Errors}
            StrCpy $R8 1
          ${EndIf}
        ${EndIf}
        System::Call 'kernel32::CloseHandle(p R1)'
      ${EndIf}
    ${EndIf}
    ${If} $R8 = 0
      Delete "$R7\uninstall.exe"
      RMDir "$R7"
    ${EndIf}
  ${EndIf}
  ${If} $R8 = 0
    Delete /REBOOTOK "$INSTDIR\uninstall.exe"
  ${EndIf}
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
  RMDir /REBOOTOK "$EXEDIR"
  SetRebootFlag false
FunctionEnd

; Removes the file or folder named on the stack, a folder's content first, and never goes
; through a junction or link: those stay where they are, and so do the folders holding them.
Function un.RemoveInPlace
  Exch $0
  Push $1
  Push $2
  Push $3
  ; Held without delete access while its content is listed, as listing a folder open
  ; for deletion fails under Wine.
  Push ${HOLD_ACCESS}
  Push $0
  Call un.OpenInPlace
  Pop $1
  ${If} $1 <> ${INVALID_HANDLE}
    IntOp $2 $EntryAttributes & ${FILE_ATTRIBUTE_DIRECTORY}
    ${If} $2 <> 0
      FindFirst $2 $3 "$0\*.*"
      ${DoWhile} $3 != ""
        ${If} $3 != "."
        ${AndIf} $3 != ".."
          Push "$0\$3"
          Call un.RemoveInPlace
        ${EndIf}
        FindNext $2 $3
      ${Loop}
      FindClose $2
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r1)'
    ; Checked again, as it was out of hand for a moment.
    Push ${DELETE_ACCESS}
    Push $0
    Call un.OpenInPlace
    Pop $1
  ${EndIf}
  ${If} $1 <> ${INVALID_HANDLE}
    IntOp $3 $EntryAttributes & ${FILE_ATTRIBUTE_READONLY}
    ${If} $3 <> 0
      System::Call '*(l 0, l 0, l 0, l 0, i ${FILE_ATTRIBUTE_NORMAL}, i 0) p .r2'
      System::Call 'ntdll::NtSetInformationFile(p r1, *l 0, p r2, i 40, i ${FILE_BASIC_INFORMATION})'
      System::Free $2
    ${EndIf}
    ; Goes once closed; a folder that still holds something stays.
    System::Call 'ntdll::NtSetInformationFile(p r1, *l 0, *i 1, i 1, i ${FILE_DISPOSITION_INFORMATION})'
    System::Call 'kernel32::CloseHandle(p r1)'
  ${EndIf}
  ClearErrors
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; With /PURGE, removes the data folder named on the stack; otherwise the engine the
; program unpacked into it.
Function un.CleanDataFolder
  Exch $0
  Push $1
  Push $2
  ; Spelled as the file system does, to compare it with where it leads.
  System::Call 'kernel32::GetLongPathNameW(w r0, w .r1, i ${NSIS_MAX_STRLEN}) i .r2'
  ${If} $2 > 0
  ${AndIf} $2 < ${NSIS_MAX_STRLEN}
    ${If} $Purge = 1
      Push $1
      Call un.RemoveInPlace
    ${Else}
      Push ${HOLD_ACCESS}
      Push $1
      Call un.OpenInPlace
      Pop $2
      ${If} $2 <> ${INVALID_HANDLE}
        Push "$1\node.dll"
        Call un.RemoveInPlace
        System::Call 'kernel32::CloseHandle(p r2)'
      ${EndIf}
    ${EndIf}
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; Every data folder the program may have made: the current account's, and the one in the
; application data folder of each profile in the registry's profile list (the system's
; accounts among them, for a program started by the system account).
Function un.CleanDataFolders
  SetShellVarContext current
  Push "$APPDATA\${PRODUCT}"
  Call un.CleanDataFolder
  ${If} ${AtLeastWinVista}
    StrCpy $R9 "AppData\Roaming"
  ${Else}
    StrCpy $R9 "Application Data"
  ${EndIf}
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  StrCpy $R8 0
  ${Do}
    EnumRegKey $R7 HKLM "${PROFILE_LIST}" $R8
    ${IfThen} $R7 == "" ${|} ${ExitDo} ${|}
    IntOp $R8 $R8 + 1
    ReadRegStr $R6 HKLM "${PROFILE_LIST}\$R7" "ProfileImagePath"
    ${If} $R6 != ""
      ExpandEnvStrings $R6 $R6
      Push "$R6\$R9\${PRODUCT}"
      Call un.CleanDataFolder
    ${EndIf}
  ${Loop}
  SetRegView 32
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
  ; The unpacked engine always goes, with the folder it is kept in for all users; a link
  ; in its place stays, and what it leads to is not touched.
  Call un.EngineFolder
  Push $R0
  Call un.RemoveInPlace
  ; The users' settings and logs stay unless /PURGE; an engine earlier versions
  ; unpacked there goes too.
  Call un.CleanDataFolders
  Call un.RemoveUninstaller
  RMDir "$INSTDIR"
SectionEnd
