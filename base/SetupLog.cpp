#include "base/SetupLog.h"
#include "base/Format.h"
#include "base/FolderSecurity.h"
#include <aclapi.h>
#include <sddl.h>
#include <stdarg.h>
#include <wchar.h>

namespace {

HANDLE g_log = INVALID_HANDLE_VALUE;
CRITICAL_SECTION g_lock;
LONG g_lockReady = 0;

// Every log starts with this line, and an existing file is appended to only when it does: a
// script or any other file someone names as the log stays as it is.
const char kFirstLine[] = "\xEF\xBB\xBF岚舟浏览器安装与卸载日志\r\n";
const DWORD kFirstLineBytes = sizeof(kFirstLine) - 1;

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
    WCHAR escaped[1200], line[1240];
    EscapeLogText(text, escaped, 1200);
    FormatText(line, 1240, L"%04u-%02u-%02u %02u:%02u:%02u.%03u %s\r\n", now.wYear, now.wMonth, now.wDay, now.wHour,
               now.wMinute, now.wSecond, now.wMilliseconds, escaped);
    char utf8[3800];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8, sizeof(utf8), NULL, NULL);
    if (bytes <= 1)
        return;
    EnterCriticalSection(&g_lock);
    DWORD written = 0;
    if (g_log != INVALID_HANDLE_VALUE)
        WriteFile(g_log, utf8, (DWORD)(bytes - 1), &written, NULL);
    LeaveCriticalSection(&g_lock);
}

// The device names Windows keeps in every folder, with or without an extension: "NUL",
// "com1.txt", "CONOUT$".
bool IsDeviceName(const WCHAR *name, size_t length)
{
    static const WCHAR *const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    size_t base = 0;
    while (base < length && name[base] != L'.')
        ++base;
    for (const WCHAR *device : kDevices) {
        if (base == wcslen(device) && _wcsnicmp(name, device, base) == 0)
            return true;
    }
    // COM1 to COM9 and LPT1 to LPT9, also with the superscript digits ¹ ² ³.
    WCHAR digit = base == 4 ? name[3] : 0;
    bool numbered = (digit >= L'1' && digit <= L'9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    return numbered && (_wcsnicmp(name, L"COM", 3) == 0 || _wcsnicmp(name, L"LPT", 3) == 0);
}

// A file or folder the path names is a link or junction: by the handle, opened without following
// it, and by the path, for systems that follow links on every open (Wine).
bool IsLink(HANDLE handle, const WCHAR *path)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return true;
    DWORD attributes = GetFileAttributesW(path);
    return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Opens every folder of `full` below its drive's root, each without following a link, and
// holds it without delete sharing: none of them can be renamed or replaced until they are
// closed, so the file's path leads where it was checked to lead.
LogRefusal HoldFolders(const WCHAR *full, HANDLE *held, int capacity, int &count)
{
    count = 0;
    WCHAR folder[MAX_PATH];
    for (const WCHAR *end = wcschr(full + 3, L'\\'); end; end = wcschr(end + 1, L'\\')) {
        if (count == capacity)
            return kLogBadPath;
        wmemcpy(folder, full, (size_t)(end - full));
        folder[end - full] = 0;
        HANDLE handle = CreateFileW(folder, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
        if (handle == INVALID_HANDLE_VALUE)
            return kLogUnreachable;
        held[count++] = handle;
        if (IsLink(handle, folder))
            return kLogThroughLink;
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(handle, &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return kLogUnreachable;
    }
    return kLogOpened;
}

// What the opened file is: a plain file with one name, not a link, a folder or a device.
LogRefusal CheckPlainFile(HANDLE file, const WCHAR *path)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return kLogNotAPlainFile;
    if (IsLink(file, path))
        return kLogThroughLink;
    return info.nNumberOfLinks == 1 ? kLogOpened : kLogNotAPlainFile;
}

// Our own first line; or, as the logs of earlier versions began, a time stamp and the
// browser's name ("2026-11-30 10:00:00.000 岚舟浏览器..."), so that a deployment's log goes on.
bool StartsAsOurLog(const char *start, DWORD read)
{
    if (read >= kFirstLineBytes && memcmp(start, kFirstLine, kFirstLineBytes) == 0)
        return true;
    static const char stamp[] = "dddd-dd-dd dd:dd:dd.ddd ";
    static const char name[] = "岚舟浏览器";
    const DWORD stampBytes = sizeof(stamp) - 1, nameBytes = sizeof(name) - 1;
    if (read < stampBytes + nameBytes)
        return false;
    for (DWORD i = 0; i < stampBytes; ++i) {
        if (stamp[i] == 'd' ? (start[i] < '0' || start[i] > '9') : start[i] != stamp[i])
            return false;
    }
    return memcmp(start + stampBytes, name, nameBytes) == 0;
}

// An existing file is a log of ours when its owner is trusted, nobody else may write into it,
// and it starts with our first line.
LogRefusal CheckOurLog(HANDLE file)
{
    PSID owner = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    CRunningAccount account;
    bool trusted = GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                   NULL, NULL, NULL, &descriptor) == ERROR_SUCCESS &&
                   OwnerIsAdministratorsOr(owner, account.Trusted()) &&
                   !OthersCouldChange(descriptor, kChangeInsideOf, account.Trusted());
    if (descriptor)
        LocalFree(descriptor);
    if (!trusted)
        return kLogForeign;
    char start[kFirstLineBytes + 32];
    DWORD read = 0;
    OVERLAPPED at = {};
    if (!ReadFile(file, start, sizeof(start), &read, &at) || !StartsAsOurLog(start, read))
        return kLogForeign;
    return kLogOpened;
}

// A new log, with the access list of an install folder: administrators and SYSTEM may change
// it, users only read it.
HANDLE MakeLog(const WCHAR *full, DWORD access, DWORD sharing)
{
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), CreateInstallFolderDescriptor(), FALSE};
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    HANDLE file = CreateFileW(full, access, sharing, &attributes, CREATE_NEW, flags, NULL);
    // Without administrator rights (a silent run that ends with 740) the owner cannot be
    // Administrators: the log then gets the folder's own protection.
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_OWNER)
        file = CreateFileW(full, access, sharing, NULL, CREATE_NEW, flags, NULL);
    DWORD error = GetLastError();
    if (attributes.lpSecurityDescriptor)
        LocalFree(attributes.lpSecurityDescriptor);
    SetLastError(error);
    return file;
}

