// Real input and checks for driving the setup's wizard end to end: mouse clicks and key strokes
// through SendInput, CJK text through the clipboard, and the traces an installation leaves in
// the prefix.
#pragma once
#include <windows.h>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace test {

std::wstring SpecialFolder(int csidl);
// "<Program Files>\Velmarin 3": where a fresh machine gets the browser.
std::wstring DefaultInstallFolder();

// Moves the real pointer to a point of a control (its middle by default) and clicks there.
void Click(HWND control, int dx = -1, int dy = -1);
// Presses and releases a virtual key, with a modifier key (VK_CONTROL, VK_SHIFT) held when asked.
void PressKey(WORD vk, WORD modifier = 0);
// Empties the focused edit box: End, Shift+Home, Delete.
void ClearFocusedEdit();
// Types ASCII text key by key (Wine drops CJK sent as Unicode key input).
void TypeAscii(const std::wstring &text);
// Replaces the text of the focused edit box by `text` through the clipboard (cleared, then Ctrl+V).
void PasteText(const std::wstring &text);
// Gives a control of the setup the keyboard focus by clicking it.
void FocusByClick(HWND control);

bool WaitHidden(HWND window, DWORD timeoutMs);
bool IsChecked(HWND checkBox);
std::wstring TextOf(HWND window);
// The visible top-level windows of a process.
std::vector<HWND> VisibleWindowsOf(DWORD processId);

// Removes what an installation into `folder` leaves in the prefix: the folder, the
// registration, the shortcuts, the link-bar shortcuts and the browser's ini.
void RemoveInstallation(const std::wstring &folder);
// The stand-in browser's log of its starts in an install folder.
std::vector<std::string> BrowserStarts(const std::wstring &folder);
// The ids of the processes that started the stand-in browser in an install folder, in order.
std::vector<DWORD> BrowserParentIds(const std::wstring &folder);
// The id of a running process with this executable file name, or 0; `parentId` hears the id of
// the process that started it.
DWORD ProcessIdOf(const std::wstring &exeName, DWORD *parentId = nullptr);
// "<folder>\Velmarin.exe" in quotes, followed by the arguments.
std::string QuotedBrowser(const std::wstring &folder, const std::string &arguments);

// Runs a command line and returns its exit code; STILL_ACTIVE when it was killed after the wait.
// On the 64-bit prefix's roads the program must run as a 32-bit one.
DWORD RunToEnd(const std::wstring &commandLine, DWORD timeoutMs = 120000);

// Watches, from its start to Seen(), for any visible top-level window of a running program
// with one of these file names.
class WindowWatch {
public:
    explicit WindowWatch(std::vector<std::wstring> exeNames);
    ~WindowWatch();
    // Stops watching; the captions of what was seen, one a line, empty when nothing.
    std::string Seen();

private:
    std::vector<std::wstring> m_names;
    std::atomic<bool> m_watching{true};
    std::string m_seen;
    std::thread m_thread;
};

class SetupProcess;
// From the welcome page through "立即安装" to the finish page (null when it did not come), with
// the default-browser box as asked; with screenshots of the welcome page, the licence viewer,
// the progress page and the finish page.
HWND QuickInstallToFinish(SetupProcess &setup, bool defaultBrowser, bool screenshots);

}
