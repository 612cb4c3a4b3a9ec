// The file operations of an update, on the real file system.
#include "engine/FileUpdate.h"
#include "base/Checksum.h"
#include "base/Format.h"
#include "base/SafePaths.h"
#include "engine/FileSystem.h"
#include <stdlib.h>
#include <wchar.h>

bool CFileOperations::CopyTo(const WCHAR *from, const WCHAR *to, bool mustBeNew)
{
    return CopyFileW(from, to, mustBeNew) != FALSE;
}

bool CFileOperations::FlushFile(const WCHAR *path)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool flushed = FlushFileBuffers(file) != FALSE;
    CloseHandle(file);
    return flushed;
}

bool CFileOperations::FlushVolume(const WCHAR *folder)
{
    WCHAR mountPoint[MAX_PATH], volume[MAX_PATH];
    if (!GetVolumePathNameW(folder, mountPoint, MAX_PATH) ||
        !GetVolumeNameForVolumeMountPointW(mountPoint, volume, MAX_PATH))
        return false;
    size_t length = wcslen(volume);
    if (length > 0 && volume[length - 1] == L'\\')
        volume[length - 1] = 0;  // the volume itself, not its root folder
    HANDLE handle = CreateFileW(volume, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                OPEN_EXISTING, 0, NULL);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    bool flushed = FlushFileBuffers(handle) != FALSE;
    CloseHandle(handle);
    return flushed;
}

bool CFileOperations::HardLink(const WCHAR *link, const WCHAR *existing)
{
    return CreateHardLinkW(link, existing, NULL) != FALSE;
}

bool CFileOperations::Move(const WCHAR *from, const WCHAR *to, DWORD flags)
{
    return MoveFileExW(from, to, flags) != FALSE;
}

bool CFileOperations::MakeFolder(const WCHAR *path)
{
    return CreateDirectoryW(path, NULL) != FALSE;
}

static volatile LONG g_scheduledAtRestart = 0;

void CFileOperations::Discard(const WCHAR *folder, const WCHAR *relative)
{
    CHeldPath file;
    if (!file.Open(folder, relative, DELETE | FILE_WRITE_ATTRIBUTES)) {
        // Open elsewhere without delete sharing: its place is checked with an open that needs no
        // sharing, and it goes at restart.
        if (GetLastError() != ERROR_SHARING_VIOLATION || !file.Open(folder, relative, 0))
            return;
    } else if (file.IsFolder() || file.Delete()) {
        return;
    }
    if (file.IsFolder())
        return;
    // Still in use, such as a running program's image. The folders on the way stay held until
    // the name is recorded.
    WCHAR path[MAX_PATH];
    if (Format(path, L"%s%s", folder, relative) && MoveFileExW(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT))
        InterlockedIncrement(&g_scheduledAtRestart);
}

int FilesScheduledAtRestart()
{
    return (int)InterlockedCompareExchange(&g_scheduledAtRestart, 0, 0);
}

bool CFileOperations::WriteJournal(HANDLE journal, const void *bytes, DWORD size)
{
    DWORD written = 0;
    return WriteFile(journal, bytes, size, &written, NULL) && written == size;
}

bool CFileOperations::FlushJournal(HANDLE journal)
{
    return FlushFileBuffers(journal) != FALSE;
}

bool CFileOperations::CutJournal(HANDLE journal, DWORD size)
{
    return SetFilePointer(journal, (LONG)size, NULL, FILE_BEGIN) == size && SetEndOfFile(journal) &&
           FlushFileBuffers(journal);
}
