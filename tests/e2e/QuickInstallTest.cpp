// The quick installation end to end: the real setup under Xvfb, driven with real mouse input,
// installing the stand-in browser into the prefix's Program Files.
#include <gtest/gtest.h>
#include "app/InstallOptions.h"
#include "e2e/Screenshot.h"
#include "e2e/SetupProcess.h"
#include "e2e/WizardDriver.h"
#include "engine/process/RunningBrowser.h"
#include "support/TestSupport.h"
#include "resource.h"
#include <shlobj.h>

namespace {

using test::SetupProcess;

using test::Click;
using test::WaitHidden;

class QuickInstall : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_install = test::DefaultInstallFolder();
        test::RemoveInstallation(m_install);
    }
    void TearDown() override { test::RemoveInstallation(m_install); }

    HWND InstallToFinish(SetupProcess &setup, bool defaultBrowser, bool screenshots)
    {
        return test::QuickInstallToFinish(setup, defaultBrowser, screenshots);
    }

    std::vector<std::string> BrowserStarts() { return test::BrowserStarts(m_install); }
    std::string Quoted(const std::string &arguments) { return test::QuotedBrowser(m_install, arguments); }
    // No copy of the setup may be left running.
    static void ExpectNoSetupLeft()
    {
        EXPECT_EQ(-1, TerminateProcessesByPath(test::SetupExe().c_str(), 1000));
    }

    std::wstring m_install;
};

TEST_F(QuickInstall, TickedThenRunNow)
{
    SetupProcess setup;
    HWND finish = InstallToFinish(setup, true, true);
    ASSERT_NE(nullptr, finish);
    // The privacy notice opens from the finish page's link, read-only, and PgDn pages through it.
    Click(GetDlgItem(finish, IDC_FINISH_PRIVACY), 12, 8);
    HWND privacy = setup.PageWithControl(IDC_VIEWER_TEXT, 5000);
    ASSERT_NE(nullptr, privacy);
    HWND text = GetDlgItem(privacy, IDC_VIEWER_TEXT);
    EXPECT_EQ(0u, test::TextOf(text).find(L"岚舟浏览器 3.2 正式版 隐私保障协议"));
    EXPECT_NE(std::wstring::npos, test::TextOf(text).find(L"Velmarin.ini"));
    EXPECT_TRUE(test::SaveWindowScreenshot(privacy, L"privacy"));
    test::FocusByClick(text);
    test::PressKey(VK_NEXT);
    Sleep(200);
    EXPECT_GT(SendMessageW(text, EM_GETFIRSTVISIBLELINE, 0, 0), 0) << "PgDn pages on";
    Click(GetDlgItem(privacy, IDC_VIEWER_BACK));
    EXPECT_TRUE(WaitHidden(privacy, 3000));
    DWORD shell = test::ProcessIdOf(L"explorer.exe");
    ASSERT_NE(0u, shell) << "the desktop shell runs";
    Click(GetDlgItem(finish, IDC_FINISH_RUN));
    EXPECT_EQ(0xFFFFFFFFu, setup.WaitForExit(test::kEndAfterFinishMs));
    ExpectNoSetupLeft();

    std::vector<std::string> starts;
    for (int i = 0; i < 100 && starts.size() < 4; ++i) {
        Sleep(50);
        starts = BrowserStarts();
    }
    std::vector<std::string> expected = {Quoted("/tp:3 /v:1 /tb:0"), Quoted("/tp:2 /v:1"), Quoted("/tp:11 /v:1"),
                                         "\"" + test::Utf8(m_install) + "\\velmarin.exe\""};
    EXPECT_EQ(expected, starts) << "the launch comes after the install's own runs";
    // The install's own runs come from the setup; the browser the user gets runs with the
    // user's rights, started by the desktop shell.
    EXPECT_EQ((std::vector<DWORD>{setup.Id(), setup.Id(), setup.Id(), shell}), test::BrowserParentIds(m_install));
    for (const std::wstring &file : test::PayloadFileTable())
        EXPECT_TRUE(test::FileExists(m_install + file)) << test::Utf8(file);
    EXPECT_NE(nullptr, test::WaitForWindow(L"岚舟浏览器 3.2 正式版", 5000)) << "the browser's window";
}

TEST_F(QuickInstall, UntickedThenClose)
{
    SetupProcess setup;
    HWND finish = InstallToFinish(setup, false, false);
    ASSERT_NE(nullptr, finish);
    Click(GetDlgItem(finish, IDC_FINISH_CLOSE));
    EXPECT_EQ(0xFFFFFFFFu, setup.WaitForExit(test::kEndAfterFinishMs));
    ExpectNoSetupLeft();
    Sleep(500);
    EXPECT_EQ((std::vector<std::string>{Quoted("/tp:3 /v:1 /tb:0"), Quoted("/tp:11 /v:1")}), BrowserStarts())
        << "no default-browser run and no launch";
}

TEST_F(QuickInstall, ClosingTheFinishPageEqualsClose)
{
    SetupProcess setup;
    HWND finish = InstallToFinish(setup, true, false);
    ASSERT_NE(nullptr, finish);
    PostMessageW(finish, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(0xFFFFFFFFu, setup.WaitForExit(test::kEndAfterFinishMs));
    ExpectNoSetupLeft();
    Sleep(500);
    std::vector<std::string> starts = BrowserStarts();
    ASSERT_EQ(3u, starts.size());
    EXPECT_EQ(Quoted("/tp:11 /v:1"), starts.back());
}

}
