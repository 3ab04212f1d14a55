; The Windows installer: a per-user install (no administrator rights) of the release folder into
; %LOCALAPPDATA%\Programs, a Start menu entry, "Open with" for .html pages, and an uninstaller that
; removes exactly what the installer wrote.
;
; scripts/windows-release.sh passes VERSION, OUTFILE, SOURCE_DIR and LISTS_DIR (the generated lists of
; files to install and to delete, made from the release folder itself).

; A 64-bit installer for a 64-bit program: it runs where the tool runs and sees the 64-bit registry
; and folders without redirection.
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define PRODUCT "Corvan HTML Starter"
!define PUBLISHER "Corvan-Works"
!define EXE "CorvanHTMLStarter.exe"
!define PROGID "CorvanHTMLStarter.html"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\CorvanHTMLStarter"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PUBLISHER}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${SOURCE_DIR}/Resources/CorvanHTMLStarter.ico"
!define MUI_UNICON "${SOURCE_DIR}/Resources/CorvanHTMLStarter.ico"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\${EXE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; A running tool holds its files (and its server the server's): ask the user to close it rather than
; leave a half-replaced or half-removed folder. Silent runs give up with an error instead of asking.
!macro WaitUntilToolClosed UN
Function ${UN}WaitUntilToolClosed
    ${Do}
        FindWindow $0 "" "${PRODUCT}"
        ${If} $0 == 0
            ${Break}
        ${EndIf}
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
            "${PRODUCT} is running. Close it with its small cross, then choose Retry." /SD IDCANCEL IDRETRY +2
        Abort
    ${Loop}
FunctionEnd
!macroend
!insertmacro WaitUntilToolClosed ""
!insertmacro WaitUntilToolClosed "un."

Section "Install"
    Call WaitUntilToolClosed

    ; The folder that holds the install folder may not exist yet (%LOCALAPPDATA%\Programs on a fresh
    ; account): remember it, so the uninstaller removes it again if it is still empty then.
    ${GetParent} "$INSTDIR" $1
    StrCpy $2 ""
    ${IfNot} ${FileExists} "$1\*.*"
        StrCpy $2 $1
    ${EndIf}

    !include "${LISTS_DIR}/install.nsh"
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateShortcut "${SHORTCUT}" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0 SW_SHOWNORMAL "" "Open HTML pages through a local web server"

    ; "Open with" for .html, without taking the default away from the user's browser.
    WriteRegStr HKCU "Software\Classes\${PROGID}" "" "HTML page"
    WriteRegStr HKCU "Software\Classes\${PROGID}\DefaultIcon" "" '"$INSTDIR\${EXE}",0'
    WriteRegStr HKCU "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\${EXE}" "%1"'
    WriteRegStr HKCU "Software\Classes\.html\OpenWithProgids" "${PROGID}" ""
    WriteRegStr HKCU "Software\Classes\Applications\${EXE}" "FriendlyAppName" "${PRODUCT}"
    WriteRegStr HKCU "Software\Classes\Applications\${EXE}\shell\open\command" "" '"$INSTDIR\${EXE}" "%1"'
    WriteRegStr HKCU "Software\Classes\Applications\${EXE}\SupportedTypes" ".html" ""

    ; The entry in Settings > Apps.
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\${EXE}",0'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "CreatedParentFolder" "$2"
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0

    ; Explorer reads associations once; tell it they changed (SHCNE_ASSOCCHANGED).
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd

Section "Uninstall"
    Call un.WaitUntilToolClosed

    ; Only what the installer put there: files the user added to the folder stay, and so does the
    ; folder with them.
    !include "${LISTS_DIR}/uninstall.nsh"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "CreatedParentFolder"
    ${If} $0 != ""
        RMDir "$0"
    ${EndIf}

    Delete "${SHORTCUT}"
    DeleteRegKey HKCU "Software\Classes\${PROGID}"
    DeleteRegValue HKCU "Software\Classes\.html\OpenWithProgids" "${PROGID}"
    DeleteRegKey /ifempty HKCU "Software\Classes\.html\OpenWithProgids"
    DeleteRegKey /ifempty HKCU "Software\Classes\.html"
    DeleteRegKey HKCU "Software\Classes\Applications\${EXE}"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"

    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd
