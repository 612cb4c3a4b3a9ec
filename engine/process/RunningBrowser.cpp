#include "engine/process/RunningBrowser.h"
#include "engine/process/Process.h"
#include "base/FileSystem.h"
#include "base/DllSafety.h"
#include "base/Format.h"
#include "base/PathNames.h"
#include "base/SetupLog.h"
#include <stdlib.h>

const WCHAR kRunningBrowserCaption[] = L"岚舟浏览器正在运行中";

namespace {

typedef BOOL(WINAPI *EnumProcessesFn)(DWORD *, DWORD, DWORD *);
typedef BOOL(WINAPI *EnumProcessModulesFn)(HANDLE, HMODULE *, DWORD, DWORD *);
typedef DWORD(WINAPI *GetModuleFileNameExFn)(HANDLE, HMODULE, LPWSTR, DWORD);
typedef BOOL(WINAPI *QueryFullProcessImageNameFn)(HANDLE, DWORD, LPWSTR, DWORD *);

// The process status functions, from psapi.dll in the system folder. Before Windows 7 psapi.dll
// is no protected system DLL: imported by name, a copy beside the setup would be loaded.
struct ProcessStatusApi {
    EnumProcessesFn enumProcesses;
    EnumProcessModulesFn enumProcessModules;
    GetModuleFileNameExFn getModuleFileNameEx;
    // Vista and later, from kernel32: names the image of a process of either bitness, where a
    // 32-bit process on 64-bit Windows cannot read a 64-bit one's module list.
    QueryFullProcessImageNameFn queryFullProcessImageName;
};

const ProcessStatusApi *ProcessStatus()
{
    static ProcessStatusApi api;
    static bool loaded = false;
    if (!loaded) {
        loaded = true;
        HMODULE module = LoadSystemLibrary(L"psapi.dll");
        if (module) {
            api.enumProcesses = (EnumProcessesFn)(void *)GetProcAddress(module, "EnumProcesses");
            api.enumProcessModules = (EnumProcessModulesFn)(void *)GetProcAddress(module, "EnumProcessModules");
            api.getModuleFileNameEx = (GetModuleFileNameExFn)(void *)GetProcAddress(module, "GetModuleFileNameExW");
        }
        api.queryFullProcessImageName = (QueryFullProcessImageNameFn)(void *)GetProcAddress(
            GetModuleHandleW(L"kernel32.dll"), "QueryFullProcessImageNameW");
    }
    return api.enumProcesses && api.enumProcessModules && api.getModuleFileNameEx ? &api : NULL;
}

}

// All process ids: the buffer grows until EnumProcesses leaves room to spare, so a busy
// machine's list is never cut. The caller frees the result.
static DWORD *SnapshotProcessIds(const ProcessStatusApi &psapi, DWORD *count)
{
    DWORD capacity = 1024;
    for (int round = 0; round < 16; ++round) {
        DWORD *ids = (DWORD *)malloc(capacity * sizeof(DWORD));
        if (!ids)
            return NULL;
        DWORD bytes = 0;
        if (!psapi.enumProcesses(ids, capacity * sizeof(DWORD), &bytes)) {
            free(ids);
            return NULL;
        }
        if (bytes < capacity * sizeof(DWORD)) {
            *count = bytes / sizeof(DWORD);
            return ids;
        }
        free(ids);
        capacity *= 2;
    }
    return NULL;
}

static bool ProcessImagePath(const ProcessStatusApi &psapi, HANDLE process, WCHAR (&path)[MAX_PATH])
{
    DWORD size = MAX_PATH;
    if (psapi.queryFullProcessImageName && psapi.queryFullProcessImageName(process, 0, path, &size))
        return true;
    HMODULE module = NULL;
    DWORD needed = 0;
    return psapi.enumProcessModules(process, &module, sizeof(module), &needed) &&
           psapi.getModuleFileNameEx(process, module, path, MAX_PATH);
}

// Whether the program `image` of a process lies at `path`, or at `shortPath`, the same in short
// (8.3) names, as a program started by its short name may be named. The image's own path is
// never looked up: it is its starter's to choose, and could lead to a share of his.
static bool ImageBegins(const WCHAR *image, const WCHAR *path, size_t length, const WCHAR *shortPath,
                        size_t shortLength)
{
    return SameIgnoringCase(image, path, length) || (shortLength > 0 && SameIgnoringCase(image, shortPath, shortLength));
}

// Waits for all handles within one time-out, at most 64 at a time.
static int WaitForAll(const HANDLE *handles, DWORD count, DWORD timeout)
{
    DWORD start = GetTickCount();
    for (DWORD first = 0; first < count; first += MAXIMUM_WAIT_OBJECTS) {
        DWORD group = count - first < MAXIMUM_WAIT_OBJECTS ? count - first : MAXIMUM_WAIT_OBJECTS;
        DWORD elapsed = GetTickCount() - start;
        DWORD remaining = timeout == INFINITE ? INFINITE : (elapsed < timeout ? timeout - elapsed : 0);
        DWORD result = WaitForMultipleObjects(group, handles + first, TRUE, remaining);
        if (result == WAIT_TIMEOUT || result == WAIT_FAILED)
            return (int)result;
    }
    return 0;
}

