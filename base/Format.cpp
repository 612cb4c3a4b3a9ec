#include "base/Format.h"
#include <stdio.h>
#include <wchar.h>

bool FormatTextV(WCHAR *buffer, size_t capacity, const WCHAR *pattern, va_list args)
{
    if (!buffer || capacity == 0)
        return false;
    int written = _vsnwprintf(buffer, capacity, pattern, args);
    buffer[capacity - 1] = 0;
    return written >= 0 && (size_t)written < capacity;
}

bool FormatText(WCHAR *buffer, size_t capacity, const WCHAR *pattern, ...)
{
    va_list args;
    va_start(args, pattern);
    bool fitted = FormatTextV(buffer, capacity, pattern, args);
    va_end(args);
    return fitted;
}

bool CopyText(WCHAR *buffer, size_t capacity, const WCHAR *text)
{
    if (!buffer || capacity == 0)
        return false;
    size_t i = 0;
    for (; text && text[i] && i + 1 < capacity; ++i)
        buffer[i] = text[i];
    buffer[i] = 0;
    return !text || text[i] == 0;
}
