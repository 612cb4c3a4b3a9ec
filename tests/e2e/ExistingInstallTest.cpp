// A machine that has the browser already: the upgrade page for an older (or the same) version,
// the downgrade page for a newer one, end to end with real input.
#include <gtest/gtest.h>
#include "app/InstallOptions.h"
#include "engine/Product.h"
#include "app/Versions.h"
#include "e2e/Screenshot.h"
#include "e2e/SetupProcess.h"
#include "e2e/WizardDriver.h"
#include "support/TestSupport.h"
#include "resource.h"
#include "version.h"  // the stand-in browser the setup packs
#include <shlobj.h>

namespace {

using test::Click;
using test::SetupProcess;

const DWORD kExitMinusOne = 0xFFFFFFFF;

class ExistingInstall : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::RemoveInstallation(test::DefaultInstallFolder());
        test::RemoveInstallation(m_folder);
    }
    void TearDown() override { test::RemoveInstallation(m_folder); }

    // Puts a stand-in browser of another version into the folder and registers it.
    void Plant(const wchar_t *which)
    {
        CreateDirectoryW(m_folder.c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(test::PlantedBrowser(which).c_str(), Browser().c_str(), FALSE));
        test::PlantInstalledBrowser(Browser());
    }

    std::wstring Browser() const { return m_folder + L"\\Velmarin.exe"; }
    std::wstring InstalledVersion() const
    {
        wchar_t version[64];
        return ReadInstalledVersion(Browser().c_str(), version) ? version : L"";
    }
    std::string Run(const std::string &arguments) const { return test::QuotedBrowser(m_folder, arguments); }

    // Presses a button of a page and goes on to the finish page, then "关 闭".
    void InstallThrough(SetupProcess &setup, HWND button)
    {
        Click(button);
        HWND finish = setup.PageWithControl(IDC_FINISH_CLOSE, 60000);
        ASSERT_NE(nullptr, finish);
        Sleep(300);
        Click(GetDlgItem(finish, IDC_FINISH_CLOSE));
        EXPECT_EQ(kExitMinusOne, setup.WaitForExit(test::kEndAfterFinishMs));
    }

    const std::wstring m_folder = L"C:\\Vm Installed";
};

TEST_F(ExistingInstall, AnOlderBrowserIsUpgradedInItsFolderAndASecondRunFindsIt)
{
    Plant(L"older");
    {
        SetupProcess setup;
        HWND upgrade = setup.PageWithControl(IDC_UPGRADE_DEFAULT);
        ASSERT_NE(nullptr, upgrade);
        Sleep(300);
        EXPECT_TRUE(test::SaveWindowScreenshot(upgrade, L"upgrade"));
        EXPECT_EQ(L"即将升级到 岚舟浏览器 3.2 正式版。", test::TextOf(GetDlgItem(upgrade, IDC_UPGRADE_TEXT)));
        HWND defaultBrowser = GetDlgItem(upgrade, IDC_UPGRADE_DEFAULT);
        EXPECT_TRUE(IsWindowVisible(defaultBrowser));
        EXPECT_TRUE(test::IsChecked(defaultBrowser));
        Click(defaultBrowser);
        EXPECT_FALSE(test::IsChecked(defaultBrowser));

        // To the custom page and back: the installed folder there, the tick kept here.
        Click(GetDlgItem(upgrade, IDC_UPGRADE_CUSTOM));
        HWND custom = setup.PageWithControl(IDC_CUSTOM_FOLDER, 5000);
        ASSERT_NE(nullptr, custom);
        EXPECT_EQ(m_folder, test::TextOf(GetDlgItem(custom, IDC_CUSTOM_FOLDER)));
        EXPECT_TRUE(test::WaitHidden(upgrade, 2000));
        Click(GetDlgItem(custom, IDC_CUSTOM_BACK));
        ASSERT_EQ(upgrade, setup.PageWithControl(IDC_UPGRADE_DEFAULT, 5000));
        EXPECT_FALSE(test::IsChecked(defaultBrowser));
        InstallThrough(setup, GetDlgItem(upgrade, IDC_UPGRADE_INSTALL));
    }
    EXPECT_EQ(L"" VELMARIN_VERSION_TEXT, InstalledVersion()) << "the planted browser is replaced in its own folder";
    EXPECT_EQ(Browser(), test::ReadRegString(HKEY_LOCAL_MACHINE, kAppPathKey, L""));
    EXPECT_EQ((std::vector<std::string>{Run("/tp:3 /v:1 /tb:0"), Run("/tp:11 /v:1")}), test::BrowserStarts(m_folder))
        << "the unticked box counts";

    // The browser says it is the default browser already: the box is hidden and does not count.
    std::wstring dataDir = test::SpecialFolder(CSIDL_APPDATA) + L"\\Velmarin";
    CreateDirectoryW(dataDir.c_str(), nullptr);
    test::WriteFile(dataDir + L"\\Velmarin.ini", "[option]\r\nDefaultBrowser=1\r\n");
    {
        SetupProcess setup;
        HWND upgrade = setup.PageWithControl(IDC_UPGRADE_DEFAULT);
        ASSERT_NE(nullptr, upgrade) << "a second run opens the upgrade page";
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(upgrade, IDC_UPGRADE_DEFAULT)));
        InstallThrough(setup, GetDlgItem(upgrade, IDC_UPGRADE_INSTALL));
    }
    std::vector<std::string> starts = test::BrowserStarts(m_folder);
    ASSERT_EQ(5u, starts.size());
    EXPECT_EQ(Run("/tp:2 /v:1"), starts[3]) << "the default-browser choice stays 1";
}

