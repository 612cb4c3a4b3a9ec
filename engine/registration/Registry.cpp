#include "engine/registration/Registry.h"
#include <shlwapi.h>

bool WriteRegString(HKEY root, const WCHAR *key, const WCHAR *name, const WCHAR *value)
{
    DWORD bytes = (DWORD)((lstrlenW(value) + 1) * sizeof(WCHAR));
    return SHSetValueW(root, key, name, REG_SZ, value, bytes) == ERROR_SUCCESS;
}

bool WriteRegDword(HKEY root, const WCHAR *key, const WCHAR *name, DWORD value)
{
    return SHSetValueW(root, key, name, REG_DWORD, &value, sizeof(value)) == ERROR_SUCCESS;
}
