#include "pages/FolderText.h"
#include "app/Format.h"
#include "engine/FileUpdate.h"
#include "engine/Product.h"
#include <wchar.h>

static bool IsBlank(WCHAR c)
{
    return c == L' ' || c == L'\t';
}

size_t DriveRootLength(const WCHAR *text)
{
    if (!text)
        return 0;
    size_t start = 0;
    while (IsBlank(text[start]))
        ++start;
    const WCHAR *separator = wcsstr(text + start, L":\\");
    if (!separator || separator == text + start)
        return 0;
    return (size_t)(separator - text) + 2;
}

bool FormatDiskSpaceLine(WCHAR *line, size_t capacity, ULONGLONG freeBytes)
{
    const int requiredMegabytes = 3;
    return FormatText(line, capacity, L"所需磁盘空间：%dMB （可用磁盘空间: %dMB）", requiredMegabytes,
                      (int)(freeBytes >> 20));
}

size_t MaxInstallFolderLength()
{
    // An update gives each file a staged and a set-aside name beside it.
    return (MAX_PATH - 1) - wcslen(kLongestInstalledFile) - UpdateSuffixChars();
}

bool PrepareFolderText(const WCHAR *typed, WCHAR (&folder)[MAX_PATH])
{
    folder[0] = 0;
    if (!typed)
        return false;
    while (IsBlank(*typed))
        ++typed;
    size_t length = wcslen(typed);
    while (length > 0 && IsBlank(typed[length - 1]))
        --length;
    // The engine works on the folder without its trailing backslash.
    size_t installed = length > 0 && typed[length - 1] == L'\\' ? length - 1 : length;
    if (installed > MaxInstallFolderLength())
        return false;
    wmemcpy(folder, typed, length);
    folder[length] = 0;
    return wcsstr(folder, L":\\") != NULL;
}

void RemoveTrailingBackslash(WCHAR *folder)
{
    size_t length = wcslen(folder);
    if (length > 0 && folder[length - 1] == L'\\')
        folder[length - 1] = 0;
}
