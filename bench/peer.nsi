; The installer a vendor would pick instead, for the silent-install benchmark: solid LZMA, and
; its one job is to unpack the file set straight into the install folder. Run as
;     peer.exe /S /D=<folder>
; Built by makensis with -DSOURCE_DIR=<file set> -DOUTFILE=<output> [-DTARGET=amd64-unicode],
; the same kind of program as the setup it is compared with.
!ifdef TARGET
Target ${TARGET}
!else
Unicode true
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel admin
Name "Velmarin 3"
OutFile "${OUTFILE}"
; The setup's folder in the runs: Program Files itself, also for a 32-bit peer on 64-bit Windows.
InstallDir "$PROGRAMFILES64\Velmarin 3"
Page instfiles
Section
    SetOutPath "$INSTDIR"
    File /r "${SOURCE_DIR}/*"
SectionEnd
