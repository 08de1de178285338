; Varnitt installer for 64-bit Windows. Built by make-installer.sh, which
; passes DEPLOYDIR, VERSION, VI_VERSION, ICON, OUTFILE, GENDIR and
; ESTIMATED_SIZE_KB, and SIGN (the signing script) when signing is on, and
; generates the file lists in GENDIR.

Unicode true
; A 64-bit stub: the installer needs no 32-bit loader to run.
Target amd64-unicode
SetCompressor /SOLID lzma
; No file times in the installer, so every build of a commit gives the same bytes.
SetDateSave off
; A file that cannot be replaced fails the install instead of leaving the old file beside
; the new ones (and a silent run that says it succeeded).
AllowSkipFiles off
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Varnitt"
; Held by varnitt.exe while it runs (src/main/main.cpp).
!define RUNNING_MUTEX "Global\org.varnitt.Varnitt.running"
!define FIREWALL_RULE "Varnitt"
; Exit code of a silent run that changed nothing because it could not go on.
!define EXIT_ABORTED 2
; The machine PATH. Its value is read and written through the API on buffers of its own
; length: an NSIS string holds NSIS_MAX_STRLEN characters, fewer than many PATHs have.
!define ENV_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
!define HKLM_HANDLE 0x80000002
; KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY
!define ENV_ACCESS 0x103
!define REG_SZ 1
!define REG_EXPAND_SZ 2

Name "Varnitt"
Caption "Varnitt ${VERSION} Setup"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Varnitt"
; An upgrade or reinstall proposes (and, with /S, uses) the folder of the installed Varnitt.
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

!ifdef SIGN
!finalize '"${SIGN}" "%1"' = 0
!uninstfinalize '"${SIGN}" "%1"' = 0
!endif

VIProductVersion "${VI_VERSION}"
VIFileVersion "${VI_VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "Varnitt"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "Varnitt"
VIAddVersionKey /LANG=1033 "FileDescription" "Varnitt Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright 2026 The Varnitt developers"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start Varnitt"
!define MUI_FINISHPAGE_RUN_FUNCTION StartVarnitt

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${DEPLOYDIR}/licenses/Varnitt.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; /LOG=FILE: the lines of the installer's own steps (not every file) are also
; appended to FILE, so that a silent install tells what it did.
Var LogFile

Function Say
    Exch $0
    Push $1
    DetailPrint $0
    ${If} $LogFile != ""
        ClearErrors
        FileOpen $1 $LogFile a
        ${IfNot} ${Errors}
            FileSeek $1 0 END
            FileWrite $1 "$0$\r$\n"
            FileClose $1
        ${EndIf}
    ${EndIf}
    Pop $1
    Pop $0
FunctionEnd
!define Say "!insertmacro Say"
!macro Say TEXT
    Push "${TEXT}"
    Call Say
!macroend

; Waits until Varnitt is closed: interactively the user closes it and chooses Retry;
; Cancel, or a silent run, ends here with EXIT_ABORTED and nothing changed.
!macro WAIT_UNTIL_CLOSED UN
Function ${UN}WaitUntilClosed
    Push $0
    Push $1
    ${Do}
        System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${RUNNING_MUTEX}") p.r0 ?e'
        Pop $1
        ${If} $0 P<> 0
            System::Call 'kernel32::CloseHandle(p r0)'
        ; Access denied: it exists, held by Varnitt in another user's session.
        ${ElseIf} $1 <> 5
            ${Break}
        ${EndIf}
        ${If} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Varnitt is running. Close Varnitt, then choose Retry." /SD IDCANCEL IDCANCEL`
            SetErrorLevel ${EXIT_ABORTED}
            Quit
        ${EndIf}
    ${Loop}
    Pop $1
    Pop $0
FunctionEnd
!macroend
!insertmacro WAIT_UNTIL_CLOSED ""
!insertmacro WAIT_UNTIL_CLOSED "un."