LogRefusal OpenLogIn(const WCHAR *full, HANDLE &opened)
{
    // Reading only for the first line; FILE_APPEND_DATA without FILE_WRITE_DATA puts every line at
    // the end, also when two runs share the file.
    const DWORD access = FILE_READ_DATA | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
    const DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
    // Twice: another run may make the log between this one's two attempts.
    for (int attempt = 0; attempt < 2; ++attempt) {
        HANDLE file = CreateFileW(full, access, sharing, NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
        bool existing = file != INVALID_HANDLE_VALUE;
        if (!existing) {
            if (GetLastError() != ERROR_FILE_NOT_FOUND) {
                DWORD attributes = GetFileAttributesW(full);
                bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
                return folder ? kLogNotAPlainFile : kLogUnreachable;
            }
            file = MakeLog(full, access, sharing);
            if (file == INVALID_HANDLE_VALUE) {
                DWORD error = GetLastError();
                if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
                    continue;
                return kLogUnreachable;
            }
        }
        LogRefusal refusal = CheckPlainFile(file, full);
        DWORD written = 0;
        if (refusal == kLogOpened && existing)
            refusal = CheckOurLog(file);
        else if (refusal == kLogOpened && (!WriteFile(file, kFirstLine, kFirstLineBytes, &written, NULL) ||
                                           written != kFirstLineBytes))
            refusal = kLogUnreachable;
        if (refusal != kLogOpened) {
            CloseHandle(file);
            return refusal;
        }
        opened = file;
        return kLogOpened;
    }
    // A name that can be neither opened nor made: a link that leads nowhere.
    return kLogThroughLink;
}

}

bool OwnerIsAdministratorsOr(PSID owner, PSID self)
{
    if (!owner || !IsValidSid(owner))
        return false;
    return IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid) ||
           (self && IsValidSid(self) && EqualSid(owner, self));
}

bool LogPathAcceptable(const WCHAR *full)
{
    // A drive letter's root, then names: no "\\server", "\\.\" or "\\?\" path.
    if (!full || !((full[0] >= L'A' && full[0] <= L'Z') || (full[0] >= L'a' && full[0] <= L'z')) || full[1] != L':' ||
        full[2] != L'\\')
        return false;
    for (const WCHAR *name = full + 3;;) {
        size_t length = wcscspn(name, L"\\");
        if (length == 0)
            return false;
        for (size_t i = 0; i < length; ++i) {
            // A ':' would name a stream of the file, or of a folder on the way.
            if (name[i] < 32 || name[i] == 127 || wcschr(L"<>:\"/|?*", name[i]))
                return false;
        }
        if (name[length - 1] == L' ' || name[length - 1] == L'.' || IsDeviceName(name, length))
            return false;
        // A log is a ".log" or ".txt" file: never a script, a shortcut or a program that
        // someone's logon or a double click would run.
        if (!name[length])
            return length > 4 && (lstrcmpiW(name + length - 4, L".log") == 0 || lstrcmpiW(name + length - 4, L".txt") == 0);
        name += length + 1;
    }
}

