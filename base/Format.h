// printf-style formatting into fixed wide buffers. The result is always terminated; a text
// that does not fit is cut at the buffer's size and the call reports false.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdarg.h>

bool FormatTextV(WCHAR *buffer, size_t capacity, const WCHAR *pattern, va_list args);
bool FormatText(WCHAR *buffer, size_t capacity, const WCHAR *pattern, ...);

template <size_t N>
bool Format(WCHAR (&buffer)[N], const WCHAR *pattern, ...)
{
    va_list args;
    va_start(args, pattern);
    bool fitted = FormatTextV(buffer, N, pattern, args);
    va_end(args);
    return fitted;
}

// Copies a text into a fixed buffer, cut at its size; false when it was cut.
bool CopyText(WCHAR *buffer, size_t capacity, const WCHAR *text);

template <size_t N>
bool Copy(WCHAR (&buffer)[N], const WCHAR *text)
{
    return CopyText(buffer, N, text);
}
