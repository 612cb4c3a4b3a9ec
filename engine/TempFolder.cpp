#include "engine/TempFolder.h"
#include "app/Format.h"
#include <sddl.h>
#include <shlwapi.h>

// The string form of the current user's SID, or false.
static bool CurrentUserSid(WCHAR (&sid)[192])
{
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    BYTE buffer[256];
    DWORD size = 0;
    bool found = false;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size)) {
        WCHAR *text = NULL;
        if (ConvertSidToStringSidW(((TOKEN_USER *)buffer)->User.Sid, &text)) {
            found = Copy(sid, text);
            LocalFree(text);
        }
    }
    CloseHandle(token);
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

bool CreateFreshTempRoot(const WCHAR *tempPath, int first, WCHAR (&root)[MAX_PATH])
{
    root[0] = 0;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        WCHAR candidate[MAX_PATH];
        if (!Format(candidate, L"%s%d", tempPath, first + attempt))
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

static void ScheduleRemoval(const WCHAR *path)
{
    MoveFileExW(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}

void RemoveTreeOrScheduleAtRestart(const WCHAR *folder)
{
    if (!folder || !folder[0] || !PathIsDirectoryW(folder))
        return;
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
                if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveTreeOrScheduleAtRestart(path);
                } else {
                    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
                    if (!DeleteFileW(path))
                        ScheduleRemoval(path);
                }
            } while (FindNextFileW(search, &entry));
            FindClose(search);
        }
    }
    if (!RemoveDirectoryW(folder))
        ScheduleRemoval(folder);
}
