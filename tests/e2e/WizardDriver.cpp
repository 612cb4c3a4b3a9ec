#include "e2e/WizardDriver.h"
#include "support/TestSupport.h"
#include "e2e/Screenshot.h"
#include "e2e/SetupProcess.h"
#include "resource.h"
#include <gtest/gtest.h>
#include <shlobj.h>
#include <tlhelp32.h>

namespace test {

std::wstring SpecialFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE);
    return path;
}

std::wstring DefaultInstallFolder()
{
    return SpecialFolder(CSIDL_PROGRAM_FILES) + L"\\Velmarin 3";
}

void Click(HWND control, int dx, int dy)
{
    RECT rect;
    if (!GetWindowRect(control, &rect))
        return;
    POINT point = {dx < 0 ? (rect.left + rect.right) / 2 : rect.left + dx,
                   dy < 0 ? (rect.top + rect.bottom) / 2 : rect.top + dy};
    int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
    // Each input carries the point: a pointer move of the display's own between them (a window
    // mapped or unmapped) can neither send the press elsewhere nor show a button the release outside.
    INPUT inputs[3] = {};
    for (INPUT &input : inputs) {
        input.type = INPUT_MOUSE;
        input.mi.dx = point.x * 65535 / (screenWidth - 1);
        input.mi.dy = point.y * 65535 / (screenHeight - 1);
    }
    inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    inputs[1].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE;
    inputs[2].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &inputs[0], sizeof(INPUT));
    // A page just shown may not yet be the window at that point.
    HWND page = GetAncestor(control, GA_ROOT);
    for (DWORD start = GetTickCount(); GetTickCount() - start < 2000; Sleep(20)) {
        if (GetAncestor(WindowFromPoint(point), GA_ROOT) == page)
            break;
    }
    Sleep(100);
    SendInput(1, &inputs[1], sizeof(INPUT));
    Sleep(50);
    SendInput(1, &inputs[2], sizeof(INPUT));
    Sleep(100);
}

static void SendKey(WORD vk, bool up)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = (WORD)MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof(INPUT));
}

void PressKey(WORD vk, WORD modifier)
{
    if (modifier)
        SendKey(modifier, false);
    SendKey(vk, false);
    SendKey(vk, true);
    if (modifier)
        SendKey(modifier, true);
    Sleep(60);
}

void TypeAscii(const std::wstring &text)
{
    for (wchar_t c : text) {
        SHORT key = VkKeyScanW(c);
        bool shift = (key >> 8) & 1;
        if (shift)
            SendKey(VK_SHIFT, false);
        SendKey(LOBYTE(key), false);
        SendKey(LOBYTE(key), true);
        if (shift)
            SendKey(VK_SHIFT, true);
        Sleep(60);
    }
}

void PasteText(const std::wstring &text)
{
    if (OpenClipboard(nullptr)) {
        EmptyClipboard();
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
        memcpy(GlobalLock(block), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
        GlobalUnlock(block);
        SetClipboardData(CF_UNICODETEXT, block);
        CloseClipboard();
    }
    ClearFocusedEdit();
    PressKey('V', VK_CONTROL);
    Sleep(200);
}

void ClearFocusedEdit()
{
    PressKey(VK_END);
    PressKey(VK_HOME, VK_SHIFT);
    PressKey(VK_DELETE);
}

void FocusByClick(HWND control)
{
    Click(control, 10, -1);
}

bool WaitHidden(HWND window, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window) && GetTickCount() - start < timeoutMs)
        Sleep(20);
    return !IsWindow(window) || !IsWindowVisible(window);
}

