#include "base/SafePaths.h"
#include "base/Format.h"
#include <wchar.h>

namespace {

// ntdll's NtSetInformationFile, under SetFileInformationByHandle, is on every Windows the setup
// runs on (Windows XP has no SetFileInformationByHandle); GetFinalPathNameByHandleW is Vista's.
struct IoStatus {
    union {
        LONG status;
        void *pointer;
    };
    ULONG_PTR information;
};
typedef LONG(NTAPI *SetInformationFileFn)(HANDLE, IoStatus *, void *, ULONG, int);
typedef ULONG(NTAPI *StatusToErrorFn)(LONG);
typedef DWORD(WINAPI *FinalPathFn)(HANDLE, LPWSTR, DWORD, DWORD);
const int kFileBasicInformation = 4;
const int kFileRenameInformation = 10;
const int kFileDispositionInformation = 13;

// "\\?\" and a full path.
const DWORD kNameChars = MAX_PATH + 8;

bool SetInformation(HANDLE handle, void *information, ULONG size, int kind)
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    SetInformationFileFn setInformation = (SetInformationFileFn)(void *)GetProcAddress(ntdll, "NtSetInformationFile");
    StatusToErrorFn toError = (StatusToErrorFn)(void *)GetProcAddress(ntdll, "RtlNtStatusToDosError");
    if (!setInformation || !toError) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return false;
    }
    IoStatus io = {};
    LONG status = setInformation(handle, &io, information, size, kind);
    if (status < 0) {
        SetLastError(toError(status));
        return false;
    }
    return true;
}

// Where Windows names an open object; false where it cannot say (before Vista, or a file system
// that does not tell).
bool NameOf(HANDLE handle, WCHAR (&name)[kNameChars])
{
    FinalPathFn finalPath =
        (FinalPathFn)(void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW");
    DWORD length = finalPath ? finalPath(handle, name, kNameChars, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS) : 0;
    return length > 0 && length < kNameChars;
}

bool SameLetters(const WCHAR *a, const WCHAR *b, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (a[i] != b[i] && CharUpperW((LPWSTR)(ULONG_PTR)a[i]) != CharUpperW((LPWSTR)(ULONG_PTR)b[i]))
            return false;
    }
    return true;
}

// True when `name` is `parent` and the part `part` below it: the object opened is the entry of
// that name in the folder, not something a link of that name leads to (file systems that do not
// mark a link as a reparse point show it here).
bool NamedAsPartOf(const WCHAR *name, const WCHAR *parent, const WCHAR *part, size_t partLength)
{
    size_t parentLength = wcslen(parent);
    if (parentLength > 0 && parent[parentLength - 1] == L'\\')
        --parentLength;
    return wcslen(name) == parentLength + 1 + partLength && SameLetters(name, parent, parentLength) &&
           name[parentLength] == L'\\' && SameLetters(name + parentLength + 1, part, partLength);
}

// "\name" parts, none of them empty, "." or "..", and no other separator: nothing that Windows
// would resolve to a place outside the folder before any part is opened.
bool IsPlainPartList(const WCHAR *relative)
{
    if (relative[0] != L'\\')
        return false;
    for (const WCHAR *part = relative + 1;;) {
        const WCHAR *end = wcschr(part, L'\\');
        size_t length = end ? (size_t)(end - part) : wcslen(part);
        if (length == 0 || (part[0] == L'.' && (length == 1 || (length == 2 && part[1] == L'.'))))
            return false;
        for (size_t i = 0; i < length; ++i) {
            if (part[i] == L'/' || part[i] == L':')
                return false;
        }
        if (!end)
            return true;
        part = end + 1;
    }
}

}

CHeldPath::CHeldPath() : m_folderCount(0), m_handle(INVALID_HANDLE_VALUE), m_attributes(0) {}

CHeldPath::~CHeldPath()
{
    Close();
}

void CHeldPath::Close()
{
    if (m_handle != INVALID_HANDLE_VALUE)
        CloseHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
    while (m_folderCount > 0)
        CloseHandle(m_folders[--m_folderCount]);
    m_attributes = 0;
}

