// Registry writes of the registration, one value per call.
#pragma once
#include <windows.h>

// Writes a REG_SZ value (the terminating zero included), creating missing keys.
bool WriteRegString(HKEY root, const WCHAR *key, const WCHAR *name, const WCHAR *value);
bool WriteRegDword(HKEY root, const WCHAR *key, const WCHAR *name, DWORD value);
