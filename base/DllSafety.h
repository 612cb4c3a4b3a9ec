// A setup usually starts from a Downloads folder, where any DLL may lie beside it, and it runs
// with administrator rights. These keep every DLL the process loads to the system folder.
#pragma once
#include <windows.h>

// Before anything else at start-up: no DLL search in the program's own or the current folder.
void RestrictDllSearchToSystem();

// Loads a DLL by its full path in the system folder; null when it is not there.
HMODULE LoadSystemLibrary(const WCHAR *fileName);
