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

    !include "${GENDIR}/uninstall.nsh"
    Delete "$INSTDIR\varnitt.ico"
    Delete "$SMPROGRAMS\Varnitt.lnk"
    DeleteRegKey HKLM "${UNINST_KEY}"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
SectionEnd