void EscapeLogText(const WCHAR *text, WCHAR *escaped, size_t capacity)
{
    if (!capacity)
        return;
    size_t length = 0;
    for (; text && *text; ++text) {
        WCHAR c = *text;
        WCHAR piece[8] = {c, 0};
        if (c == L'\r' || c == L'\n' || c == L'\t')
            FormatText(piece, 8, L"\\%c", c == L'\r' ? L'r' : c == L'\n' ? L'n' : L't');
        else if (c < 32 || c == 127)
            FormatText(piece, 8, L"\\x%02X", (unsigned)c);
        else if (c == 0x85 || c == 0x2028 || c == 0x2029)
            FormatText(piece, 8, L"\\u%04X", (unsigned)c);
        size_t pieceLength = wcslen(piece);
        if (length + pieceLength >= capacity)
            break;
        wmemcpy(escaped + length, piece, pieceLength);
        length += pieceLength;
    }
    escaped[length] = 0;
}

bool OpenSetupLog(const WCHAR *path, LogRefusal *refusal)
{
    CloseSetupLog();
    LogRefusal why = kLogBadPath;
    WCHAR full[MAX_PATH] = L"";
    DWORD length = path && path[0] ? GetFullPathNameW(path, MAX_PATH, full, NULL) : 0;
    HANDLE file = INVALID_HANDLE_VALUE;
    WCHAR root[4] = {full[0], L':', L'\\', 0};
    // A drive letter may stand for a network folder too.
    if (length && length < MAX_PATH && LogPathAcceptable(full) && GetDriveTypeW(root) != DRIVE_REMOTE) {
        HANDLE held[MAX_PATH / 2];
        int count = 0;
        why = HoldFolders(full, held, MAX_PATH / 2, count);
        if (why == kLogOpened)
            why = OpenLogIn(full, file);
        while (count)
            CloseHandle(held[--count]);
    }
    if (refusal)
        *refusal = why;
    if (why != kLogOpened)
        return false;
    EnterCriticalSection(&g_lock);
    g_log = file;
    LeaveCriticalSection(&g_lock);
    return true;
}

const WCHAR *DescribeLogRefusal(LogRefusal refusal)
{
    switch (refusal) {
    case kLogOpened:
        return L"已打开";
    case kLogBadPath:
        return L"须为本地磁盘上以 .log 或 .txt 结尾的文件路径，不能是设备、数据流、网络路径或无效的名称";
    case kLogThroughLink:
        return L"该文件或其上层文件夹是链接或交接点";
    case kLogNotAPlainFile:
        return L"不是普通文件（文件夹、设备或有多个名称的文件）";
    case kLogForeign:
        return L"该文件已存在，但不是本程序的日志或属于其他用户";
    case kLogUnreachable:
        return L"无法打开或创建该文件（文件夹不存在或没有访问权限）";
    }
    return L"未知";
}

// Writes to a console in its own characters, to a pipe or file as UTF-8.
static bool WriteTo(HANDLE out, const WCHAR *text)
{
    DWORD mode = 0, written = 0, length = (DWORD)wcslen(text);
    if (GetConsoleMode(out, &mode))
        return WriteConsoleW(out, text, length, &written, NULL) && written == length;
    char utf8[2048];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof(utf8), NULL, NULL);
    return bytes > 1 && WriteFile(out, utf8, (DWORD)(bytes - 1), &written, NULL) && written == (DWORD)(bytes - 1);
}

void TellConsole(const WCHAR *text)
{
    WCHAR line[1024];
    FormatText(line, 1022, L"%s", text);
    wcscat(line, L"\r\n");
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error && error != INVALID_HANDLE_VALUE && WriteTo(error, line))
        return;
    // A program with windows gets no console of its own: the one it was started from.
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                 OPEN_EXISTING, 0, NULL);
    if (console != INVALID_HANDLE_VALUE) {
        WriteTo(console, line);
        CloseHandle(console);
    }
    FreeConsole();
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
