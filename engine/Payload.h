// The payload installer carried as resource BIN 228, and writing resources out to files.
#pragma once
#include <windows.h>

enum { kPayloadResourceId = 228 };

// Writes a resource of this executable to a new file; false when any argument is null, the
// resource is missing, the file exists already or could not be written whole.
bool WriteResourceToFile(const WCHAR *path, const WCHAR *type, const WCHAR *name);
