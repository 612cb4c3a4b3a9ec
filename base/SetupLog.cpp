#include "base/SetupLog.h"
#include "base/Format.h"
#include <stdarg.h>

namespace {

HANDLE g_log = INVALID_HANDLE_VALUE;
CRITICAL_SECTION g_lock;
LONG g_lockReady = 0;

void EnsureLock()
{
    // The first caller prepares the lock; the log is opened at start-up, before other threads.
    if (InterlockedCompareExchange(&g_lockReady, 1, 0) == 0)
        InitializeCriticalSection(&g_lock);
}

void WriteLine(const WCHAR *text)
{
    if (g_log == INVALID_HANDLE_VALUE)
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    WCHAR line[1200];
    FormatText(line, 1200, L"%04u-%02u-%02u %02u:%02u:%02u.%03u %s\r\n", now.wYear, now.wMonth, now.wDay, now.wHour,
               now.wMinute, now.wSecond, now.wMilliseconds, text);
    char utf8[3600];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8, sizeof(utf8), NULL, NULL);
    if (bytes <= 1)
        return;
    EnterCriticalSection(&g_lock);
    DWORD written = 0;
    if (g_log != INVALID_HANDLE_VALUE)
        WriteFile(g_log, utf8, (DWORD)(bytes - 1), &written, NULL);
    LeaveCriticalSection(&g_lock);
}

}

bool OpenSetupLog(const WCHAR *path)
{
    CloseSetupLog();
    // FILE_APPEND_DATA: every line lands at the end, also when two runs share the file.
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    g_log = file;
    return true;
}

void CloseSetupLog()
{
    EnsureLock();
    EnterCriticalSection(&g_lock);
    if (g_log != INVALID_HANDLE_VALUE)
        CloseHandle(g_log);
    g_log = INVALID_HANDLE_VALUE;
    LeaveCriticalSection(&g_lock);
}

bool SetupLogIsOpen()
{
    return g_log != INVALID_HANDLE_VALUE;
}

void LogStep(const WCHAR *pattern, ...)
{
    if (g_log == INVALID_HANDLE_VALUE)
        return;
    WCHAR text[1024];
    va_list args;
    va_start(args, pattern);
    FormatTextV(text, 1024, pattern, args);
    va_end(args);
    WriteLine(text);
}

void LogFailure(DWORD error, const WCHAR *pattern, ...)
{
    if (g_log == INVALID_HANDLE_VALUE)
        return;
    WCHAR text[1024], reason[256] = L"", line[1100];
    va_list args;
    va_start(args, pattern);
    FormatTextV(text, 1024, pattern, args);
    va_end(args);
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, 0, reason,
                                  256, NULL);
    // The system's text ends with a line break.
    while (length && (reason[length - 1] == L'\n' || reason[length - 1] == L'\r' || reason[length - 1] == L' '))
        reason[--length] = 0;
    FormatText(line, 1100, L"%s (error %lu%s%s)", text, error, length ? L": " : L"", reason);
    WriteLine(line);
}

static volatile LONG g_silent = 0;

void SetSilentRun(bool silent)
{
    InterlockedExchange(&g_silent, silent ? 1 : 0);
}

bool IsSilentRun()
{
    return InterlockedCompareExchange(&g_silent, 0, 0) != 0;
}

int ShowMessage(HWND owner, const WCHAR *text, const WCHAR *caption, UINT type)
{
    LogStep(L"%s：%s", caption, text);
    if (!IsSilentRun())
        return MessageBoxW(owner, text, caption, type);
    UINT buttons = type & MB_TYPEMASK;
    return buttons == MB_OK ? IDOK : buttons == MB_YESNO ? IDNO : IDCANCEL;
}
