// The file operations of an update, on the real file system.
#include "engine/update/FileUpdate.h"
#include "base/Checksum.h"
#include "base/Format.h"
#include "base/SafePaths.h"
#include "engine/update/FileOperations.h"
#include "base/FileSystem.h"
#include "base/FolderSecurity.h"
#include "engine/payload/PayloadManifest.h"
#include <wincrypt.h>
#include <stdlib.h>
#include <wchar.h>

bool CFileOperations::CopyTo(const WCHAR *from, const WCHAR *to, bool mustBeNew)
{
    return CopyFileW(from, to, mustBeNew) != FALSE;
}

bool CFileOperations::MoveIn(const WCHAR *from, const WCHAR *to, bool mustBeNew)
{
    // Without MOVEFILE_COPY_ALLOWED: a move to another volume would be a copy, and fails instead.
    if (!MoveFileExW(from, to, mustBeNew ? 0 : MOVEFILE_REPLACE_EXISTING)) {
        if (GetLastError() == ERROR_ALREADY_EXISTS)
            SetLastError(ERROR_FILE_EXISTS);
        return false;
    }
    // A moved file keeps the access list it was given where it was made: it takes on what its
    // new folder passes down instead. One that cannot goes back, for a copy to take its place;
    // where even that fails it goes, rather than stay with a list the folder did not give it.
    PSECURITY_DESCRIPTOR inheriting = CreateInheritingDescriptor();
    bool inherits = ApplyDescriptor(to, inheriting);
    if (inheriting)
        LocalFree(inheriting);
    if (inherits)
        return true;
    if (!MoveFileExW(to, from, 0))
        DeleteFileW(to);
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
}

// Reads the open source to its end, writing every piece to `target` and hashing it.
static CheckedCopyResult CopyAndHash(HANDLE source, HANDLE target, ULONGLONG size, const BYTE (&sha256)[32])
{
    HCRYPTPROV provider = SharedHashProvider();
    HCRYPTHASH hash = 0;
    const DWORD kBufferSize = 256 * 1024;
    BYTE *buffer = (BYTE *)HeapAlloc(GetProcessHeap(), 0, kBufferSize);
    if (!buffer || !provider || !CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) {
        DWORD error = GetLastError();
        if (buffer)
            HeapFree(GetProcessHeap(), 0, buffer);
        SetLastError(error);
        return kCheckedCopyFailed;
    }
    CheckedCopyResult result = kCheckedCopyDone;
    ULONGLONG copied = 0;
    for (;;) {
        DWORD read = 0, written = 0;
        if (!ReadFile(source, buffer, kBufferSize, &read, NULL)) {
            result = kCheckedCopyDiffers;
            break;
        }
        if (read == 0)
            break;
        copied += read;
        if (copied > size) {
            result = kCheckedCopyDiffers;
            break;
        }
        if (!CryptHashData(hash, buffer, read, 0) || !WriteFile(target, buffer, read, &written, NULL) || written != read) {
            result = kCheckedCopyFailed;
            break;
        }
    }
    BYTE digest[32];
    DWORD digestSize = sizeof(digest);
    DWORD error = GetLastError();
    if (result == kCheckedCopyDone && (copied != size || !CryptGetHashParam(hash, HP_HASHVAL, digest, &digestSize, 0) ||
                                       digestSize != sizeof(digest) || memcmp(digest, sha256, sizeof(digest)) != 0))
        result = kCheckedCopyDiffers;
    CryptDestroyHash(hash);
    HeapFree(GetProcessHeap(), 0, buffer);
    SetLastError(error);
    return result;
}

CheckedCopyResult CopyFileChecked(const WCHAR *from, const WCHAR *to, bool mustBeNew, ULONGLONG size,
                                  const BYTE (&sha256)[32])
{
    // Only reading is shared: the bytes cannot change between their check and their copy.
    HANDLE source = CreateFileW(from, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (source == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_FILE_CORRUPT);
        return kCheckedCopyDiffers;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(source, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
        (((ULONGLONG)info.nFileSizeHigh << 32) | info.nFileSizeLow) != size) {
        CloseHandle(source);
        SetLastError(ERROR_FILE_CORRUPT);
        return kCheckedCopyDiffers;
    }
    HANDLE target = CreateFileW(to, GENERIC_WRITE, 0, NULL, mustBeNew ? CREATE_NEW : CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (target == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        CloseHandle(source);
        SetLastError(error);
        return kCheckedCopyFailed;
    }
    CheckedCopyResult result = CopyAndHash(source, target, size, sha256);
    DWORD error = result == kCheckedCopyDiffers ? (DWORD)ERROR_FILE_CORRUPT : GetLastError();
    // The copy keeps the source's time of writing, as CopyFileW does.
    if (result == kCheckedCopyDone)
        SetFileTime(target, NULL, NULL, &info.ftLastWriteTime);
    CloseHandle(target);
    CloseHandle(source);
    if (result != kCheckedCopyDone)
        DeleteFileW(to);
    SetLastError(error);
    return result;
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
