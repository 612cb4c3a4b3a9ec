#include "engine/Uninstall.h"
#include "base/Format.h"
#include "engine/PayloadManifest.h"
#include "engine/Product.h"
#include "engine/TempFolder.h"
#include <shlobj.h>
#include <stdlib.h>
#include <string.h>

static bool IsReparsePoint(const WCHAR *path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// No folder between the install folder (itself included) and the file is a link or junction:
// the file is really where the record says.
static bool ReachedWithoutLinks(const WCHAR *folder, const WCHAR *relative)
{
    WCHAR path[MAX_PATH];
    if (!Copy(path, folder) || IsReparsePoint(path))
        return false;
    size_t base = wcslen(path);
    WCHAR full[MAX_PATH];
    if (!Format(full, L"%s%s", folder, relative))
        return false;
    for (size_t i = base + 1; full[i]; ++i) {
        if (full[i] != L'\\')
            continue;
        full[i] = 0;
        bool link = IsReparsePoint(full);
        full[i] = L'\\';
        if (link)
            return false;
    }
    return true;
}

// The file holds what was recorded: the same size and SHA-256, and it is a plain file.
static bool StillAsRecorded(const WCHAR *path, const RecordItem &item)
{
    ULONGLONG size = 0;
    BYTE sha256[32];
    return HashFileContents(path, size, sha256) && size == item.size && memcmp(sha256, item.sha256, 32) == 0;
}

static bool RemoveFile(const WCHAR *path)
{
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileW(path))
        return true;
    // Still in use (a helper that would not end): it goes at the next restart.
    return MoveFileExW(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

// Removes the folders of a relative path below `folder` that are empty, the deepest first.
static void RemoveEmptyParents(const WCHAR *folder, const WCHAR *relative)
{
    WCHAR path[MAX_PATH];
    if (!Format(path, L"%s%s", folder, relative))
        return;
    size_t base = wcslen(folder);
    for (WCHAR *slash = wcsrchr(path, L'\\'); slash && (size_t)(slash - path) > base; slash = wcsrchr(path, L'\\')) {
        *slash = 0;
        if (IsReparsePoint(path) || !RemoveDirectoryW(path))
            return;
    }
}

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

static bool RemoveValue(const RecordItem &item)
{
    HKEY key = NULL;
    if (RegOpenKeyExW(item.root, item.path, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return false;
    bool removed = RegistryValueMatches(key, item) && RegDeleteValueW(key, item.name) == ERROR_SUCCESS;
    RegCloseKey(key);
    return removed;
}

// A key the setup made goes when nothing is left in it.
static bool RemoveKeyIfEmpty(const RecordItem &item)
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

// The uninstaller's own file and its entry in the system's list: they go last, so that a removal
// cut short (a power cut, a logoff) can be run again from the same place.
static bool IsWayBack(const RecordItem &item)
{
    if (item.kind == RecordItem::kFile)
        return lstrcmpiW(item.path, L"\\UnInst.exe") == 0;
    return (item.kind == RecordItem::kValue || item.kind == RecordItem::kMadeKey) && item.root == HKEY_LOCAL_MACHINE &&
           IsPathWithin(item.path, kUninstallKey);
}

static int CompareLongestFirst(const void *a, const void *b)
{
    return (int)wcslen((*(const RecordItem *const *)b)->path) - (int)wcslen((*(const RecordItem *const *)a)->path);
}

UninstallCounts RemoveRecordedInstallation(const CInstallRecord &record, void (*progress)(void *context, int percent),
                                           void *context)
{
    UninstallCounts counts = {0, 0};
    const WCHAR *folder = record.Folder();
    int total = record.Count() > 0 ? record.Count() : 1;
    int done = 0;
    // Keys are taken the deepest first, after every value: a key goes only once it is empty.
    const RecordItem **keys = (const RecordItem **)calloc(total, sizeof(RecordItem *));
    int keyCount = 0;
    for (int i = 0; i < 2 * record.Count(); ++i) {
        const RecordItem &item = record.Item(i % record.Count());
        if (IsWayBack(item) != (i >= record.Count()))
            continue;
        bool removed = false;
        WCHAR path[MAX_PATH];
        switch (item.kind) {
        case RecordItem::kFile:
            removed = ReachedWithoutLinks(folder, item.path) && Format(path, L"%s%s", folder, item.path) &&
                      StillAsRecorded(path, item) && RemoveFile(path);
            break;
        case RecordItem::kLink:
            removed = StillAsRecorded(item.path, item) && RemoveFile(item.path);
            break;
        case RecordItem::kValue:
            // Another view than this program's own is left alone: it would be another program's.
            removed = item.view == CInstallRecord::ProcessView() && RemoveValue(item);
            break;
        case RecordItem::kMadeKey:
            if (keys && item.view == CInstallRecord::ProcessView())
                keys[keyCount++] = &item;
            continue;
        case RecordItem::kMadeFolder:
            continue;
        }
        ++(removed ? counts.removed : counts.kept);
        if (progress)
            progress(context, 90 * ++done / total);
    }
    if (keys) {
        qsort(keys, keyCount, sizeof(keys[0]), CompareLongestFirst);
        for (int i = 0; i < keyCount; ++i)
            ++(RemoveKeyIfEmpty(*keys[i]) ? counts.removed : counts.kept);
        free(keys);
    }
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, NULL, NULL);

    // Folders: below the install folder, then the setup's own shortcut folders, when empty.
    for (int i = 0; i < record.Count(); ++i) {
        const RecordItem &item = record.Item(i);
        if (item.kind == RecordItem::kFile && ReachedWithoutLinks(folder, item.path))
            RemoveEmptyParents(folder, item.path);
        else if (item.kind == RecordItem::kMadeFolder && !IsReparsePoint(item.path))
            RemoveDirectoryW(item.path);
    }
    // The record goes with a copy an interrupted save may have left.
    WCHAR recordPath[MAX_PATH];
    if (Format(recordPath, L"%s\\%s.new", folder, kRecordFileName))
        DeleteFileW(recordPath);
    if (Format(recordPath, L"%s\\%s", folder, kRecordFileName))
        DeleteFileW(recordPath);
    // A drive root or a folder that holds anything else stays.
    if (!IsReparsePoint(folder))
        RemoveDirectoryW(folder);
    if (progress)
        progress(context, 100);
    return counts;
}

void RemoveBrowserData(const WCHAR *iniPath, const WCHAR *dataDir, const WCHAR *installDir)
{
    if (iniPath && iniPath[0] && !IsReparsePoint(iniPath))
        DeleteFileW(iniPath);
    // Where the data folder is the install folder (older systems), the ini is all there is.
    if (!dataDir || !dataDir[0] || IsPathWithin(installDir, dataDir) || IsPathWithin(dataDir, installDir))
        return;
    if (!IsReparsePoint(dataDir))
        RemoveTreeOrScheduleAtRestart(dataDir);
}
