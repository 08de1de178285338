; Varnitt installer for 64-bit Windows. Built by make-installer.sh, which
; passes DEPLOYDIR, VERSION, VI_VERSION, ICON, OUTFILE, GENDIR and
; ESTIMATED_SIZE_KB, and generates the file lists in GENDIR.

Unicode true
; A 64-bit stub: the installer needs no 32-bit loader to run.
Target amd64-unicode
SetCompressor /SOLID lzma
; No file times in the installer, so every build of a commit gives the same bytes.
SetDateSave off
ManifestDPIAware true

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Varnitt"

Name "Varnitt"
Caption "Varnitt ${VERSION} Setup"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$PROGRAMFILES64\Varnitt"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VI_VERSION}"
VIFileVersion "${VI_VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "Varnitt"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "Varnitt"
VIAddVersionKey /LANG=1033 "FileDescription" "Varnitt Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Varnitt"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
    SetShellVarContext all
    SetRegView 64
FunctionEnd

Function un.onInit
    SetShellVarContext all
    SetRegView 64
FunctionEnd

Section "Varnitt"
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
SectionEnd

; Only what the installer put there: devlist.json is the user's device list and
; stays, and with it the directory.
Section "Uninstall"
    !include "${GENDIR}/uninstall.nsh"
    Delete "$INSTDIR\varnitt.ico"
    Delete "$SMPROGRAMS\Varnitt.lnk"
    DeleteRegKey HKLM "${UNINST_KEY}"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
SectionEnd
