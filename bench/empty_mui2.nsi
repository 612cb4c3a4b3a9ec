; The installer a vendor would pick instead: an empty NSIS Modern UI 2 installer with a welcome
; page, for comparing start-up times. Built by makensis with -DOUTFILE=<output> [-DTARGET=amd64-unicode],
; the same kind of program as the setup it is compared with.
!ifdef TARGET
Target ${TARGET}
!else
Unicode true
!endif
!include "MUI2.nsh"
Name "Empty"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$TEMP\EmptyMui2"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"
Section
SectionEnd