; Sets $1 to the file $0 when $1 is "" and $0 exists but cannot be opened to be written and
; deleted: another program holds it without sharing that (a Varnitt from before the running
; check, a scanner, or a program that opened it with the C library's fopen, which never
; shares deleting). The uninstaller would leave such a file where it is, and the installer
; would stop halfway. Uses $4.
Function CheckInUse
    ${If} $1 == ""
    ${AndIf} ${FileExists} $0
        ; GENERIC_WRITE | DELETE, sharing all of it, OPEN_EXISTING.
        System::Call 'kernel32::CreateFileW(w r0, i 0x40010000, i 7, p 0, i 3, i 0, p 0) p.r4'
        ${If} $4 P= -1
            StrCpy $1 $0
        ${Else}
            System::Call 'kernel32::CloseHandle(p r4)'
        ${EndIf}
    ${EndIf}
FunctionEnd
!macro IF_IN_USE FILE
    StrCpy $0 "${FILE}"
    Call CheckInUse
!macroend

; Sets $1 to the first file of this version that is already in the folder $2 and in use,
; or to "" when there is none. Uses $0 and $4.
Function FirstFileInUse
    StrCpy $1 ""
    !include "${GENDIR}/in-use.nsh"
FunctionEnd

; A longer path, with "\*.*" added, may be cut to fit an NSIS variable.
!define /math LONGEST_PATH ${NSIS_MAX_STRLEN} - 5
; Sets $1 to the first file in use anywhere under the folder $2 (its devlist.json aside,
; which no uninstaller deletes), or to "" when there is none. The installed version may be
; older or newer than this one, and its uninstaller deletes whatever its own list holds:
; the folder holds all of that, so the walk covers any version. A path too long to hold
; counts as in use. Uses $0 and $4 to $7, and the stack for the folders still to walk.
Function FirstFileInUseUnder
    StrCpy $1 ""
    ; No path is empty: "" marks the end of this walk's folders on the stack.
    Push ""
    Push $2
    ${Do}
        Pop $5
        ${If} $5 == ""
            ${Break}
        ${EndIf}
        ; Once a file is found, the rest of the stack is only emptied.
        ${If} $1 == ""
            FindFirst $6 $7 "$5\*"
            ${DoWhile} $7 != ""
                StrCpy $0 "$5\$7"
                StrLen $4 $0
                ${If} $7 == "."
                ${OrIf} $7 == ".."
                ${OrIf} $0 == "$2\devlist.json"
                    ; not a file of the installed version
                ${ElseIf} $4 > ${LONGEST_PATH}
                    StrCpy $1 $0
                    ${Break}
                ${ElseIf} ${FileExists} "$0\*.*"
                    Push $0
                ${Else}
                    Call CheckInUse
                    ${If} $1 != ""
                        ${Break}
                    ${EndIf}
                ${EndIf}
                FindNext $6 $7
            ${Loop}
            FindClose $6
        ${EndIf}
    ${Loop}
FunctionEnd

; Waits until every file can be replaced here, and every file of an installed version can
; be deleted by its uninstaller (which RemoveInstalled runs), before anything changes:
; interactively the user closes what holds it and chooses Retry; Cancel, or a silent run,
; ends with EXIT_ABORTED.
Function WaitUntilReplaceable
    Push $0
    Push $1
    Push $2
    Push $3
    Push $4
    Push $5
    Push $6
    Push $7
    ReadRegStr $3 HKLM "${UNINST_KEY}" "InstallLocation"
    ${Do}
        StrCpy $2 $INSTDIR
        Call FirstFileInUse
        ${If} $1 == ""
        ${AndIf} $3 != ""
        ${AndIf} ${FileExists} "$3\uninstall.exe"
            StrCpy $2 $3
            Call FirstFileInUseUnder
        ${EndIf}
        ${If} $1 == ""
            ${Break}
        ${EndIf}
        ${Say} "$1 is in use by another program and cannot be replaced."
        ${If} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$1 is in use by another program. Close it, then choose Retry." /SD IDCANCEL IDCANCEL`
            ${Say} "Nothing was installed."
            SetErrorLevel ${EXIT_ABORTED}
            Quit
        ${EndIf}
    ${Loop}
    Pop $7
    Pop $6
    Pop $5
    Pop $4
    Pop $3
    Pop $2
    Pop $1
    Pop $0
FunctionEnd

