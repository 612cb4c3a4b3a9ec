#include "pages/FolderText.h"
#include "base/Format.h"
#include "engine/update/FileUpdate.h"
#include "engine/payload/PayloadManifest.h"
#include "engine/Product.h"
#include <wchar.h>

// Spaces and tabs, and the full-width space that Chinese input methods type.
static bool IsBlank(WCHAR c)
{
    return c == L' ' || c == L'\t' || c == 0x3000;
}

const WCHAR *SkipFolderBlanks(const WCHAR *text)
{
    while (text && IsBlank(*text))
        ++text;
    return text;
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
    // The deepest file of the payload, with the staged or set-aside name an update gives it.
    const CPayloadManifest &manifest = CPayloadManifest::Instance();
    size_t longest = manifest.IsValid() ? manifest.LongestPath() : wcslen(kLongestInstalledFile);
    return (MAX_PATH - 1) - longest - UpdateSuffixChars();
}

// The device names Windows keeps for itself, with or without an extension: "NUL", "com1.txt".
static bool IsReservedName(const WCHAR *name, size_t length)
{
    static const WCHAR *const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL"};
    size_t base = 0;
    while (base < length && name[base] != L'.')
        ++base;
    for (const WCHAR *device : kDevices) {
        if (base == 3 && _wcsnicmp(name, device, 3) == 0)
            return true;
    }
    return base == 4 && (_wcsnicmp(name, L"COM", 3) == 0 || _wcsnicmp(name, L"LPT", 3) == 0) && name[3] >= L'1' &&
           name[3] <= L'9';
}

// The first name part below the drive root that breaks a rule, and which rule.
static FolderVerdict CheckNames(const WCHAR *folder, size_t rootLength, const WCHAR **part, size_t *partLength)
{
    for (const WCHAR *name = folder + rootLength; *name;) {
        size_t length = wcscspn(name, L"\\");
        *part = name;
        *partLength = length;
        for (size_t i = 0; i < length; ++i) {
            if (name[i] < 32 || wcschr(L"<>:\"|?*", name[i]))
                return kFolderBadCharacter;
        }
        if (length > 0 && (name[length - 1] == L' ' || name[length - 1] == L'.'))
            return kFolderBadNameEnd;
        if (IsReservedName(name, length))
            return kFolderReservedName;
        name += length;
        if (*name)
            ++name;
    }
    return kFolderAccepted;
}

FolderVerdict PrepareFolderText(const WCHAR *typed, WCHAR (&folder)[MAX_PATH])
{
    folder[0] = 0;
    if (!typed)
        return kFolderNoDrive;
    while (IsBlank(*typed))
        ++typed;
    size_t length = wcslen(typed);
    while (length > 0 && IsBlank(typed[length - 1]))
        --length;
    // "/" is a backslash to Windows; a run of backslashes is one. The first two characters keep
    // theirs, so that a network folder stays recognisable.
    size_t kept = 0;
    for (size_t i = 0; i < length && kept < MAX_PATH - 1; ++i) {
        WCHAR c = typed[i] == L'/' ? L'\\' : typed[i];
        if (c == L'\\' && kept > 1 && folder[kept - 1] == L'\\')
            continue;
        folder[kept++] = c;
    }
    folder[kept] = 0;
    if (kept == MAX_PATH - 1 && length > kept)
        return kFolderTooLong;
    if (folder[0] == L'\\' && folder[1] == L'\\')
        return kFolderNetwork;
    const WCHAR *separator = wcsstr(folder, L":\\");
    if (!separator)
        return kFolderNoDrive;
    // The engine works on the folder without trailing backslashes; the drive root keeps its own.
    size_t rootLength = (size_t)(separator - folder) + 2;
    while (kept > rootLength && folder[kept - 1] == L'\\')
        folder[--kept] = 0;
    const WCHAR *part;
    size_t partLength;
    FolderVerdict names = CheckNames(folder, rootLength, &part, &partLength);
    if (names != kFolderAccepted)
        return names;
    size_t installed = kept == rootLength ? kept - 1 : kept;
    return installed > MaxInstallFolderLength() ? kFolderTooLong : kFolderAccepted;
}

bool FormatFolderRefusal(FolderVerdict verdict, const WCHAR *folder, WCHAR *text, size_t capacity)
{
    const WCHAR *part = L"";
    size_t partLength = 0;
    const WCHAR *separator = folder ? wcsstr(folder, L":\\") : NULL;
    if (separator)
        CheckNames(folder, (size_t)(separator - folder) + 2, &part, &partLength);
    switch (verdict) {
    case kFolderAccepted:
        return false;
    case kFolderTooLong:
        return FormatText(text, capacity, L"安装路径太长，请输入不超过%d个字符的安装路径", (int)MaxInstallFolderLength());
    case kFolderNetwork:
        return FormatText(text, capacity, L"不能安装到网络上的文件夹，请选择本机磁盘上的安装路径");
    case kFolderBadCharacter:
        return FormatText(text, capacity, L"安装路径中不能含有下列字符：< > : \" | ? *，请重新输入");
    case kFolderBadNameEnd:
        return FormatText(text, capacity, L"文件夹名“%.*s”不能以空格或句点结尾，请重新输入", (int)partLength, part);
    case kFolderReservedName:
        return FormatText(text, capacity, L"“%.*s”是系统保留的名称，不能用作文件夹名，请重新输入", (int)partLength, part);
    default:
        return FormatText(text, capacity, L"请输入正确的安装路径");
    }
}

void RemoveTrailingBackslash(WCHAR *folder)
{
    size_t length = wcslen(folder);
    if (length > 0 && folder[length - 1] == L'\\')
        folder[length - 1] = 0;
}
