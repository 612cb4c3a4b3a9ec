// Copying a file while checking it, for files that others could have changed since their check.
#pragma once
#include <windows.h>

enum CheckedCopyResult {
    kCheckedCopyDone,
    kCheckedCopyFailed,   // the copy could not be written (GetLastError says why)
    kCheckedCopyDiffers,  // the source is not the file expected or cannot be read; nothing is left at `to`
};
// Copies `from` to `to` (with `mustBeNew`, failing when `to` exists) through one handle on the
// source that shares only reading, so that it cannot change during the copy, and takes the size
// and SHA-256 of the very bytes it writes. A link, a folder, or bytes other than `size` and
// `sha256` name differ.
CheckedCopyResult CopyFileChecked(const WCHAR *from, const WCHAR *to, bool mustBeNew, ULONGLONG size,
                                  const BYTE (&sha256)[32]);