TEST_F(ExistingInstall, ANewerBrowserIsAskedAboutBeforeAnythingChanges)
{
    Plant(L"newer");
    {
        SetupProcess setup;
        HWND downgrade = setup.PageWithControl(IDC_DOWNGRADE_CONTINUE);
        ASSERT_NE(nullptr, downgrade);
        Sleep(300);
        EXPECT_TRUE(test::SaveWindowScreenshot(downgrade, L"downgrade"));
        test::MessageBoxAnswerer answerer(test::kSetupTitle, {IDYES}, setup.Id());
        Click(GetDlgItem(downgrade, IDC_DOWNGRADE_QUIT));
        EXPECT_EQ(kExitMinusOne, setup.WaitForExit(10000));
        EXPECT_EQ(std::vector<std::wstring>{test::kExitPrompt}, answerer.Texts());
    }
    EXPECT_EQ(L"3.10.0.0", InstalledVersion()) << "nothing changed";

    SetupProcess setup;
    HWND downgrade = setup.PageWithControl(IDC_DOWNGRADE_CONTINUE);
    ASSERT_NE(nullptr, downgrade);
    {
        test::MessageBoxAnswerer answerer(test::kSetupTitle, {IDNO}, setup.Id());
        Click(GetDlgItem(downgrade, IDC_DOWNGRADE_QUIT));
        for (int i = 0; i < 100 && answerer.Answered() == 0; ++i)
            Sleep(50);
        Sleep(300);
        EXPECT_EQ(1, answerer.Answered());
    }
    EXPECT_EQ(STILL_ACTIVE, setup.WaitForExit(0));
    EXPECT_TRUE(IsWindowVisible(downgrade)) << "No stays";
    InstallThrough(setup, GetDlgItem(downgrade, IDC_DOWNGRADE_CONTINUE));
    EXPECT_EQ(L"" VELMARIN_VERSION_TEXT, InstalledVersion());
    EXPECT_EQ((std::vector<std::string>{Run("/tp:3 /v:1 /tb:0"), Run("/tp:2 /v:1"), Run("/tp:11 /v:1")}),
              test::BrowserStarts(m_folder))
        << "every choice at its default";
    EXPECT_TRUE(test::FileExists(test::SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\岚舟 3.lnk"));
}

}
