// The 32-bit setup on 64-bit Windows: on the roads of the build's 64-bit prefix (VELMARIN_WIN64=1)
// the quick installation lands in the 32-bit places and a second run finds it. Elsewhere (the
// 32-bit prefix, or a 64-bit build, which has no 32-bit setup to run) it is skipped.
#include <gtest/gtest.h>
#include "app/InstallOptions.h"
#include "e2e/SetupProcess.h"
#include "e2e/WizardDriver.h"
#include "engine/Product.h"
#include "support/TestSupport.h"
#include "resource.h"
#include <shlobj.h>
#include <shlwapi.h>

namespace {

// Where a key lies in the 64-bit registry view: its own path, or below WOW6432Node.
bool KeyIn64BitView(const std::wstring &path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::wstring Wow64Path(const std::wstring &path)
{
    return L"SOFTWARE\\WOW6432Node" + path.substr(wcslen(L"SOFTWARE"));
}

TEST(Win64, QuickInstallLandsInTheThirtyTwoBitPlacesAndASecondRunFindsIt)
{
    if (!test::RunsOnWin64Road())
        GTEST_SKIP() << "runs on the roads of the 64-bit prefix";
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64) && wow64) << "the tests are the 32-bit build";
    const std::wstring install = test::DefaultInstallFolder();
    EXPECT_NE(std::wstring::npos, install.find(L"\\Program Files (x86)\\Velmarin 3")) << test::Utf8(install);
    test::RemoveInstallation(install);
    // As on Windows 10, which tells the setup 6.2 and lists browsers in Default apps by their
    // capabilities alone.
    {
        test::ReportedWindowsVersion windows10(L"VelmarinSetup.exe", L"win10");
        test::SetupProcess setup;
        HWND finish = test::QuickInstallToFinish(setup, true, false);
        ASSERT_NE(nullptr, finish);
        test::Click(GetDlgItem(finish, IDC_FINISH_CLOSE));
        EXPECT_EQ(0xFFFFFFFFu, setup.WaitForExit(test::kEndAfterFinishMs));
    }
    for (const std::wstring &file : test::PayloadFileTable())
        EXPECT_TRUE(test::FileExists(install + file)) << test::Utf8(file);
    EXPECT_EQ(kCapabilitiesKey, test::ReadRegString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\RegisteredApplications", L"Velmarin.exe"));
    EXPECT_EQ(install + L"\\Velmarin.exe", test::ReadRegString(HKEY_LOCAL_MACHINE, kAppPathKey, L""));
    EXPECT_EQ(install, test::ReadRegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation"));
    // The uninstall entry is among the 32-bit programs (App Paths is one key for both views).
    EXPECT_TRUE(KeyIn64BitView(Wow64Path(kUninstallKey)));
    EXPECT_FALSE(KeyIn64BitView(kUninstallKey));
    EXPECT_EQ(install + L"\\Velmarin.exe",
              test::ReadLink(test::SpecialFolder(CSIDL_COMMON_PROGRAMS) + L"\\岚舟浏览器\\岚舟 3.lnk").target);
    EXPECT_TRUE(test::FileExists(test::SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\岚舟 3.lnk"));
    {
        test::SetupProcess second;
        HWND upgrade = second.PageWithControl(IDC_UPGRADE_DEFAULT);
        EXPECT_NE(nullptr, upgrade) << "a second run finds the installation";
        if (upgrade)
            second.QuitThroughExitQuestion(upgrade);
        EXPECT_EQ(0xFFFFFFFFu, second.WaitForExit(30000));
    }
    // Removed silently, as on Windows 10 too: the Default apps registration goes with the rest.
    {
        test::ReportedWindowsVersion windows10(L"UnInst.exe", L"win10");
        DeleteFileW((install + L"\\velmarin-starts.log").c_str());
        DeleteFileW((install + L"\\velmarin-parents.log").c_str());
        EXPECT_EQ(0u, test::RunToEnd(L"\"" + install + L"\\UnInst.exe\" /S /RemoveData=1"));
        for (int i = 0; i < 100 && test::ProcessIdOf(L"UnInst.exe"); ++i)
            Sleep(100);
    }
    EXPECT_EQ(L"", test::ReadRegString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\RegisteredApplications", L"Velmarin.exe"));
    EXPECT_FALSE(test::RegKeyExists(HKEY_LOCAL_MACHINE, kCapabilitiesKey));
    EXPECT_FALSE(test::RegKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_FALSE(test::DirExists(install));
    test::RemoveInstallation(install);
}

}
