// Paths and names compared as the file system compares them.
#pragma once
#include <windows.h>

// One character as the file system compares names: upper case, nothing else folded or ignored.
WCHAR FoldCase(WCHAR c);
// True when `path` is `folder` itself or lies below it (whole components, any case).
bool IsPathWithin(const WCHAR *path, const WCHAR *folder);
// Names compared as the file system compares them: ordinal, ignoring case only (no character is
// skipped, as a linguistic comparison skips a soft hyphen). The first compares at most `length`.
bool SameIgnoringCase(const WCHAR *a, const WCHAR *b, size_t length);
bool SameIgnoringCase(const WCHAR *a, const WCHAR *b);
