; The browser's payload installer. Run as
;     velmarin3zip.exe /P=<folder>
; with the folder being everything after "/P=" (spaces allowed, not quoted), it creates the
; folder, unpacks the browser's file set into it and exits 0. It shows no window.
; Built by makensis with -DSOURCE_DIR=<file set> -DOUTFILE=<output> [-DCOMPRESSOR=zlib|bzip2|lzma]
; [-DTARGET=amd64-unicode] (the 64-bit build that test machines without 32-bit support run)
; [-DFILE_LIST=<the NSIS lines of the files, in order>].

!ifdef TARGET
Target ${TARGET}
!else
Unicode true
!endif
SilentInstall silent
RequestExecutionLevel user
!ifndef COMPRESSOR
!define COMPRESSOR lzma
!endif
SetCompressor /SOLID ${COMPRESSOR}
Name "Velmarin 3 payload"
OutFile "${OUTFILE}"
InstallDir "$TEMP\Velmarin 3"

Function .onInit
    ; Find "/P=" in the command line and take the rest as the target folder.
    StrLen $2 $CMDLINE
    StrCpy $0 0
search:
    IntCmp $0 $2 missing 0 missing
    StrCpy $1 $CMDLINE 3 $0
    StrCmp $1 "/P=" found
    IntOp $0 $0 + 1
    Goto search
found:
    IntOp $0 $0 + 3
    StrCpy $INSTDIR $CMDLINE "" $0
    StrCmp $INSTDIR "" missing
    Return
missing:
    SetErrorLevel 2
    Quit
FunctionEnd

Section
!ifdef FILE_LIST
    ; The files one by one in a fixed order (made by manifest.cmake): two builds pack them alike.
    !include /CHARSET=UTF8 "${FILE_LIST}"
!else
    SetOutPath "$INSTDIR"
    File /r "${SOURCE_DIR}/*.*"
!endif
    SetErrorLevel 0
SectionEnd
