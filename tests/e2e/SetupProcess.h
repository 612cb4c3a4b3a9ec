// Drives a real VelmarinSetup.exe process from inside Wine.
#pragma once
#include <windows.h>
#include <string>

namespace test {

extern const wchar_t kSetupTitle[];
extern const wchar_t kExitPrompt[];
// From the finish page, shown at the full bar, to the end: past the links, record and browser runs.
const DWORD kEndAfterFinishMs = 90000;

class SetupProcess {
public:
    // Starts the setup (the build's, or `exe`); on the roads of the 64-bit prefix it must run as
    // the 32-bit program, unless it is `anotherBuild`.
    explicit SetupProcess(const std::wstring &exe = L"", bool anotherBuild = false);
    ~SetupProcess();

    bool Started() const { return m_process != nullptr; }
    DWORD Id() const { return m_id; }
    HANDLE Handle() const { return m_process; }
    // The visible page of the setup with the title as caption, or null after the wait.
    HWND WaitForPage(DWORD timeoutMs = 20000) const;
    // The page with this template's control, among the setup's top-level windows.
    HWND PageWithControl(int controlId, DWORD timeoutMs = 20000) const;
    // Waits for the process to end; returns its exit code, or STILL_ACTIVE.
    DWORD WaitForExit(DWORD timeoutMs);
    // Asks the page to close and answers the exit question with Yes.
    void QuitThroughExitQuestion(HWND page);
    // Ends the process if it still runs.
    void Kill();

private:
    HANDLE m_process = nullptr;
    DWORD m_id = 0;
};

// The message box of a process with a caption; null after the wait.
HWND WaitForMessageBox(DWORD processId, const std::wstring &caption, DWORD timeoutMs);
std::wstring MessageBoxText(HWND box);

}