bool IsChecked(HWND checkBox)
{
    return SendMessageW(checkBox, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::wstring TextOf(HWND window)
{
    // WM_GETTEXT reaches a control of another process; GetWindowTextW would not ask it.
    wchar_t text[1024] = {};
    SendMessageW(window, WM_GETTEXT, 1024, (LPARAM)text);
    return text;
}

void RemoveInstallation(const std::wstring &folder)
{
    EndProcessesIn(folder);
    RemoveTree(folder);
    RemoveBrowserRegistration();
    RemoveTree(SpecialFolder(CSIDL_COMMON_PROGRAMS) + L"\\岚舟浏览器");
    DeleteFileW((SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\岚舟 3.lnk").c_str());
    DeleteFileW((SpecialFolder(CSIDL_COMMON_STARTMENU) + L"\\岚舟 3.lnk").c_str());
    DeleteFileW((SpecialFolder(CSIDL_APPDATA) + L"\\Microsoft\\Internet Explorer\\Quick Launch\\岚舟 3.lnk").c_str());
    RemoveTree(SpecialFolder(CSIDL_FAVORITES) + L"\\LinkBar");
    RemoveTree(SpecialFolder(CSIDL_APPDATA) + L"\\Velmarin");
}

std::vector<std::string> BrowserStarts(const std::wstring &folder)
{
    return ReadLines(folder + L"\\velmarin-starts.log");
}

std::vector<DWORD> BrowserParentIds(const std::wstring &folder)
{
    std::vector<DWORD> ids;
    for (const std::string &line : ReadLines(folder + L"\\velmarin-parents.log"))
        ids.push_back((DWORD)strtoul(line.c_str(), nullptr, 10));
    return ids;
}

DWORD ProcessIdOf(const std::wstring &exeName, DWORD *parentId)
{
    DWORD id = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot != INVALID_HANDLE_VALUE && Process32FirstW(snapshot, &entry); more && !id;
         more = Process32NextW(snapshot, &entry)) {
        if (lstrcmpiW(entry.szExeFile, exeName.c_str()) == 0) {
            id = entry.th32ProcessID;
            if (parentId)
                *parentId = entry.th32ParentProcessID;
        }
    }
    if (snapshot != INVALID_HANDLE_VALUE)
        CloseHandle(snapshot);
    return id;
}

std::string QuotedBrowser(const std::wstring &folder, const std::string &arguments)
{
    return "\"" + Utf8(folder) + "\\Velmarin.exe\"" + (arguments.empty() ? "" : " " + arguments);
}


HWND QuickInstallToFinish(SetupProcess &setup, bool defaultBrowser, bool screenshots)
{
    HWND welcome = setup.PageWithControl(IDC_WELCOME_INSTALL);
    EXPECT_NE(nullptr, welcome);
    if (!welcome)
        return nullptr;
    Sleep(300);
    if (screenshots) {
        EXPECT_TRUE(test::SaveWindowScreenshot(welcome, L"welcome"));
        // Only the link's text takes clicks: aim at its first characters.
        Click(GetDlgItem(welcome, IDC_WELCOME_LICENSE_LINK), 20, 6);
        HWND viewer = setup.PageWithControl(IDC_VIEWER_TEXT, 5000);
        EXPECT_NE(nullptr, viewer) << "the licence viewer opens";
        if (viewer) {
            Sleep(300);
            EXPECT_TRUE(test::SaveWindowScreenshot(viewer, L"licence"));
            Click(GetDlgItem(viewer, IDC_VIEWER_BACK));
            EXPECT_TRUE(WaitHidden(viewer, 5000));
        }
    }
    if (!defaultBrowser) {
        Click(GetDlgItem(welcome, IDC_WELCOME_DEFAULT));
        EXPECT_EQ(BST_UNCHECKED, SendMessageW(GetDlgItem(welcome, IDC_WELCOME_DEFAULT), BM_GETCHECK, 0, 0));
    }
    Click(GetDlgItem(welcome, IDC_WELCOME_INSTALL));
    HWND progress = setup.PageWithControl(IDC_PROGRESS_STATUS, 10000);
    EXPECT_NE(nullptr, progress);
    if (progress && screenshots) {
        Sleep(400);
        EXPECT_TRUE(test::SaveWindowScreenshot(progress, L"progress"));
    }
    HWND finish = setup.PageWithControl(IDC_FINISH_RUN, 60000);
    EXPECT_NE(nullptr, finish);
    if (finish && screenshots) {
        Sleep(300);
        EXPECT_TRUE(test::SaveWindowScreenshot(finish, L"finish"));
    }
    return finish;
}


}

namespace test {

DWORD RunToEnd(const std::wstring &commandLine, DWORD timeoutMs)
{
    HANDLE process = StartProcess(commandLine);
    if (!process)
        return STILL_ACTIVE;
    ExpectThirtyTwoBitOnWin64(process);
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0)
        TerminateProcess(process, STILL_ACTIVE);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return code;
}

struct VisibleWindows {
    DWORD id;
    std::vector<HWND> windows;
};

static BOOL CALLBACK CollectVisible(HWND window, LPARAM param)
{
    VisibleWindows *found = (VisibleWindows *)param;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == found->id && IsWindowVisible(window))
        found->windows.push_back(window);
    return TRUE;
}

std::vector<HWND> VisibleWindowsOf(DWORD processId)
{
    VisibleWindows found{processId, {}};
    EnumWindows(CollectVisible, (LPARAM)&found);
    return found.windows;
}

WindowWatch::WindowWatch(std::vector<std::wstring> exeNames) : m_names(std::move(exeNames))
{
    m_thread = std::thread([this] {
        while (m_watching) {
            for (const std::wstring &name : m_names) {
                DWORD id = ProcessIdOf(name);
                for (HWND window : id ? VisibleWindowsOf(id) : std::vector<HWND>())
                    m_seen += Utf8(name) + ": " + Utf8(TextOf(window)) + "\n";
            }
            Sleep(10);
        }
    });
}

WindowWatch::~WindowWatch()
{
    Seen();
}

std::string WindowWatch::Seen()
{
    m_watching = false;
    if (m_thread.joinable())
        m_thread.join();
    return m_seen;
}

}
