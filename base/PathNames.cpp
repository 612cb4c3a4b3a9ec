#include "base/PathNames.h"
#include <string.h>

WCHAR FoldCase(WCHAR c)
{
    if (c < 0x80)
        return c >= L'a' && c <= L'z' ? (WCHAR)(c - 32) : c;
    CharUpperBuffW(&c, 1);
    return c;
}

bool SameIgnoringCase(const WCHAR *a, const WCHAR *b, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i]))
            return false;
        if (!a[i])
            return true;
    }
    return true;
}

bool SameIgnoringCase(const WCHAR *a, const WCHAR *b)
{
    return SameIgnoringCase(a, b, (size_t)-1);
}

bool IsPathWithin(const WCHAR *path, const WCHAR *folder)
{
    size_t length = wcslen(folder);
    while (length > 0 && folder[length - 1] == L'\\')
        --length;
    if (length == 0 || wcslen(path) < length || !SameIgnoringCase(path, folder, length))
        return false;
    return path[length] == 0 || path[length] == L'\\';
}
