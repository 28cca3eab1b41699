; tessera-setup.exe: installs Tessera for the current user, with no
; administrator rights, into %LOCALAPPDATA%\Programs\Tessera (or the folder
; given with /D=), and registers tessera-host.exe with Chrome, Chromium, Edge
; and Firefox under HKCU. /S installs silently; uninstall.exe /S removes it
; all again.
;
; tools/installer/CMakeLists.txt builds it and passes in:
;   TESSERA_VERSION        the project's version, e.g. 0.1.0
;   TESSERA_VERSION_QUAD   the same as four numbers, for the version resource
;   TESSERA_OUTFILE        where the installer goes
;   TESSERA_FILES_NSH      the generated list of the installed files
;   TESSERA_BINARY_n(_NAME) tessera-host.exe and its DLLs (path, file name)

!ifndef TESSERA_VERSION | TESSERA_VERSION_QUAD | TESSERA_OUTFILE | TESSERA_FILES_NSH
  !error "tessera.nsi is built by tools/installer/CMakeLists.txt, which defines what it installs"
!endif

Unicode true
; The binaries are 64-bit, and so is the installer: it runs where they do
; (and needs no 32-bit support beside a 64-bit Wine).
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID /FINAL lzma

!include MUI2.nsh
!include LogicLib.nsh
!include "${TESSERA_FILES_NSH}"

!define PRODUCT "Tessera"
!define HOST_NAME "org.tessera.host"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessera"
!define CHROME_KEY "Software\Google\Chrome\NativeMessagingHosts\${HOST_NAME}"
!define CHROMIUM_KEY "Software\Chromium\NativeMessagingHosts\${HOST_NAME}"
!define EDGE_KEY "Software\Microsoft\Edge\NativeMessagingHosts\${HOST_NAME}"
!define FIREFOX_KEY "Software\Mozilla\NativeMessagingHosts\${HOST_NAME}"

Name "${PRODUCT}"
OutFile "${TESSERA_OUTFILE}"
; A repair or an upgrade goes where the last install went, unless /D= says
; otherwise.
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
; A file that cannot be written (a running tessera-host.exe) stops the
; install: in silent mode the default would otherwise be to skip the file
; and go on, leaving old and new binaries side by side.
AllowSkipFiles off
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PRODUCT} ${TESSERA_VERSION}"

VIProductVersion "${TESSERA_VERSION_QUAD}"
VIFileVersion "${TESSERA_VERSION_QUAD}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${TESSERA_VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${TESSERA_VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PRODUCT}"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Sets $R0 to NAME unless $INSTDIR\NAME is missing or can be opened for
; writing. Windows refuses to open a running program, or a DLL that one has
; loaded, for writing, which is what File and Delete would do with it.
!macro TesseraCheckFileFree NAME
  ${If} ${FileExists} "$INSTDIR\${NAME}"
    ClearErrors
    FileOpen $0 "$INSTDIR\${NAME}" a
    ${If} ${Errors}
      StrCpy $R0 "${NAME}"
    ${Else}
      FileClose $0
    ${EndIf}
  ${EndIf}
!macroend

; Stops before anything is changed while Tessera runs from $INSTDIR: either
; the user closes it and retries, or the (un)install is aborted, with exit
; code 2. Silent mode aborts.
!macro TesseraStopIfRunning UN
Function ${UN}StopIfRunning
  ${Do}
    StrCpy $R0 ""
    !insertmacro TesseraCheckBinariesFree
    ${If} $R0 == ""
      Return
    ${EndIf}
    DetailPrint "$INSTDIR\$R0 is in use."
    MessageBox MB_RETRYCANCEL|MB_ICONSTOP \
      "$INSTDIR\$R0 is in use.$\r$\n$\r$\nClose the browsers that use ${PRODUCT}, then choose Retry." \
      /SD IDCANCEL IDRETRY retry
    SetErrorLevel 2
    Abort "${PRODUCT} is running: nothing was changed."
    retry:
  ${Loop}
FunctionEnd
!macroend
!insertmacro TesseraStopIfRunning ""
!insertmacro TesseraStopIfRunning "un."

; The default value of each browser's key names the manifest for it.
!macro TesseraRegisterHost KEY MANIFEST
  WriteRegStr HKCU "${KEY}" "" "$INSTDIR\${MANIFEST}"
!macroend

