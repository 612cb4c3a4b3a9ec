#include "engine/payload/TempFolder.h"
#include "base/Format.h"
#include "base/FolderSecurity.h"
#include <sddl.h>
#include <winternl.h>
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
    // Administrators own it wherever the token may say so: the token's own default owner is the
    // user himself where a policy makes administrators' objects their creator's, and an owner may
    // always change the permissions, from his unelevated programs too.
    WCHAR owner[192], user[192];
    if (!(MayOwnAsAdministrators() ? Copy(owner, L"BA") : TokenSidText(TokenOwner, owner)) || !TokenSidText(TokenUser, user))
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

typedef NTSTATUS(NTAPI *NtCreateFileFn)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                        ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
typedef BOOLEAN(NTAPI *DosPathToNtPathFn)(PCWSTR, PUNICODE_STRING, PCWSTR *, PVOID);
typedef VOID(NTAPI *FreeUnicodeStringFn)(PUNICODE_STRING);
typedef ULONG(NTAPI *NtStatusToDosErrorFn)(NTSTATUS);

// Makes the new folder `path` with `descriptor` and opens it in the same step;
// INVALID_HANDLE_VALUE if the name was taken or nothing could be made (GetLastError tells).
static HANDLE CreateHeldFolder(const WCHAR *path, PSECURITY_DESCRIPTOR descriptor)
{
    // CreateDirectoryW gives no handle: between it and an open by name, whoever may rename what
    // lies in the folder above could move the new folder away and put a link in its place. The
    // native call makes the folder and opens it in one step.
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    NtCreateFileFn create = (NtCreateFileFn)(void *)GetProcAddress(ntdll, "NtCreateFile");
    DosPathToNtPathFn toNtPath = (DosPathToNtPathFn)(void *)GetProcAddress(ntdll, "RtlDosPathNameToNtPathName_U");
    FreeUnicodeStringFn freeString = (FreeUnicodeStringFn)(void *)GetProcAddress(ntdll, "RtlFreeUnicodeString");
    NtStatusToDosErrorFn toError = (NtStatusToDosErrorFn)(void *)GetProcAddress(ntdll, "RtlNtStatusToDosError");
    UNICODE_STRING name = {};
    if (!create || !toNtPath || !freeString || !toError || !path || !toNtPath(path, &name, NULL, NULL)) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, NULL, descriptor);
    IO_STATUS_BLOCK io = {};
    HANDLE folder = INVALID_HANDLE_VALUE;
    // Without FILE_SHARE_DELETE nobody can rename or remove it while it is held. No DELETE access
    // for this handle: the setup's own opens of the folder, which do not share deletion either,
    // would fail against it.
    NTSTATUS status = create(&folder, FILE_LIST_DIRECTORY | SYNCHRONIZE, &attributes, &io, NULL,
                             FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
                             FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0);
    freeString(&name);
    if (status < 0) {
        SetLastError(toError(status));
        return INVALID_HANDLE_VALUE;
    }
    return folder;
}

static HANDLE CreateHeldProtectedFolder(const WCHAR *path)
{
    PSECURITY_DESCRIPTOR descriptor = CreateProtectedFolderDescriptor();
    if (!descriptor)
        return INVALID_HANDLE_VALUE;
    HANDLE folder = CreateHeldFolder(path, descriptor);
    DWORD error = GetLastError();
    LocalFree(descriptor);
    SetLastError(error);
    return folder;
}

// Lets go of a folder just made: whether there was one.
static bool LetGo(HANDLE folder)
{
    if (folder == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(folder);
    return true;
}

bool CreateProtectedFolder(const WCHAR *path)
{
    return LetGo(CreateHeldProtectedFolder(path));
}

HANDLE CreateHeldFolderOnlyAdministratorsChange(const WCHAR *path)
{
    HANDLE folder = CreateHeldProtectedFolder(path);
    if (folder == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    // The list is applied once more while the folder is still empty: a volume without access
    // lists ignored it at creation and refuses it now, and such a folder is no protected one.
    PSECURITY_DESCRIPTOR descriptor = CreateProtectedFolderDescriptor();
    bool isProtected = descriptor && ApplyDescriptor(path, descriptor);
    if (descriptor)
        LocalFree(descriptor);
    if (!isProtected) {
        // Empty and never used: if someone swapped it once let go, what they put there is
        // removed only if it is an empty folder or a link itself.
        CloseHandle(folder);
        RemoveDirectoryW(path);
        SetLastError(ERROR_NO_SECURITY_ON_OBJECT);
        return INVALID_HANDLE_VALUE;
    }
    return folder;
}

// A number from the system's random generator: names another user cannot guess in advance.
static bool RandomNumber(DWORD &number)
{
    typedef BOOLEAN(WINAPI * RtlGenRandomFn)(PVOID, ULONG);
    static RtlGenRandomFn generate =
        (RtlGenRandomFn)(void *)GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "SystemFunction036");
    return generate && generate(&number, sizeof(number));
}

// "<tempPath><number>" made and held by `create`, as CreateFreshTempRoot describes.
static HANDLE CreateFreshFolder(const WCHAR *tempPath, int first, HANDLE (*create)(const WCHAR *),
                                WCHAR (&root)[MAX_PATH])
{
    root[0] = 0;
    for (int attempt = 0; attempt < kTempRootAttempts; ++attempt) {
        WCHAR candidate[MAX_PATH];
        DWORD number = (DWORD)first;
        // The first name is the tick count; once it is taken, names that cannot be foreseen.
        if (attempt > 0 && !RandomNumber(number))
            number = (DWORD)first + (DWORD)attempt;
        if (!Format(candidate, L"%s%lu", tempPath, number))
            return INVALID_HANDLE_VALUE;
        HANDLE folder = create(candidate);
        if (folder != INVALID_HANDLE_VALUE) {
            Copy(root, candidate);
            return folder;
        }
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS && error != ERROR_ACCESS_DENIED)
            return INVALID_HANDLE_VALUE;
    }
    return INVALID_HANDLE_VALUE;
}

bool CreateFreshTempRoot(const WCHAR *tempPath, int first, WCHAR (&root)[MAX_PATH])
{
    return LetGo(CreateFreshFolder(tempPath, first, CreateHeldProtectedFolder, root));
}

// "<Windows folder>\Temp\".
static bool WindowsTempPath(WCHAR (&tempPath)[MAX_PATH])
{
    WCHAR windows[MAX_PATH];
    UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    return length > 0 && length < MAX_PATH && Format(tempPath, L"%s\\Temp\\", windows);
}

bool CreateFreshWindowsTempRoot(WCHAR (&root)[MAX_PATH])
{
    WCHAR tempPath[MAX_PATH];
    root[0] = 0;
    return WindowsTempPath(tempPath) && CreateFreshTempRoot(tempPath, (int)GetTickCount(), root);
}

HANDLE CreateHeldWindowsTempRoot(WCHAR (&root)[MAX_PATH])
{
    WCHAR tempPath[MAX_PATH];
    root[0] = 0;
    return WindowsTempPath(tempPath)
               ? CreateFreshFolder(tempPath, (int)GetTickCount(), CreateHeldFolderOnlyAdministratorsChange, root)
               : INVALID_HANDLE_VALUE;
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

void ScheduleRemovalAtRestart(const WCHAR *folder)
{
    if (folder && folder[0])
        MoveFileExW(folder, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}

void RemoveTreeNow(const WCHAR *folder)
{
    RemoveTree(folder, false);
}
