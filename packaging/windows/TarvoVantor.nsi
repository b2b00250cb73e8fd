; The Windows installer of Tarvo Vantor (makensis, run by ./run package-windows
; through the Windows build's target package-windows).
;
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.0.0 -DSTAGE=<folder with the files> \
;            -DOUTFILE=<setup.exe> TarvoVantor.nsi
;
; The program, its language files and help pages go to Program Files; the
; data folder %ProgramData%\TarvoVantor, where the installed gateway (desktop
; and service alike) keeps vantor.INI and the accounting file, gets the
; commented sample configuration unless it has one already.  The uninstaller
; stops and removes the service when it was installed, removes the program
; and its menu entries, and leaves the data folder as it is: the settings and
; the accounting records are the site's.  /S installs and uninstalls
; silently.

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
  File "${STAGE}\TVantor.Cz"
  File "${STAGE}\TVantor.De"
  File "${STAGE}\TVantor.Eng"
  File "${STAGE}\TVantor.Spa"
  File "${STAGE}\VANTOR.Cz.html"
  File "${STAGE}\VANTOR.Eng.html"
  File "${STAGE}\vantor.INI.sample"

  ; The sample configuration goes to the data folder only when that has no
  ; configuration yet: an update never touches the site's settings.
  CreateDirectory "$APPDATA\TarvoVantor"
  ${IfNot} ${FileExists} "$APPDATA\TarvoVantor\vantor.INI"
    CopyFiles /SILENT "$INSTDIR\vantor.INI.sample" "$APPDATA\TarvoVantor\vantor.INI"
  ${EndIf}

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\vantor.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT} (tray).lnk" "$INSTDIR\vantor.exe" "/hide"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Nápověda.lnk" "$INSTDIR\VANTOR.Cz.html"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Help.lnk" "$INSTDIR\VANTOR.Eng.html"
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
  Delete "$INSTDIR\TVantor.Cz"
  Delete "$INSTDIR\TVantor.De"
  Delete "$INSTDIR\TVantor.Eng"
  Delete "$INSTDIR\TVantor.Spa"
  Delete "$INSTDIR\VANTOR.Cz.html"
  Delete "$INSTDIR\VANTOR.Eng.html"
  Delete "$INSTDIR\vantor.INI.sample"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${PRODUCT}\*.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; $APPDATA\TarvoVantor (vantor.INI, the accounting file) stays.
SectionEnd
