#include "e2e/WizardDriver.h"
#include "support/TestSupport.h"
#include <shlobj.h>

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
    int x = dx < 0 ? (rect.left + rect.right) / 2 : rect.left + dx;
    int y = dy < 0 ? (rect.top + rect.bottom) / 2 : rect.top + dy;
    int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
    INPUT inputs[3] = {};
    for (INPUT &input : inputs) {
        input.type = INPUT_MOUSE;
        input.mi.dx = x * 65535 / (screenWidth - 1);
        input.mi.dy = y * 65535 / (screenHeight - 1);
    }
    inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE;
    inputs[2].mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &inputs[0], sizeof(INPUT));
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

std::string QuotedBrowser(const std::wstring &folder, const std::string &arguments)
{
    return "\"" + Utf8(folder) + "\\Velmarin.exe\"" + (arguments.empty() ? "" : " " + arguments);
}


}