; Deletes the browser's key only while it names this install's manifest:
; once another install in another folder has registered itself, the key is
; that install's, and removing this one must not unregister it.
!macro TesseraUnregisterHost KEY MANIFEST
  ClearErrors
  ReadRegStr $0 HKCU "${KEY}" ""
  ${IfNot} ${Errors}
  ${AndIf} $0 == "$INSTDIR\${MANIFEST}"
    DeleteRegKey HKCU "${KEY}"
  ${EndIf}
!macroend

; Removes KEY if nothing is in it: the parents of the hosts' keys, which
; the install created unless that browser had been there before.
!macro TesseraRemoveKeyIfEmpty KEY
  DeleteRegKey /ifnosubkeys /ifnovalues HKCU "${KEY}"
!macroend

; Tessera is installed once per user (one uninstall entry, one key per
; browser), so an install into another folder than the last moves it: the
; install there is removed by its own uninstaller first, as if from
; "Installed apps". While a browser runs the host from there, nothing is
; changed and the install stops, as for its own folder.
Function RemoveInstallElsewhere
  ReadRegStr $R1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $R1 == ""
  ${OrIf} $R1 == $INSTDIR
    Return
  ${EndIf}
  StrCpy $R2 $INSTDIR
  StrCpy $INSTDIR $R1
  Call StopIfRunning
  StrCpy $INSTDIR $R2
  ${If} ${FileExists} "$R1\uninstall.exe"
    DetailPrint "Removing ${PRODUCT} from $R1"
    ; _?= runs it in place and waits for it; it then cannot delete itself.
    ExecWait '"$R1\uninstall.exe" /S _?=$R1'
    Delete "$R1\uninstall.exe"
    RMDir "$R1"
  ${EndIf}
FunctionEnd

Section "${PRODUCT}" SectionMain
  SectionIn RO
  ; HKCU\Software is shared between 32- and 64-bit programs; the 64-bit
  ; view is what the browsers read either way.
  SetRegView 64
  Call StopIfRunning
  Call RemoveInstallElsewhere

  !insertmacro TesseraInstallFiles
  WriteUninstaller "$INSTDIR\uninstall.exe"

  !insertmacro TesseraRegisterHost "${CHROME_KEY}" "${HOST_NAME}.json"
  !insertmacro TesseraRegisterHost "${CHROMIUM_KEY}" "${HOST_NAME}.json"
  !insertmacro TesseraRegisterHost "${EDGE_KEY}" "${HOST_NAME}.json"
  !insertmacro TesseraRegisterHost "${FIREFOX_KEY}" "${HOST_NAME}.firefox.json"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${TESSERA_VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ; In KB, as makensis counted the files above.
  SectionGetSize ${SectionMain} $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  SetRegView 64
  Call un.StopIfRunning

  ; The browsers first, so that none starts a host that is going away.
  !insertmacro TesseraUnregisterHost "${CHROME_KEY}" "${HOST_NAME}.json"
  !insertmacro TesseraUnregisterHost "${CHROMIUM_KEY}" "${HOST_NAME}.json"
  !insertmacro TesseraUnregisterHost "${EDGE_KEY}" "${HOST_NAME}.json"
  !insertmacro TesseraUnregisterHost "${FIREFOX_KEY}" "${HOST_NAME}.firefox.json"
  !insertmacro TesseraRemoveKeyIfEmpty "Software\Google\Chrome\NativeMessagingHosts"
  !insertmacro TesseraRemoveKeyIfEmpty "Software\Google\Chrome"
  !insertmacro TesseraRemoveKeyIfEmpty "Software\Google"
  !insertmacro TesseraRemoveKeyIfEmpty "Software\Chromium\NativeMessagingHosts"
  !insertmacro TesseraRemoveKeyIfEmpty "Software\Chromium"
  !insertmacro TesseraRemoveKeyIfEmpty "Software\Microsoft\Edge\NativeMessagingHosts"
  !insertmacro TesseraRemoveKeyIfEmpty "Software\Microsoft\Edge"
  !insertmacro TesseraRemoveKeyIfEmpty "Software\Mozilla\NativeMessagingHosts"
  !insertmacro TesseraRemoveKeyIfEmpty "Software\Mozilla"

  !insertmacro TesseraRemoveFiles

  ; The entry too belongs to whichever install wrote it last.
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ${EndIf}
SectionEnd
