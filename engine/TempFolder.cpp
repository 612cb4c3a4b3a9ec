#include "engine/TempFolder.h"
#include "base/Format.h"
#include "engine/FolderSecurity.h"
#include <sddl.h>
#include <shlwapi.h>

// The string form of a SID of this process's token: its user, or the owner it gives what it makes.
static bool TokenSidText(TOKEN_INFORMATION_CLASS which, WCHAR (&sid)[192])
{
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    BYTE buffer[256];
    DWORD size = 0;
    WCHAR *text = NULL;
    bool found = false;
    if (GetTokenInformation(token, which, buffer, sizeof(buffer), &size)) {
        PSID known = which == TokenOwner ? ((TOKEN_OWNER *)buffer)->Owner : ((TOKEN_USER *)buffer)->User.Sid;
        found = ConvertSidToStringSidW(known, &text) && Copy(sid, text);
    }
    if (text)
        LocalFree(text);
    CloseHandle(token);
    return found;
}

PSECURITY_DESCRIPTOR CreateProtectedFolderDescriptor()
{
    WCHAR owner[192], user[192];
    if (!TokenSidText(TokenOwner, owner) || !TokenSidText(TokenUser, user))
        return NULL;
    // P: not inheriting from the parent; OICI: files and folders below get the same list.
    // 0x1200a9 is FILE_GENERIC_READ | FILE_GENERIC_EXECUTE. The owner is named so that the list
    // can be applied again as a whole.
    WCHAR sddl[600];
    if (!Format(sddl, L"O:%sD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;%s)", owner, user))
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

bool CreateFolderOnlyAdministratorsChange(const WCHAR *path)
{
    if (!CreateProtectedFolder(path))
        return false;
    // The list is applied once more while the folder is still empty: a volume without access
    // lists ignored it at creation and refuses it now, and such a folder is no protected one.
    PSECURITY_DESCRIPTOR descriptor = CreateProtectedFolderDescriptor();
    bool isProtected = descriptor && ApplyDescriptor(path, descriptor);
    if (descriptor)
        LocalFree(descriptor);
    if (!isProtected) {
        RemoveDirectoryW(path);
        SetLastError(ERROR_NO_SECURITY_ON_OBJECT);
    }
    return isProtected;
}

// A number from the system's random generator: names another user cannot guess in advance.
static bool RandomNumber(DWORD &number)
{
    typedef BOOLEAN(WINAPI * RtlGenRandomFn)(PVOID, ULONG);
    static RtlGenRandomFn generate =
        (RtlGenRandomFn)(void *)GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "SystemFunction036");
    return generate && generate(&number, sizeof(number));
}

static bool CreatePlainFolder(const WCHAR *path)
{
    return CreateDirectoryW(path, NULL) != FALSE;
}

// "<tempPath><number>" made by `create`, as CreateFreshTempRoot describes.
static bool CreateFreshFolder(const WCHAR *tempPath, int first, bool (*create)(const WCHAR *), WCHAR (&root)[MAX_PATH])
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
        if (create(candidate)) {
            Copy(root, candidate);
            return true;
        }
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS && error != ERROR_ACCESS_DENIED)
            return false;
    }
    return false;
}

bool CreateFreshTempRoot(const WCHAR *tempPath, int first, WCHAR (&root)[MAX_PATH])
{
    return CreateFreshFolder(tempPath, first, CreateProtectedFolder, root);
}

bool CreateFreshWindowsTempRoot(WCHAR (&root)[MAX_PATH])
{
    WCHAR windows[MAX_PATH], tempPath[MAX_PATH];
    UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    return length > 0 && length < MAX_PATH && Format(tempPath, L"%s\\Temp\\", windows) &&
           CreateFreshTempRoot(tempPath, (int)GetTickCount(), root);
}

ExtractionRoot CreateExtractionRoot(const WCHAR *userTemp, WCHAR (&root)[MAX_PATH])
{
    WCHAR windows[MAX_PATH], windowsTemp[MAX_PATH];
    UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    int tick = (int)GetTickCount();
    if (length > 0 && length < MAX_PATH && Format(windowsTemp, L"%s\\Temp\\", windows) &&
        CreateFreshFolder(windowsTemp, tick, CreateFolderOnlyAdministratorsChange, root))
        return kProtectedWindowsTemp;
    if (!userTemp || !userTemp[0])
        return kNoExtractionRoot;
    if (CreateFreshFolder(userTemp, tick, CreateFolderOnlyAdministratorsChange, root))
        return kProtectedUserTemp;
    return CreateFreshFolder(userTemp, tick, CreatePlainFolder, root) ? kPlainUserTemp : kNoExtractionRoot;
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

static void RemoveTree(const WCHAR *folder, bool schedule);

// Everything in `folder`, not the folder itself.
static void RemoveContents(const WCHAR *folder, bool schedule)
{
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
    RemoveContents(folder, schedule);
    RemoveEntry(folder, true, schedule);
}

void RemoveContentsOrScheduleAtRestart(const WCHAR *folder)
{
    DWORD attributes = folder && folder[0] ? GetFileAttributesW(folder) : INVALID_FILE_ATTRIBUTES;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        RemoveContents(folder, true);
}

void RemoveTreeOrScheduleAtRestart(const WCHAR *folder)
{
    RemoveTree(folder, true);
}

void RemoveTreeNow(const WCHAR *folder)
{
    RemoveTree(folder, false);
}
