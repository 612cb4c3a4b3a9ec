// The payload installer carried as resource BIN 228, and writing resources out to files.
#pragma once
#include <windows.h>

enum { kPayloadResourceId = 228 };

// The bytes of a resource of this executable; false when it is missing.
bool FindResourceBytes(const WCHAR *type, const WCHAR *name, const void *&bytes, DWORD &size);
// Writes a resource of this executable to a new file; false when any argument is null, the
// resource is missing, the file exists already or could not be written whole.
bool WriteResourceToFile(const WCHAR *path, const WCHAR *type, const WCHAR *name);
// Opens a file for reading, sharing only reading (so that it can be neither changed, renamed nor
// deleted while the handle is open), and reads it back through that handle: the handle when the
// file holds exactly `size` bytes equal to `bytes`, else INVALID_HANDLE_VALUE. A link or a
// folder is never taken for the file.
HANDLE HoldFileWithContents(const WCHAR *path, const void *bytes, DWORD size);
// WriteResourceToFile, then HoldFileWithContents with the resource: a file changed or put in its
// place between the writing and the hold is refused.
HANDLE WriteResourceAndHold(const WCHAR *path, const WCHAR *type, const WCHAR *name);

// What the drive of `folder` lacks for `bytes` in `fileCount` new files, each taking up to a
// cluster of 4 KB more than its size; 0 when they fit, or when the drive does not answer (then
// writing the files tells).
ULONGLONG DriveShortfall(const WCHAR *folder, ULONGLONG bytes, int fileCount);
