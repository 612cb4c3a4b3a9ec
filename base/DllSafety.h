// A setup usually starts from a Downloads folder, where any DLL may lie beside it, and it runs
// with administrator rights. These keep every DLL the process loads to the system folder.
#pragma once
#include <windows.h>
#include <wtypes.h>

// Before anything else at start-up: no DLL search in the program's own or the current folder.
void RestrictDllSearchToSystem();
// At start-up too: no data run as code, also where the system leaves that to each program
// (Windows XP SP3, whose loader reads no "NX compatible" mark); from Vista on the mark does it.
void EnableDataExecutionPrevention();

// Loads a DLL by its full path in the system folder; null when it is not there.
HMODULE LoadSystemLibrary(const WCHAR *fileName);

// SysAllocString and SysFreeString of oleaut32.dll in the system folder, which is loaded at run
// time rather than imported by name. AllocateBstr gives null where the DLL cannot be loaded.
BSTR AllocateBstr(const WCHAR *text);
void FreeBstr(BSTR text);
