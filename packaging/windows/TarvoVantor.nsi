; The Windows installer of Tarvo Vantor (makensis, run by ./run package-windows
; through the Windows build's target package-windows).
;
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.0.0 -DSTAGE=<folder with the files> \
;            -DOUTFILE=<setup.exe> TarvoVantor.nsi
;
; The programs go to Program Files; the data folder %ProgramData%\TarvoVantor,
; where the installed gateway (desktop and service alike) keeps vantor.INI and
; the accounting file, gets the language files, the help pages and the
; commented sample configuration (as vantor.INI unless it has one already).
; The uninstaller stops and removes the service when it was installed,
; removes the programs, its own files in the data folder and the menu
; entries, and leaves the data folder with the settings and the accounting
; records, which are the site's.  /S installs and uninstalls silently.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include LogicLib.nsh
!include x64.nsh

!define PRODUCT "Tarvo Vantor"
!define SERVICE "TarvoVantor"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TarvoVantor"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Tarvo"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetRegView 64
  ; Start-menu entries and the data folder for every user of the machine.
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Tarvo Vantor"
  SetOutPath "$INSTDIR"
  File "${STAGE}\vantor.exe"
  File "${STAGE}\vantor-client.exe"

  ; The data folder: the language files and the help pages (this version's,
  ; replaced by an update), and the sample configuration only when the site
  ; has no configuration yet: an update never touches the site's settings.
  SetOutPath "$APPDATA\TarvoVantor"
  File "${STAGE}\TVantor.Cz"
  File "${STAGE}\TVantor.De"
  File "${STAGE}\TVantor.Eng"
  File "${STAGE}\TVantor.Spa"
  File "${STAGE}\VANTOR.Cz.html"
  File "${STAGE}\VANTOR.Eng.html"
  File "${STAGE}\vantor.INI.sample"
  ${IfNot} ${FileExists} "$APPDATA\TarvoVantor\vantor.INI"
    CopyFiles /SILENT "$APPDATA\TarvoVantor\vantor.INI.sample" "$APPDATA\TarvoVantor\vantor.INI"
  ${EndIf}
  SetOutPath "$INSTDIR"

  ; The entries name the data folder: an administrator may write the
  ; program's folder and would otherwise get that one as the gateway's.
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\vantor.exe" \
    '--home "$APPDATA\TarvoVantor"'
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT} (tray).lnk" "$INSTDIR\vantor.exe" \
    '--home "$APPDATA\TarvoVantor" /hide'
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Nápověda.lnk" "$APPDATA\TarvoVantor\VANTOR.Cz.html"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Help.lnk" "$APPDATA\TarvoVantor\VANTOR.Eng.html"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Data folder.lnk" "$APPDATA\TarvoVantor"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall.lnk" "$INSTDIR\uninstall.exe"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Tarvo"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vantor.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  ; The service runs the program from this folder: it is stopped (net stop
  ; waits until it has) and removed first.  Neither fails when it was never
  ; installed.
  nsExec::ExecToLog '"$SYSDIR\net.exe" stop ${SERVICE}'
  Pop $0
  nsExec::ExecToLog '"$SYSDIR\sc.exe" delete ${SERVICE}'
  Pop $0

  Delete "$INSTDIR\vantor.exe"
  Delete "$INSTDIR\vantor-client.exe"
  Delete "$INSTDIR\uninstall.exe"
  ; Of the data folder only what the installer put there and the site does
  ; not change: the configuration, the accounting file and the rest stay.
  Delete "$APPDATA\TarvoVantor\TVantor.Cz"
  Delete "$APPDATA\TarvoVantor\TVantor.De"
  Delete "$APPDATA\TarvoVantor\TVantor.Eng"
  Delete "$APPDATA\TarvoVantor\TVantor.Spa"
  Delete "$APPDATA\TarvoVantor\VANTOR.Cz.html"
  Delete "$APPDATA\TarvoVantor\VANTOR.Eng.html"
  Delete "$APPDATA\TarvoVantor\vantor.INI.sample"
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${PRODUCT}\*.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; $APPDATA\TarvoVantor (vantor.INI, the accounting file) stays.
SectionEnd
