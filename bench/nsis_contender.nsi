; The NSIS contender: the same job as our installer, done the way an NSIS installer does it. It
; stores the archive and the setup program uncompressed (SetCompress off), writes both into
; $PLUGINSDIR (a fresh directory under %TEMP% that NSIS removes at exit), runs the setup program
; with the archive named and waits, and deletes both. Silent, no window, amd64 stub.
;
;   makensis -DARCHIVE=FILE -DSETUP=FILE -DCRC=on|off -DOUTFILE=FILE nsis_contender.nsi
;
; Without -DARCHIVE it builds an installer with no payload: NSIS's own size.
Unicode true
Target amd64-unicode
SetCompress off
SilentInstall silent
RequestExecutionLevel user
CRCCheck ${CRC}
OutFile "${OUTFILE}"

Section
!ifdef ARCHIVE
  InitPluginsDir
  SetOutPath "$PLUGINSDIR"
  File "/oname=LUMORA.PACKED.7Z" "${ARCHIVE}"
  File "/oname=setup.exe" "${SETUP}"
  ExecWait '"$PLUGINSDIR\setup.exe" --install-archive="$PLUGINSDIR\LUMORA.PACKED.7Z"' $0
  Delete "$PLUGINSDIR\LUMORA.PACKED.7Z"
  Delete "$PLUGINSDIR\setup.exe"
  ; Out of $PLUGINSDIR, so that NSIS can remove it at exit.
  SetOutPath "$TEMP"
  SetErrorLevel $0
!endif
SectionEnd