; Pushes 1 when the Windows Firewall service runs: a stopped one (or none, as under
; Wine, whose netsh answers 0 to everything) cannot take a rule.
!macro FIREWALL_RUNNING UN
Function ${UN}FirewallRunning
    Push $0
    Push $1
    Push $2
    Push $3
    StrCpy $3 0
    System::Call 'advapi32::OpenSCManagerW(p 0, p 0, i 1) p.r0'
    ${If} $0 P<> 0
        System::Call 'advapi32::OpenServiceW(p r0, w "MpsSvc", i 4) p.r1'
        ${If} $1 P<> 0
            ; SERVICE_STATUS: the second of its seven DWORDs is the state (4: running).
            System::Call '*(&i28) p.r2'
            System::Call 'advapi32::QueryServiceStatus(p r1, p r2) i.r3'
            ${If} $3 <> 0
                System::Call '*$2(i, i.r3)'
            ${EndIf}
            System::Free $2
            System::Call 'advapi32::CloseServiceHandle(p r1)'
        ${EndIf}
        System::Call 'advapi32::CloseServiceHandle(p r0)'
    ${EndIf}
    ${If} $3 = 4
        StrCpy $0 1
    ${Else}
        StrCpy $0 0
    ${EndIf}
    Pop $3
    Pop $2
    Pop $1
    Exch $0
FunctionEnd
!macroend
!insertmacro FIREWALL_RUNNING ""
!insertmacro FIREWALL_RUNNING "un."

Function .onInit
    SetShellVarContext all
    SetRegView 64
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/LOG=" $LogFile
    ${If} ${Errors}
        StrCpy $LogFile ""
    ${EndIf}
    Call WaitUntilClosed
FunctionEnd

Function un.onInit
    SetShellVarContext all
    SetRegView 64
    Call un.WaitUntilClosed
FunctionEnd

; The installer runs as administrator; started through the shell, Varnitt runs as the user.
Function StartVarnitt
    Exec '"$WINDIR\explorer.exe" "$INSTDIR\varnitt.exe"'
FunctionEnd

; An installed Varnitt is removed by its own uninstaller, in place, before the new
; files go in: files that only it had go, and "Apps and features" keeps one entry.
; The uninstaller keeps devlist.json.
Function RemoveInstalled
    ReadRegStr $0 HKLM "${UNINST_KEY}" "InstallLocation"
    ReadRegStr $1 HKLM "${UNINST_KEY}" "DisplayVersion"
    ${If} $0 == ""
    ${OrIfNot} ${FileExists} "$0\uninstall.exe"
        Return
    ${EndIf}
    ${Say} "Removing Varnitt $1 from $0"
    ClearErrors
    ; _?= runs it where it is, so that ExecWait waits for the uninstalling itself.
    ExecWait '"$0\uninstall.exe" /S _?=$0' $2
    ${If} ${Errors}
    ${OrIf} $2 <> 0
        ${Say} "Varnitt $1 in $0 could not be removed (exit code $2); nothing was installed."
        SetErrorLevel ${EXIT_ABORTED}
        Abort
    ${EndIf}
    ; Run in place, it cannot delete itself.
    Delete "$0\uninstall.exe"
    RMDir "$0"
FunctionEnd

; Inbound UDP to varnitt.exe, and to varnitt-cli.exe, which searches the same way and
; gets the same replies, from any address, on every profile. Not only the local
; subnet: a device with a factory or wrong address answers from another subnet, and
; finding it to set its address is what Varnitt is for; Windows lets such an answer in
; only for 3 s after a multicast, and not at all where that allowance is turned off
; (DisableUnicastResponsesToMulticastBroadcast). A device network without a gateway
; counts as Public, and without a rule the replies are dropped, or a first-run prompt
; dismissed without administrator rights blocks them for good. Each rule names its
; program and UDP only, so while neither runs they let nothing in. Both rules have one
; name, so that one delete by that name removes both.
Function AddFirewallRule
    Call FirewallRunning
    Pop $0
    ${If} $0 <> 1
        ${Say} "Windows Firewall is not running: the firewall rules for varnitt.exe and varnitt-cli.exe were not added."
        Return
    ${EndIf}
    ; A reinstall replaces the rules rather than adding more.
    nsExec::Exec '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="${FIREWALL_RULE}" dir=in'
    Pop $0
    nsExec::Exec '"$SYSDIR\netsh.exe" advfirewall firewall add rule name="${FIREWALL_RULE}" dir=in action=allow program="$INSTDIR\varnitt.exe" protocol=UDP remoteip=any profile=any enable=yes'
    Pop $0
    nsExec::Exec '"$SYSDIR\netsh.exe" advfirewall firewall add rule name="${FIREWALL_RULE}" dir=in action=allow program="$INSTDIR\varnitt-cli.exe" protocol=UDP remoteip=any profile=any enable=yes'
    Pop $1
    ${If} $0 == 0
    ${AndIf} $1 == 0
        ${Say} "Added the Windows Firewall rules ${FIREWALL_RULE}: UDP from any address to varnitt.exe and to varnitt-cli.exe."
    ${Else}
        ${If} $0 != 0
            ${Say} "The Windows Firewall rule for varnitt.exe could not be added (netsh: $0)."
        ${EndIf}
        ${If} $1 != 0
            ${Say} "The Windows Firewall rule for varnitt-cli.exe could not be added (netsh: $1)."
        ${EndIf}
    ${EndIf}