// Opens every other process whose executable's full path begins with `path`, for `access`; the
// caller closes them and frees the result. Null when the process list cannot be read.
static HANDLE *OpenProcessesByPath(const WCHAR *path, DWORD access, DWORD &found)
{
    found = 0;
    const ProcessStatusApi *psapi = ProcessStatus();
    if (!path || !psapi)
        return NULL;
    size_t length = wcslen(path);
    WCHAR shortPath[MAX_PATH];
    DWORD shortLength = GetShortPathNameW(path, shortPath, MAX_PATH);
    if (shortLength >= MAX_PATH)
        shortLength = 0;
    DWORD count = 0;
    DWORD *ids = SnapshotProcessIds(*psapi, &count);
    if (!ids)
        return NULL;
    HANDLE *matching = (HANDLE *)malloc((count ? count : 1) * sizeof(HANDLE));
    DWORD self = GetCurrentProcessId();
    // Naming a process's program needs only the limited query from Vista on, which even a
    // protected process grants; Windows XP reads its module list.
    DWORD query = psapi->queryFullProcessImageName ? PROCESS_QUERY_LIMITED_INFORMATION
                                                    : PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
    // Another user's browser is a browser too: the setup must see it, and may end it, although
    // his processes grant administrators nothing.
    HANDLE inspector = CreateProcessInspectorToken();
    {
        CThreadToken inspecting(inspector);
        for (DWORD i = 0; matching && i < count; ++i) {
            if (ids[i] == self)
                continue;
            HANDLE process = OpenProcess(access | query, FALSE, ids[i]);
            if (!process)
                continue;
            WCHAR modulePath[MAX_PATH] = {};
            if (ProcessImagePath(*psapi, process, modulePath) && ImageBegins(modulePath, path, length, shortPath, shortLength))
                matching[found++] = process;
            else
                CloseHandle(process);
        }
    }
    if (inspector)
        CloseHandle(inspector);
    free(ids);
    return matching;
}

int TerminateProcessesByPath(const WCHAR *path, DWORD timeout)
{
    DWORD count = 0;
    HANDLE *ended = OpenProcessesByPath(path, PROCESS_TERMINATE | SYNCHRONIZE, count);
    int result = -1;
    for (DWORD i = 0; i < count; ++i)
        TerminateProcess(ended[i], 0);
    if (count > 0) {
        result = WaitForAll(ended, count, timeout);
        for (DWORD i = 0; i < count; ++i)
            CloseHandle(ended[i]);
    }
    free(ended);
    return result;
}

int CountProcessesByPath(const WCHAR *path)
{
    DWORD count = 0;
    HANDLE *found = OpenProcessesByPath(path, 0, count);
    if (!found)
        return -1;
    for (DWORD i = 0; i < count; ++i)
        CloseHandle(found[i]);
    free(found);
    return (int)count;
}

static volatile LONG g_endSilently = 0;

void SetSilentRunEndsBrowser(bool endIt)
{
    InterlockedExchange(&g_endSilently, endIt ? 1 : 0);
}

// With nobody to ask, the browser is ended only where the administrator said so; it gets ten
// seconds to go.
static RunningBrowserOutcome ResolveSilently(const WCHAR *browserPath)
{
    // Any user may open the browser's file and keep it open: that is no browser to end, and no
    // reason to stop a deployment. The update then finds whether it can set the file aside.
    if (CountProcessesByPath(browserPath) == 0) {
        LogStep(L"%s 被其他程序打开，但岚舟浏览器没有运行", browserPath);
        return kBrowserCleared;
    }
    if (!InterlockedCompareExchange(&g_endSilently, 0, 0)) {
        LogStep(L"岚舟浏览器正在运行（%s），没有强制退出", browserPath);
        return kBrowserCancelled;
    }
    TerminateProcessesByPath(browserPath, 5000);
    for (int waited = 0; waited < 10; ++waited) {
        Sleep(1000);
        if (!IsFileInUse(browserPath)) {
            LogStep(L"岚舟浏览器正在运行，已强制退出");
            return kBrowserCleared;
        }
    }
    LogStep(L"未能强制退出岚舟浏览器（%s）", browserPath);
    return kBrowserCancelled;
}

RunningBrowserOutcome ResolveRunningBrowser(const WCHAR *browserPath, const WCHAR *action)
{
    if (IsSilentRun())
        return ResolveSilently(browserPath);
    WCHAR question[160];
    Format(question, L"岚舟浏览器正在运行中，点击“确定”可强制退出浏览器并继续%s。是否继续？", action);
    if (MessageBoxW(NULL, question, kRunningBrowserCaption, MB_OKCANCEL) != IDOK)
        return kBrowserCancelled;
    TerminateProcessesByPath(browserPath, 5000);
    for (;;) {
        Sleep(1000);
        // The file stays: it is replaced, with the rest of the installation, only later.
        if (!IsFileInUse(browserPath))
            return kBrowserCleared;
        if (MessageBoxW(NULL, L"未能强制退出岚舟浏览器，请手动结束浏览器后点击“重试”按钮。",
                        kRunningBrowserCaption, MB_RETRYCANCEL) != IDRETRY)
            return kBrowserCancelled;
    }
}