bool CHeldPath::Open(const WCHAR *trustedFolder, const WCHAR *relative, DWORD access)
{
    Close();
    size_t rootLength = wcslen(trustedFolder);
    bool rootEndsInSeparator = rootLength > 0 && trustedFolder[rootLength - 1] == L'\\';
    WCHAR path[MAX_PATH];
    if (!IsPlainPartList(relative) ||
        !Format(path, L"%s%s", trustedFolder, rootEndsInSeparator ? relative + 1 : relative)) {
        SetLastError(ERROR_BAD_PATHNAME);
        return false;
    }
    // Folders stay open for listing without delete sharing: that is what keeps them from being
    // renamed; an open for attributes alone would not.
    HANDLE folder = CreateFileW(trustedFolder, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (folder == INVALID_HANDLE_VALUE)
        return false;
    m_folders[m_folderCount++] = folder;
    // Where the trusted folder's name is known, every part's must follow from it; elsewhere the
    // reparse-point attribute alone tells.
    WCHAR parentName[kNameChars], name[kNameChars];
    bool named = NameOf(folder, parentName);

    size_t partStart = rootEndsInSeparator ? rootLength : rootLength + 1;
    for (;;) {
        WCHAR *end = wcschr(path + partStart, L'\\');
        bool last = end == NULL;
        if (!last)
            *end = 0;
        if (!last && m_folderCount == kMaxFolders) {
            Close();
            SetLastError(ERROR_BAD_PATHNAME);
            return false;
        }
        HANDLE part = last ? CreateFileW(path, access | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL)
                           : CreateFileW(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
        if (part == INVALID_HANDLE_VALUE) {
            DWORD error = GetLastError();
            Close();
            SetLastError(!last && error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error);
            return false;
        }
        BY_HANDLE_FILE_INFORMATION information;
        bool plain = GetFileInformationByHandle(part, &information) &&
                     !(information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                     (!named || (NameOf(part, name) && NamedAsPartOf(name, parentName, path + partStart, wcslen(path + partStart))));
        if (!plain || (!last && !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))) {
            CloseHandle(part);
            Close();
            SetLastError(plain ? ERROR_PATH_NOT_FOUND : ERROR_CANT_ACCESS_FILE);
            return false;
        }
        if (last) {
            m_handle = part;
            m_attributes = information.dwFileAttributes;
            return true;
        }
        m_folders[m_folderCount++] = part;
        *end = L'\\';
        partStart = (size_t)(end - path) + 1;
        memcpy(parentName, name, sizeof(name));
    }
}

HANDLE OpenObjectItself(const WCHAR *path, DWORD access, DWORD sharing)
{
    return CreateFileW(path, access, sharing, NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                       NULL);
}

bool MarkForDeletion(HANDLE handle, DWORD attributes)
{
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        // Zero times leave them as they are; "normal" stands only where nothing else is left.
        FILE_BASIC_INFO basic = {};
        DWORD rest = attributes & ~FILE_ATTRIBUTE_READONLY;
        basic.FileAttributes = rest ? rest : FILE_ATTRIBUTE_NORMAL;
        SetInformation(handle, &basic, sizeof(basic), kFileBasicInformation);
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetInformation(handle, &disposition, sizeof(disposition), kFileDispositionInformation);
}

bool FinalNameOf(HANDLE handle, WCHAR (&name)[MAX_PATH + 8])
{
    return NameOf(handle, name);
}

bool CHeldPath::Delete()
{
    if (m_handle == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (!MarkForDeletion(m_handle, m_attributes))
        return false;
    m_attributes &= ~FILE_ATTRIBUTE_READONLY;
    return true;
}

bool CHeldPath::Rename(const WCHAR *name, bool replace)
{
    size_t length = wcslen(name);
    WCHAR part[MAX_PATH];
    if (m_handle == INVALID_HANDLE_VALUE || m_folderCount == 0 || length == 0 || length >= MAX_PATH - 1 ||
        !Format(part, L"\\%s", name) || !IsPlainPartList(part) || wcschr(name, L'\\')) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // The new name is taken in the held folder the file is in, by its handle: no path is read again.
    union {
        FILE_RENAME_INFO rename;
        BYTE bytes[sizeof(FILE_RENAME_INFO) + MAX_PATH * sizeof(WCHAR)];
    } information = {};
    information.rename.ReplaceIfExists = replace;
    information.rename.RootDirectory = m_folders[m_folderCount - 1];
    information.rename.FileNameLength = (DWORD)(length * sizeof(WCHAR));
    memcpy(information.rename.FileName, name, length * sizeof(WCHAR));
    return SetInformation(m_handle, &information, sizeof(information), kFileRenameInformation);
}
