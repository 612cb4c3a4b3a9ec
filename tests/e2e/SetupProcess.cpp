#include "e2e/SetupProcess.h"
#include "support/TestSupport.h"
#include "e2e/WizardDriver.h"
#include <cstdio>
#include <string>
#include <vector>

namespace test {

const wchar_t kSetupTitle[] = L"岚舟浏览器 3.2 正式版 安装";
const wchar_t kExitPrompt[] = L"您确定要退出 岚舟浏览器 3.2 正式版 安装程序？";

SetupProcess::SetupProcess(const std::wstring &exe, bool anotherBuild)
{
    std::wstring path = exe.empty() ? SetupExe() : exe;
    m_process = StartProcess(L"\"" + path + L"\"", &m_id);
    if (!anotherBuild)
        ExpectThirtyTwoBitOnWin64(m_process);
}

SetupProcess::~SetupProcess()
{
    Kill();
}

void SetupProcess::Kill()
{
    if (!m_process)
        return;
    if (WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT) {
        TerminateProcess(m_process, 1);
        WaitForSingleObject(m_process, 5000);
    }
    CloseHandle(m_process);
    m_process = nullptr;
}

static bool IsDialog(HWND window)
{
    wchar_t className[32];
    GetClassNameW(window, className, 32);
    return lstrcmpW(className, L"#32770") == 0;
}

// What the setup shows when a wait for a page ran out: the texts of its windows and of what is
// on them (a message box's too), or how it ended.
static void ReportWhatTheSetupShows(HANDLE process, DWORD id, const std::string &awaited)
{
    std::string report;
    wchar_t text[160];
    for (HWND window : VisibleWindowsOf(id)) {
        InternalGetWindowText(window, text, 160);
        report += "\n  \"" + Utf8(text) + "\"";
        for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            if (IsWindowVisible(child) && InternalGetWindowText(child, text, 160) > 0)
                report += "\n    \"" + Utf8(text) + "\"";
    }
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process, &code);
    fprintf(stderr, "No %s appeared; the setup %s; its visible windows:%s\n", awaited.c_str(),
            code == STILL_ACTIVE ? "still runs" : ("ended with " + std::to_string((int)code)).c_str(), report.c_str());
}

HWND SetupProcess::WaitForPage(DWORD timeoutMs) const
{
    DWORD start = GetTickCount();
    do {
        for (HWND window : WindowsOf(m_id, kSetupTitle)) {
            if (IsWindowVisible(window) && GetDlgItem(window, 0xFFFF) == nullptr)
                return window;
        }
        Sleep(20);
    } while (GetTickCount() - start < timeoutMs);
    ReportWhatTheSetupShows(m_process, m_id, "page");
    return nullptr;
}

HWND SetupProcess::PageWithControl(int controlId, DWORD timeoutMs) const
{
    DWORD start = GetTickCount();
    do {
        for (HWND window : WindowsOf(m_id, kSetupTitle)) {
            if (IsWindowVisible(window) && GetDlgItem(window, controlId))
                return window;
        }
        Sleep(20);
    } while (GetTickCount() - start < timeoutMs);
    ReportWhatTheSetupShows(m_process, m_id, "page with control " + std::to_string(controlId));
    return nullptr;
}

DWORD SetupProcess::WaitForExit(DWORD timeoutMs)
{
    if (!m_process)
        return STILL_ACTIVE;
    WaitForSingleObject(m_process, timeoutMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(m_process, &code);
    if (code == STILL_ACTIVE && timeoutMs > 0)
        ReportWhatTheSetupShows(m_process, m_id, "end");
    return code;
}

HWND WaitForMessageBox(DWORD processId, const std::wstring &caption, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    do {
        for (HWND window : WindowsOf(processId, caption)) {
            if (IsDialog(window) && IsWindowVisible(window) && GetDlgItem(window, 0xFFFF))
                return window;
        }
        Sleep(20);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

std::wstring MessageBoxText(HWND box)
{
    wchar_t text[1024] = {};
    GetWindowTextW(GetDlgItem(box, 0xFFFF), text, 1024);
    return text;
}

void SetupProcess::QuitThroughExitQuestion(HWND page)
{
    PostMessageW(page, WM_CLOSE, 0, 0);
    HWND box = WaitForMessageBox(m_id, kSetupTitle, 10000);
    if (box)
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), (LPARAM)GetDlgItem(box, IDYES));
}

}
