// The browser started from the finish page without the desktop shell (its explorer.exe ended):
// a direct start. Its own program, run after every other road: the shell does not come back in
// this Wine session.
#include <gtest/gtest.h>
#include "e2e/SetupProcess.h"
#include "e2e/WizardDriver.h"
#include "engine/RunningBrowser.h"
#include "support/TestSupport.h"
#include "resource.h"

namespace {

TEST(WithoutTheDesktopShell, RunNowStartsTheBrowserDirectly)
{
    const std::wstring install = test::DefaultInstallFolder();
    test::RemoveInstallation(install);
    test::SetupProcess setup;
    HWND finish = test::QuickInstallToFinish(setup, false, false);
    ASSERT_NE(nullptr, finish);
    // The shell is a program of the system's own architecture: System32, also for a 32-bit
    // process on 64-bit Windows, whose GetSystemDirectory names SysWOW64.
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    ASSERT_EQ(0, TerminateProcessesByPath((std::wstring(windows) + L"\\system32\\explorer.exe").c_str(), 5000));
    test::Click(GetDlgItem(finish, IDC_FINISH_RUN));
    EXPECT_EQ(0xFFFFFFFFu, setup.WaitForExit(30000));
    std::vector<DWORD> parents;
    for (int i = 0; i < 100 && parents.size() < 3; ++i) {
        Sleep(50);
        parents = test::BrowserParentIds(install);
    }
    ASSERT_EQ(3u, parents.size());
    EXPECT_EQ(setup.Id(), parents[2]);
    EXPECT_EQ("\"" + test::Utf8(install) + "\\velmarin.exe\"", test::BrowserStarts(install).back());
    test::RemoveInstallation(install);
}

}
