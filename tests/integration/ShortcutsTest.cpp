// Shell links and Internet shortcuts, read back through the shell's own objects.
#include <gtest/gtest.h>
#include "app/InstallOptions.h"
#include "engine/process/Process.h"
#include "engine/shortcuts/Shortcuts.h"
#include "support/TestSupport.h"
#include <shlobj.h>

namespace {

class Shortcuts : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_root = test::MakeTempDir(L"shortcuts");
        m_install = m_root + L"\\Program Files\\Velmarin 3";
        for (const wchar_t *folder : {L"\\Program Files", L"\\Program Files\\Velmarin 3", L"\\Desktop", L"\\Start Menu",
                                      L"\\Start Menu\\Programs", L"\\Quick Launch"})
            CreateDirectoryW((m_root + folder).c_str(), nullptr);
        wcscpy(m_options.m_strInstallDir, m_install.c_str());
        wcscpy(m_options.m_strProgramGroup, (m_root + L"\\Start Menu\\Programs\\岚舟浏览器").c_str());
        wcscpy(m_options.m_strCommonStartMenu, (m_root + L"\\Start Menu").c_str());
        wcscpy(m_options.m_strCommonDesktop, (m_root + L"\\Desktop").c_str());
        wcscpy(m_options.m_strQuickLaunch, (m_root + L"\\Quick Launch").c_str());
    }
    void TearDown() override { test::RemoveTree(m_root); }

    std::wstring m_root, m_install;
    CInstallOptions m_options;
};

TEST_F(Shortcuts, AllLinksWithBothChoices)
{
    m_options.CreateShortcuts();
    std::wstring browser = m_install + L"\\Velmarin.exe";
    std::wstring group = m_root + L"\\Start Menu\\Programs\\岚舟浏览器";

    test::LinkContents link = test::ReadLink(group + L"\\岚舟 3.lnk");
    ASSERT_TRUE(link.read);
    EXPECT_EQ(browser, link.target);
    EXPECT_EQ(m_install, link.workingDir);
    EXPECT_EQ(L"", link.arguments);

    link = test::ReadLink(group + L"\\卸载岚舟 3.lnk");
    ASSERT_TRUE(link.read);
    EXPECT_EQ(m_install + L"\\UnInst.exe", link.target);

    link = test::ReadLink(group + L"\\进程管理器.lnk");
    ASSERT_TRUE(link.read);
    EXPECT_EQ(browser, link.target);
    EXPECT_EQ(L"/tp:4", link.arguments);
    EXPECT_EQ(m_install, link.workingDir);

    for (const wchar_t *folder : {L"\\Desktop", L"\\Quick Launch", L"\\Start Menu"}) {
        link = test::ReadLink(m_root + folder + L"\\岚舟 3.lnk");
        ASSERT_TRUE(link.read) << test::Utf8(folder);
        EXPECT_EQ(browser, link.target);
    }
}

TEST_F(Shortcuts, BothChoicesOffAndOldLinksRemoved)
{
    for (const wchar_t *folder : {L"\\Desktop", L"\\Quick Launch", L"\\Start Menu"})
        test::WriteFile(m_root + folder + L"\\Velmarin 3.0.lnk", "old");
    m_options.m_bDesktopShortcut = 0;
    m_options.m_bQuickLaunch = 0;
    m_options.CreateShortcuts();
    EXPECT_TRUE(test::FileExists(m_root + L"\\Start Menu\\Programs\\岚舟浏览器\\岚舟 3.lnk"));
    EXPECT_TRUE(test::FileExists(m_root + L"\\Start Menu\\岚舟 3.lnk"));
    EXPECT_FALSE(test::FileExists(m_root + L"\\Desktop\\岚舟 3.lnk"));
    EXPECT_FALSE(test::FileExists(m_root + L"\\Quick Launch\\岚舟 3.lnk"));
    for (const wchar_t *folder : {L"\\Desktop", L"\\Quick Launch", L"\\Start Menu"})
        EXPECT_FALSE(test::FileExists(m_root + folder + L"\\Velmarin 3.0.lnk")) << test::Utf8(folder);
}

TEST_F(Shortcuts, OldLinksGoOnAnUpgradeToo)
{
    for (int state : {1, 2, 3}) {
        test::WriteFile(m_root + L"\\Desktop\\Velmarin 3.0.lnk", "old");
        m_options.m_nState = state;
        m_options.CreateShortcuts();
        EXPECT_FALSE(test::FileExists(m_root + L"\\Desktop\\Velmarin 3.0.lnk")) << state;
    }
}

TEST_F(Shortcuts, MissingQuickLaunchFolderGivesNoLinkAndNoFolder)
{
    test::RemoveTree(m_root + L"\\Quick Launch");
    m_options.CreateShortcuts();
    EXPECT_FALSE(test::DirExists(m_root + L"\\Quick Launch"));
    EXPECT_TRUE(test::FileExists(m_root + L"\\Desktop\\岚舟 3.lnk"));
}

TEST_F(Shortcuts, InternetShortcutHoldsItsUrl)
{
    std::wstring file = m_root + L"\\新手上路.url";
    ASSERT_TRUE(CreateUrlShortcut(L"http://www.velmarin.cn/vm3/beginner/", file.c_str()));
    wchar_t url[512] = {};
    GetPrivateProfileStringW(L"InternetShortcut", L"URL", L"", url, 512, file.c_str());
    EXPECT_STREQ(L"http://www.velmarin.cn/vm3/beginner/", url);
    // An existing file of the same name is replaced.
    ASSERT_TRUE(CreateUrlShortcut(L"http://www.velmarin.cn/vm3/feature/", file.c_str()));
    GetPrivateProfileStringW(L"InternetShortcut", L"URL", L"", url, 512, file.c_str());
    EXPECT_STREQ(L"http://www.velmarin.cn/vm3/feature/", url);
}

// The rights the account's own files are written with: its Administrators group only denies, and
// they hold for a scope alone.
TEST_F(Shortcuts, TheAccountsOwnRightsLeaveOutTheAdministratorsForTheirScopeAlone)
{
    HANDLE ownAccount = CreateOwnAccountToken();
    ASSERT_NE(nullptr, ownAccount);
    HANDLE acting = nullptr;
    {
        CThreadToken rights(ownAccount);
        ASSERT_TRUE(rights.Acting());
        ASSERT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &acting));
        BYTE administrators[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof(administrators);
        CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size);
        BOOL member = TRUE;
        EXPECT_TRUE(CheckTokenMembership(acting, administrators, &member));
        EXPECT_FALSE(member);
        CloseHandle(acting);
        EXPECT_TRUE(CThreadToken(ownAccount).Acting());
        EXPECT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &acting)) << "back to the outer scope's";
        CloseHandle(acting);
    }
    EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &acting)) << "the thread acts as itself again";
    CloseHandle(ownAccount);
}

}
