#include "engine/record/RecordedRegistry.h"
#include "base/Format.h"

static bool RegistryValueMatches(HKEY key, const RecordItem &item)
{
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, item.name, NULL, &type, NULL, &size) != ERROR_SUCCESS || type != item.type)
        return false;
    if (type == REG_DWORD) {
        DWORD value = 0;
        size = sizeof(value);
        if (RegQueryValueExW(key, item.name, NULL, NULL, (BYTE *)&value, &size) != ERROR_SUCCESS)
            return false;
        WCHAR text[16];
        Format(text, L"%lu", (unsigned long)value);
        return lstrcmpW(text, item.data) == 0;
    }
    WCHAR data[MAX_PATH + 1] = {};
    size = sizeof(data) - sizeof(WCHAR);
    if (RegQueryValueExW(key, item.name, NULL, NULL, (BYTE *)data, &size) != ERROR_SUCCESS)
        return false;
    return lstrcmpW(data, item.data) == 0;
}

bool RemoveRecordedValue(const RecordItem &item)
{
    HKEY key = NULL;
    LONG opened = RegOpenKeyExW(item.root, item.path, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    if (opened != ERROR_SUCCESS)
        return opened == ERROR_FILE_NOT_FOUND;
    bool removed = RegQueryValueExW(key, item.name, NULL, NULL, NULL, NULL) == ERROR_FILE_NOT_FOUND ||
                   (RegistryValueMatches(key, item) && RegDeleteValueW(key, item.name) == ERROR_SUCCESS);
    RegCloseKey(key);
    return removed;
}

bool RemoveRecordedKeyIfEmpty(const RecordItem &item)
{
    HKEY key = NULL;
    if (RegOpenKeyExW(item.root, item.path, 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, &key) != ERROR_SUCCESS)
        return false;
    DWORD subkeys = 1, values = 1;
    bool empty = RegQueryInfoKeyW(key, NULL, NULL, NULL, &subkeys, NULL, NULL, &values, NULL, NULL, NULL, NULL) ==
                     ERROR_SUCCESS &&
                 subkeys == 0 && values == 0;
    RegCloseKey(key);
    return empty && RegDeleteKeyW(item.root, item.path) == ERROR_SUCCESS;
}