FunctionEnd

; Reads the machine PATH into a zeroed buffer: $0 the open key, $2 the buffer, $3 the
; value's type, $4 its length in characters (a missing value reads as an empty
; REG_EXPAND_SZ). On failure $9 says why, and nothing is left open or allocated.
; Uses $1 and $5 to $7.
!macro PATH_FUNCTIONS UN
Function ${UN}ReadPath
    StrCpy $9 ""
    StrCpy $2 0
    StrCpy $7 "${ENV_KEY}"
    System::Call 'advapi32::RegOpenKeyExW(p ${HKLM_HANDLE}, w r7, i 0, i ${ENV_ACCESS}, *p .r0) i.r1'
    ${If} $1 <> 0
        StrCpy $9 "HKLM\${ENV_KEY} cannot be opened (error $1)"
        Return
    ${EndIf}
    StrCpy $3 0
    StrCpy $5 0
    System::Call 'advapi32::RegQueryValueExW(p r0, w "Path", p 0, *i .r3, p 0, *i .r5) i.r1'
    ${If} $1 = 2
        StrCpy $3 ${REG_EXPAND_SZ}
        StrCpy $5 0
    ${ElseIf} $1 <> 0
        StrCpy $9 "its value Path cannot be read (error $1)"
    ${ElseIf} $3 <> ${REG_SZ}
    ${AndIf} $3 <> ${REG_EXPAND_SZ}
        StrCpy $9 "its value Path has type $3, not a string"
    ${EndIf}
    ${If} $9 == ""
        ; Room for the terminator a stored value may lack.
        IntOp $6 $5 + 4
        System::Call 'kernel32::GlobalAlloc(i 0x40, p r6) p.r2'
        ${If} $2 P= 0
            StrCpy $9 "no memory to read it"
        ${ElseIf} $5 > 0
            System::Call 'advapi32::RegQueryValueExW(p r0, w "Path", p 0, *i .r6, p r2, *i r5 r7) i.r1'
            ${If} $1 <> 0
            ${OrIf} $6 <> $3
                StrCpy $9 "its value Path changed while it was read (error $1)"
            ${EndIf}
        ${EndIf}
    ${EndIf}
    ${If} $9 == ""
        System::Call 'kernel32::lstrlenW(p r2) i.r4'
        ; Anything after a NUL but a terminator or two would be lost on writing it back.
        IntOp $6 $4 + 2
        IntOp $6 $6 * 2
        ${If} $5 > $6
            StrCpy $9 "its value Path holds a NUL before its end"
        ${EndIf}
    ${EndIf}
    ${If} $9 != ""
        ${If} $2 P<> 0
            System::Call 'kernel32::GlobalFree(p r2)'
        ${EndIf}
        System::Call 'advapi32::RegCloseKey(p r0)'
    ${EndIf}
FunctionEnd

