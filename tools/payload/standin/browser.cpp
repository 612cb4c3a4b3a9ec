// Stand-in for the installed browser, Velmarin.exe. Every start appends its full command line,
// one line per start, to "velmarin-starts.log" beside the executable, and the file name of the
// process that started it ("<id> <file name>") to "velmarin-parents.log", so that tests can
// check each start, the order of the starts and who made them.
//   no arguments      shows a plain window titled with the product name until it is closed
//   /stay             keeps running without a window until it is ended from outside, holding
//                     its own executable open as Windows holds a running program's image
//   /sleep:<ms>       waits that long, then exits
//   anything else     exits at once
#include <windows.h>
#include <tlhelp32.h>
#include <wchar.h>

// "<id> <executable file name>" of the process that started this one; the name is "?" when that
// process has ended already.
static void DescribeParent(WCHAR (&text)[MAX_PATH + 16])
{
    WCHAR name[MAX_PATH];
    wcscpy(name, L"?");
    DWORD parent = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot != INVALID_HANDLE_VALUE && Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId())
            parent = entry.th32ParentProcessID;
    }
    entry.dwSize = sizeof(entry);
    for (BOOL more = parent && Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == parent) {
            lstrcpynW(name, entry.szExeFile, MAX_PATH);
            break;
        }
    }
    if (snapshot != INVALID_HANDLE_VALUE)
        CloseHandle(snapshot);
    wsprintfW(text, L"%lu %s", parent, name);
}

static void AppendLine(const WCHAR *logName, const WCHAR *text)
{
    WCHAR path[MAX_PATH];
    DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return;
    WCHAR *slash = wcsrchr(path, L'\\');
    if (!slash || (slash - path) + 1 + (int)wcslen(logName) >= MAX_PATH)
        return;
    wcscpy(slash + 1, logName);

    char line[4096];
    int len = WideCharToMultiByte(CP_UTF8, 0, text, -1, line, sizeof(line) - 2, NULL, NULL);
    if (len <= 0)
        return;
    len -= 1;
    line[len++] = '\r';
    line[len++] = '\n';

    // Several starts may race for the log: retry while another start holds it.
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, line, (DWORD)len, &written, NULL);
            CloseHandle(file);
            return;
        }
        Sleep(10);
    }
}

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

static int ShowBrowserWindow(HINSTANCE instance, int show)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(NULL, (LPCWSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszClassName = L"VelmarinStandInBrowser";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"岚舟浏览器 3.2 正式版", WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 480, 320, NULL, NULL, instance, NULL);
    ShowWindow(window, show);
    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

static void AppendStartToLog()
{
    WCHAR parent[MAX_PATH + 16];
    DescribeParent(parent);
    AppendLine(L"velmarin-starts.log", GetCommandLineW());
    AppendLine(L"velmarin-parents.log", parent);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR args, int show)
{
    AppendStartToLog();
    while (*args == L' ')
        ++args;
    if (*args == 0)
        return ShowBrowserWindow(instance, show);
    if (wcsncmp(args, L"/stay", 5) == 0) {
        WCHAR self[MAX_PATH];
        if (GetModuleFileNameW(NULL, self, MAX_PATH))
            CreateFileW(self, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        for (;;)
            Sleep(INFINITE);
    }
    if (wcsncmp(args, L"/sleep:", 7) == 0) {
        Sleep((DWORD)_wtoi(args + 7));
        return 0;
    }
    return 0;
}
