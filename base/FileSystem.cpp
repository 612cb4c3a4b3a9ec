#include "base/FileSystem.h"
#include "base/Format.h"
#include <shlwapi.h>

BOOL CreateDirectoryTree(const WCHAR *path)
{
    if (!path || !path[0])
        return FALSE;
    if (PathIsDirectoryW(path))
        return TRUE;
    WCHAR parent[MAX_PATH];
    if (!Copy(parent, path) || !PathRemoveFileSpecW(parent))
        return FALSE;
    if (!PathIsDirectoryW(parent))
        CreateDirectoryTree(parent);
    return CreateDirectoryW(path, NULL);
}

bool IsFolderWritable(const WCHAR *path)
{
    if (!path || !PathIsDirectoryW(path))
        return false;
    DWORD tick = GetTickCount();
    for (int attempt = 0; attempt < 10000; ++attempt) {
        WCHAR probe[MAX_PATH];
        if (!Format(probe, L"%s\\%d.tmp", path, (int)(tick + attempt)))
            return false;
        // CREATE_NEW: a file of that name that is already there is left alone.
        HANDLE file = CreateFileW(probe, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            DeleteFileW(probe);
            return true;
        }
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return false;
    }
    return false;
}

bool IsFileInUse(const WCHAR *path)
{
    // Opening for writing without sharing is refused while anyone else has the file open or
    // mapped; nothing is written.
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return false;
    }
    DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

bool IsPlainRelativePath(const WCHAR *path, size_t length)
{
    if (length < 2 || length >= MAX_PATH || path[0] != L'\\')
        return false;
    size_t partStart = 1;
    for (size_t i = 1; i <= length; ++i) {
        if (i < length && path[i] != L'\\') {
            if (path[i] < 32 || wcschr(L"/:*?\"<>|", path[i]))
                return false;
            continue;
        }
        size_t part = i - partStart;
        if (part == 0 || (path[partStart] == L'.' && (part == 1 || (part == 2 && path[partStart + 1] == L'.'))))
            return false;
        partStart = i + 1;
    }
    return true;
}

bool IsReparsePoint(const WCHAR *path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}