; Sets $7 to the index in the PATH read by ReadPath of its first element that is the
; folder $R1, with or without a trailing backslash and in any case, as Windows takes it,
; or to -1; and $8 to that element's length. On failure $9 says why. Uses $5, $6, $R2.
Function ${UN}FindInPath
    StrCpy $7 -1
    ; ";" PATH ";", so that every element, the first and the last too, is ";ELEMENT;".
    IntOp $6 $4 + 3
    IntOp $6 $6 * 2
    System::Call 'kernel32::GlobalAlloc(i 0x40, p r6) p.r5'
    ${If} $5 P= 0
        StrCpy $9 "no memory to search it"
        Return
    ${EndIf}
    System::Call 'kernel32::lstrcpyW(p r5, w ";")'
    System::Call 'kernel32::lstrcatW(p r5, p r2)'
    System::Call 'kernel32::lstrcatW(p r5, w ";")'
    StrCpy $8 $R1
    ${Do}
        StrCpy $R2 ";$8;"
        System::Call 'shlwapi::StrStrIW(p r5, w R2) p.r6'
        ${If} $6 P<> 0
            ; The match's leading ";" stands where the element begins in PATH.
            IntPtrOp $7 $6 - $5
            IntOp $7 $7 / 2
            StrLen $8 $8
            ${Break}
        ${EndIf}
        ${If} $8 != $R1
            ${Break}
        ${EndIf}
        StrCpy $8 "$R1\"
    ${Loop}
    System::Call 'kernel32::GlobalFree(p r5)'
FunctionEnd

; Programs that listen for it (Explorer, and so every Command Prompt started from it)
; take up the new PATH. A hung window is skipped, and none holds the installer long.
Function ${UN}AnnouncePath
    Push $0
    System::Call 'user32::SendMessageTimeoutW(p 0xFFFF, i 0x1A, p 0, w "Environment", i 2, i 5000, *p .r0)'
    Pop $0
FunctionEnd
!macroend
!insertmacro PATH_FUNCTIONS ""
!insertmacro PATH_FUNCTIONS "un."

!macro PUSH_PATH_REGISTERS
    Push $0
    Push $1
    Push $2
    Push $3
    Push $4
    Push $5
    Push $6
    Push $7
    Push $8
    Push $9
    Push $R1
    Push $R2
!macroend
!macro POP_PATH_REGISTERS
    Pop $R2
    Pop $R1
    Pop $9
    Pop $8
    Pop $7
    Pop $6
    Pop $5
    Pop $4
    Pop $3
    Pop $2
    Pop $1
    Pop $0
!macroend

; varnitt-cli.exe runs from any Command Prompt once its folder is on the machine PATH.
; The folder is appended unless it is there already; the uninstall key records that it
; was, so that the uninstaller takes out only what the installer put in. Anything
; unexpected leaves PATH as it is: the install still works, by the program's full path.
Function AddToPath
    !insertmacro PUSH_PATH_REGISTERS
    StrCpy $R1 $INSTDIR
    Call ReadPath
    ${If} $9 == ""
        Call FindInPath
        ${If} $9 == ""
        ${AndIf} $7 < 0
            ; Appended so that the uninstaller, taking out the element and one separator
            ; beside it, gives back the very same value: after a trailing ";" it goes
            ; in as "FOLDER;".
            StrCpy $R2 $R1
            ${If} $4 > 0
                IntOp $6 $4 - 1
                IntOp $6 $6 * 2
                IntPtrOp $6 $2 + $6
                System::Call '*$6(&i2 .r6)'
                ${If} $6 = 59
                    StrCpy $R2 "$R1;"
                ${Else}
                    StrCpy $R2 ";$R1"
                ${EndIf}
            ${EndIf}
            StrLen $6 $R2
            IntOp $6 $6 + $4
            IntOp $6 $6 + 1
            IntOp $6 $6 * 2
            System::Call 'kernel32::GlobalAlloc(i 0x40, p r6) p.r5'
            ${If} $5 P= 0
                StrCpy $9 "no memory to change it"
            ${Else}
                System::Call 'kernel32::lstrcpyW(p r5, p r2)'
                System::Call 'kernel32::lstrcatW(p r5, w R2)'
                System::Call 'advapi32::RegSetValueExW(p r0, w "Path", i 0, i r3, p r5, i r6) i.r1'
                System::Call 'kernel32::GlobalFree(p r5)'
                ${If} $1 <> 0
                    StrCpy $9 "it cannot be written (error $1)"
                ${EndIf}
            ${EndIf}
        ${EndIf}
        System::Call 'kernel32::GlobalFree(p r2)'
        System::Call 'advapi32::RegCloseKey(p r0)'
    ${EndIf}
    ${If} $9 != ""
        ${Say} "The system PATH was left as it was, since $9: start varnitt-cli by its full path, $INSTDIR\varnitt-cli.exe."
    ${ElseIf} $7 >= 0
        ${Say} "$INSTDIR is already on the system PATH."
    ${Else}
        WriteRegStr HKLM "${UNINST_KEY}" "PathEntry" $R1
        ${Say} "Added $INSTDIR to the system PATH."
        Call AnnouncePath
    ${EndIf}
    !insertmacro POP_PATH_REGISTERS
