#include "engine/TempFolder.h"
#include "base/Format.h"
#include "engine/FolderSecurity.h"
#include <sddl.h>
#include <shlwapi.h>

// The string form of the current user's SID, or false.
static bool CurrentUserSid(WCHAR (&sid)[192])
{
    PSID user = CopyProcessUserSid();
    WCHAR *text = NULL;
    bool found = user && ConvertSidToStringSidW(user, &text) && Copy(sid, text);
    if (text)
        LocalFree(text);
    if (user)
        LocalFree(user);
    return found;
}

PSECURITY_DESCRIPTOR CreateProtectedFolderDescriptor()
{
    WCHAR user[192];
    if (!CurrentUserSid(user))
        return NULL;
    // P: not inheriting from the parent; OICI: files and folders below get the same list.
    // 0x1200a9 is FILE_GENERIC_READ | FILE_GENERIC_EXECUTE.
    WCHAR sddl[400];
    if (!Format(sddl, L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;%s)", user))
        return NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, NULL))
        return NULL;
    return descriptor;
}

bool CreateProtectedFolder(const WCHAR *path)
{
    PSECURITY_DESCRIPTOR descriptor = CreateProtectedFolderDescriptor();
    if (!descriptor)
        return false;
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = descriptor;
    BOOL created = CreateDirectoryW(path, &attributes);
    LocalFree(descriptor);
    return created != FALSE;
}

// A number from the system's random generator: names another user cannot guess in advance.
static bool RandomNumber(DWORD &number)
{
    typedef BOOLEAN(WINAPI * RtlGenRandomFn)(PVOID, ULONG);
    static RtlGenRandomFn generate =
        (RtlGenRandomFn)(void *)GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "SystemFunction036");
    return generate && generate(&number, sizeof(number));
}

bool CreateFreshTempRoot(const WCHAR *tempPath, int first, WCHAR (&root)[MAX_PATH])
{
    root[0] = 0;
    for (int attempt = 0; attempt < kTempRootAttempts; ++attempt) {
        WCHAR candidate[MAX_PATH];
        DWORD number = (DWORD)first;
        // The first name is the tick count; once it is taken, names that cannot be foreseen.
        if (attempt > 0 && !RandomNumber(number))
            number = (DWORD)first + (DWORD)attempt;
        if (!Format(candidate, L"%s%lu", tempPath, number))
            return false;
        if (CreateProtectedFolder(candidate)) {
            Copy(root, candidate);
            return true;
        }
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS && error != ERROR_ACCESS_DENIED)
            return false;
    }
    return false;
}

bool CreateFreshWindowsTempRoot(WCHAR (&root)[MAX_PATH])
{
    WCHAR windows[MAX_PATH], tempPath[MAX_PATH];
    UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    return length > 0 && length < MAX_PATH && Format(tempPath, L"%s\\Temp\\", windows) &&
           CreateFreshTempRoot(tempPath, (int)GetTickCount(), root);
}

HANDLE LockFolder(const WCHAR *path)
{
    // No FILE_SHARE_DELETE: while this handle is open nobody can rename or remove the folder,
    // and so nobody can put a folder of their own in its place.
    return CreateFileW(path, FILE_LIST_DIRECTORY | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
}

// What cannot go now goes at the next restart when `schedule` is set, else it stays.
static void RemoveEntry(const WCHAR *path, bool folder, bool schedule)
{
    if (!(folder ? RemoveDirectoryW(path) : DeleteFileW(path)) && schedule)
        MoveFileExW(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// A junction or link is removed itself; what it points at is never touched. A folder link
// goes with RemoveDirectoryW on Windows; a link shown as a folder may need DeleteFileW.
static void RemoveLink(const WCHAR *path, bool schedule)
{
    if (!RemoveDirectoryW(path))
        RemoveEntry(path, false, schedule);
}

static void RemoveTree(const WCHAR *folder, bool schedule)
{
    if (!folder || !folder[0])
        return;
    DWORD attributes = GetFileAttributesW(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        RemoveLink(folder, schedule);
        return;
    }
    WCHAR pattern[MAX_PATH];
    if (Format(pattern, L"%s\\*", folder)) {
        WIN32_FIND_DATAW entry;
        HANDLE search = FindFirstFileW(pattern, &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (lstrcmpW(entry.cFileName, L".") == 0 || lstrcmpW(entry.cFileName, L"..") == 0)
                    continue;
                WCHAR path[MAX_PATH];
                if (!Format(path, L"%s\\%s", folder, entry.cFileName))
                    continue;
                if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                    RemoveLink(path, schedule);
                } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveTree(path, schedule);
                } else {
                    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
                    RemoveEntry(path, false, schedule);
                }
            } while (FindNextFileW(search, &entry));
            FindClose(search);
        }
    }
    RemoveEntry(folder, true, schedule);
}

void RemoveTreeOrScheduleAtRestart(const WCHAR *folder)
{
    RemoveTree(folder, true);
}

void RemoveTreeNow(const WCHAR *folder)
{
    RemoveTree(folder, false);
}
