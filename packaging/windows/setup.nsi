; The Windows setup program, built by scripts/windows-installer, which passes:
;   OUTFILE, ICON, LICENCE       the setup program to write, its icon, the text of the licence page
;   VERSION_TEXT, VERSION_WIN    1.01.0132 as the program shows it, 1.1.0.132 as Windows does
;   INSTALL_FILES, REMOVE_FILES  the File and Delete/RMDir lines of the packed folder
; A per-machine install under Program Files, so it asks for elevation. The program itself needs
; nothing from the install: it runs just as well from the unpacked zip.

; A 64-bit setup program for a 64-bit program: it needs no 32-bit Windows layer (WOW64, which
; Debian's wine64 lacks), and Program Files and the registry are the 64-bit ones without
; redirection.
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh

!define APP "ZORV RZT"
!define PUBLISHER "ZORV"
!define EXE "rzt.exe"
!define UNINSTALLER "uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"
; Every running rzt.exe holds this mutex, in any user's session; see MarkProgramRunning.
!define RUNNING_MARK "Global\ZORV-RZT-running"

Name "${APP} ${VERSION_TEXT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${APP}"
BrandingText "${APP} ${VERSION_TEXT}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion ${VERSION_WIN}
VIFileVersion ${VERSION_WIN}
VIAddVersionKey /LANG=0 ProductName "${APP}"
VIAddVersionKey /LANG=0 ProductVersion "${VERSION_TEXT}"
VIAddVersionKey /LANG=0 FileVersion "${VERSION_WIN}"
VIAddVersionKey /LANG=0 CompanyName "${PUBLISHER}"
VIAddVersionKey /LANG=0 FileDescription "${APP} setup"
VIAddVersionKey /LANG=0 LegalCopyright "Copyright (c) 2026 ZORV RZT developers"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_WELCOME
; The licences are notices (the LGPL itself says nobody has to accept it to run the program),
; so the page goes on with Next, not "I Agree".
!define MUI_PAGE_HEADER_TEXT "Licences"
!define MUI_PAGE_HEADER_SUBTEXT "The licences of ZORV RZT and of the libraries that come with it."
!define MUI_LICENSEPAGE_TEXT_TOP "ZORV RZT and the libraries that come with it are free software. Their licences:"
!define MUI_LICENSEPAGE_TEXT_BOTTOM "All licence texts are installed in the licenses folder of the program. Click Next to continue."
!define MUI_LICENSEPAGE_BUTTON "$(^NextBtn)"
!insertmacro MUI_PAGE_LICENSE "${LICENCE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
; The finish page's second check box offers the desktop shortcut (/DESKTOP does it when silent).
!define MUI_FINISHPAGE_SHOWREADME
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Create a shortcut on the desktop"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!define MUI_FINISHPAGE_SHOWREADME_FUNCTION CreateDesktopShortcut
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE English

; A running program's files cannot be replaced or removed, and whatever went before them would be
; gone already (the entry, the shortcuts, the files not in use): look before anything is touched.
; Asks to close it and try again; silent (/S), or given up, ends with ERROR_SHARING_VIOLATION.
; A mutex the running user made may refuse another user's access: that it exists is enough.
!macro StopWhileRunning WHAT
    ${Do}
        System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${RUNNING_MARK}") p .r0 ?e'
        Pop $1
        ${If} $0 P= 0
        ${AndIf} $1 <> 5 ; ERROR_ACCESS_DENIED
            ${Break}
        ${EndIf}
        ${If} $0 P<> 0
            System::Call 'kernel32::CloseHandle(p r0)'
        ${EndIf}
        MessageBox MB_ICONEXCLAMATION|MB_RETRYCANCEL "${APP} is running. Close it, then click Retry to ${WHAT}." /SD IDCANCEL IDRETRY +3
        SetErrorLevel 32
        Quit
    ${Loop}
!macroend

Function .onInit
    ; Without UAC (switched off, or an older policy) RequestExecutionLevel asks nothing: a standard
    ; user would get half an install.
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "admin"
        MessageBox MB_ICONSTOP|MB_OK "Installing ${APP} for all users needs an administrator." /SD IDOK
        SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
        Quit
    ${EndIf}
    !insertmacro StopWhileRunning "go on with the setup"
    ; Over an earlier install the folder stays where it was, unless /D= names another.
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" InstallLocation
    ${If} $0 != ""
    ${AndIf} $INSTDIR == "$PROGRAMFILES64\${APP}"
        StrCpy $INSTDIR $0
    ${EndIf}
FunctionEnd

Function CreateDesktopShortcut
    SetShellVarContext all
    CreateShortcut "$DESKTOP\${APP}.lnk" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0
FunctionEnd

; An earlier version's own uninstaller takes its files away first (waiting for it, in place),
; so that files this version no longer has do not stay behind, and its entry is replaced.
Function RemoveEarlier
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" InstallLocation
    ${If} $0 == ""
    ${OrIfNot} ${FileExists} "$0\${UNINSTALLER}"
        Return
    ${EndIf}
    DetailPrint "Removing the earlier version from $0"
    ExecWait '"$0\${UNINSTALLER}" /S _?=$0' $1
    ${If} $1 != 0
        DetailPrint "The earlier version's uninstaller returned $1"
    ${EndIf}
    Delete "$0\${UNINSTALLER}"
    RMDir "$0"
FunctionEnd

Section
    SetShellVarContext all
    ; The earlier version's uninstaller takes its desktop shortcut away: one the user had stays.
    StrCpy $R9 ""
    ${If} ${FileExists} "$DESKTOP\${APP}.lnk"
        StrCpy $R9 1
    ${EndIf}
    Call RemoveEarlier

    !include "${INSTALL_FILES}"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"

    CreateShortcut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/DESKTOP" $1
    ${IfNot} ${Errors}
    ${OrIf} $R9 == 1
        Call CreateDesktopShortcut
    ${EndIf}

    WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayName "${APP}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayVersion "${VERSION_TEXT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" Publisher "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayIcon "$INSTDIR\${EXE},0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" InstallLocation "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" UninstallString '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" QuietUninstallString '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoModify 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoRepair 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" EstimatedSize $0
SectionEnd

Function un.onInit
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "admin"
        MessageBox MB_ICONSTOP|MB_OK "Removing ${APP} needs an administrator." /SD IDOK
        SetErrorLevel 740
        Quit
    ${EndIf}
    !insertmacro StopWhileRunning "remove it"
FunctionEnd

; Takes away what the setup program made, and nothing else: files the user put in the folder
; stay (and so does the folder then), and so does the program's own setting (the folder of the
; last saved file, "DIR" under Software\ZORV-RZT), as a program's settings outlive it on Windows.
Section Uninstall
    SetShellVarContext all
    !include "${REMOVE_FILES}"
    Delete "$INSTDIR\${UNINSTALLER}"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\${APP}.lnk"
    Delete "$DESKTOP\${APP}.lnk"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