FunctionEnd

; Takes out of PATH the one element the installer added, with one separator beside it,
; and leaves every other character as it is. A folder that was on PATH before, and so
; not recorded, stays.
Function un.RemoveFromPath
    !insertmacro PUSH_PATH_REGISTERS
    ReadRegStr $R1 HKLM "${UNINST_KEY}" "PathEntry"
    ${If} $R1 != ""
        Call un.ReadPath
        ${If} $9 == ""
            Call un.FindInPath
            ${If} $9 == ""
            ${AndIf} $7 >= 0
                ; The separator after it, or for the last element the one before it.
                IntOp $5 $7 + $8
                IntOp $6 $8 + 1
                ${If} $5 >= $4
                    ${If} $7 > 0
                        IntOp $7 $7 - 1
                    ${Else}
                        StrCpy $6 $8
                    ${EndIf}
                ${EndIf}
                ; The rest, its terminator included, moves over it: $7 start, $6 count.
                IntOp $5 $4 - $7
                IntOp $5 $5 - $6
                IntOp $5 $5 + 1
                IntOp $5 $5 * 2
                IntOp $8 $7 + $6
                IntOp $8 $8 * 2
                IntPtrOp $8 $2 + $8
                IntOp $1 $7 * 2
                IntPtrOp $1 $2 + $1
                System::Call 'kernel32::RtlMoveMemory(p r1, p r8, p r5)'
                IntOp $5 $4 - $6
                IntOp $5 $5 + 1
                IntOp $5 $5 * 2
                System::Call 'advapi32::RegSetValueExW(p r0, w "Path", i 0, i r3, p r2, i r5) i.r1'
                ${If} $1 <> 0
                    StrCpy $9 "it cannot be written (error $1)"
                ${EndIf}
            ${EndIf}
            System::Call 'kernel32::GlobalFree(p r2)'
            System::Call 'advapi32::RegCloseKey(p r0)'
        ${EndIf}
        ${If} $9 != ""
            DetailPrint "The system PATH was left as it was, since $9: $R1 may still be on it."
        ${ElseIf} $7 < 0
            DetailPrint "$R1 was no longer on the system PATH."
        ${Else}
            DetailPrint "Removed $R1 from the system PATH."
            Call un.AnnouncePath
        ${EndIf}
    ${EndIf}
    !insertmacro POP_PATH_REGISTERS
FunctionEnd

Section "Varnitt"
    ; It may have been started while the pages were shown.
    Call WaitUntilClosed
    Call WaitUntilReplaceable
    Call RemoveInstalled

    !include "${GENDIR}/install.nsh"
    File "/oname=varnitt.ico" "${ICON}"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    CreateShortcut "$SMPROGRAMS\Varnitt.lnk" "$INSTDIR\varnitt.exe" "" "$INSTDIR\varnitt.ico" 0

    WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "Varnitt"
    WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "Varnitt"
    WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\varnitt.ico"
    WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
    WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" ${ESTIMATED_SIZE_KB}

    Call AddFirewallRule
    Call AddToPath
SectionEnd

; Only what the installer put there: devlist.json is the user's device list and
; stays, and with it the directory.
Section "Uninstall"
    Call un.FirewallRunning
    Pop $0
    ${If} $0 <> 1
        DetailPrint "Windows Firewall is not running: its rules for Varnitt, if any, stay."
    ${Else}
        nsExec::Exec '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="${FIREWALL_RULE}" dir=in'
        Pop $0
        ${If} $0 == 0
            DetailPrint "Removed the Windows Firewall rules ${FIREWALL_RULE}."
        ${Else}
            DetailPrint "No Windows Firewall rule ${FIREWALL_RULE} was removed (netsh: $0)."
        ${EndIf}
    ${EndIf}

    ; Before the uninstall key, which records whether the installer added to PATH, goes.
    Call un.RemoveFromPath

    !include "${GENDIR}/uninstall.nsh"
    Delete "$INSTDIR\varnitt.ico"
    Delete "$SMPROGRAMS\Varnitt.lnk"
    DeleteRegKey HKLM "${UNINST_KEY}"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
SectionEnd
