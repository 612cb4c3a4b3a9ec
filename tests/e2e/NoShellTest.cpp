// Without the desktop shell (its explorer.exe ended): the browser started from the finish page
// without the setup's administrator rights, and an uninstall that removes nobody's browsing
// data, as it cannot tell whose it would be. Its own program, run after every other road: the
// shell does not come back in this Wine session.
#include <gtest/gtest.h>
#include "e2e/SetupProcess.h"
#include "e2e/WizardDriver.h"
#include "engine/Product.h"
#include "engine/process/RunningBrowser.h"
#include "support/TestSupport.h"
#include "resource.h"
#include <shlobj.h>

namespace {

// Whether the Administrators group counts for the running process `id`, as Windows decides access.
::testing::AssertionResult RunsAsAdministrator(DWORD id, bool &member)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, id), token = nullptr, identification = nullptr;
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    BOOL isMember = FALSE;
    bool read = process && OpenProcessToken(process, TOKEN_DUPLICATE | TOKEN_QUERY, &token) &&
                DuplicateToken(token, SecurityIdentification, &identification) &&
                CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
                CheckTokenMembership(identification, administrators, &isMember);
    DWORD error = GetLastError();
    for (HANDLE handle : {process, token, identification}) {
        if (handle)
            CloseHandle(handle);
    }
    member = isMember != FALSE;
    return read ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "token unread, error " << error;
}

TEST(WithoutTheDesktopShell, RunNowStartsTheBrowserWithoutAdministratorRights)
{
    const std::wstring install = test::DefaultInstallFolder();
    test::RemoveInstallation(install);
    test::SetupProcess setup;
    bool setupIsAdministrator = false;
    ASSERT_TRUE(RunsAsAdministrator(setup.Id(), setupIsAdministrator));
    ASSERT_TRUE(setupIsAdministrator) << "the setup itself runs with administrator rights";
    HWND finish = test::QuickInstallToFinish(setup, false, false);
    ASSERT_NE(nullptr, finish);
    // The shell is a program of the system's own architecture: System32, also for a 32-bit
    // process on 64-bit Windows, whose GetSystemDirectory names SysWOW64.
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    ASSERT_EQ(0, TerminateProcessesByPath((std::wstring(windows) + L"\\system32\\explorer.exe").c_str(), 5000));
    test::Click(GetDlgItem(finish, IDC_FINISH_RUN));
    EXPECT_EQ(0xFFFFFFFFu, setup.WaitForExit(test::kEndAfterFinishMs));
    std::vector<DWORD> parents;
    for (int i = 0; i < 100 && parents.size() < 3; ++i) {
        Sleep(50);
        parents = test::BrowserParentIds(install);
    }
    ASSERT_EQ(3u, parents.size());
    EXPECT_EQ(setup.Id(), parents[2]);
    EXPECT_EQ("\"" + test::Utf8(install) + "\\velmarin.exe\"", test::BrowserStarts(install).back());
    // The browser started without arguments keeps its window open: its token can be read.
    DWORD browser = test::ProcessIdOf(L"velmarin.exe");
    ASSERT_NE(0u, browser);
    bool browserIsAdministrator = true;
    ASSERT_TRUE(RunsAsAdministrator(browser, browserIsAdministrator));
    EXPECT_FALSE(browserIsAdministrator);

    const std::wstring data = test::SpecialFolder(CSIDL_APPDATA) + L"\\Velmarin", logs = test::MakeTempDir(L"logs");
    SHCreateDirectoryExW(nullptr, (data + L"\\User Data").c_str(), nullptr);
    test::WriteFile(data + L"\\User Data\\History", "visited");
    std::wstring quiet = test::ReadRegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"QuietUninstallString");
    EXPECT_EQ(0u, test::RunToEnd(quiet + L" /RemoveData=1 \"/Log=" + logs + L"\\uninstall.txt\""));
    EXPECT_TRUE(test::FileExists(data + L"\\User Data\\History"));
    std::string log = test::ReadFile(logs + L"\\uninstall.txt");
    EXPECT_NE(std::string::npos, log.find("没有删除任何浏览数据")) << log;
    test::RemoveTree(data);
    test::RemoveTree(logs);
    test::RemoveInstallation(install);
}

}
