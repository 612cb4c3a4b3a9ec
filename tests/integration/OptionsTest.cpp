// Folder detection and the ini setting, against the real registry and shell folders of the
// test prefix.
#include <gtest/gtest.h>
#include "app/InstallOptions.h"
#include "engine/Product.h"
#include "app/Versions.h"
#include "support/TestSupport.h"
#include <shlobj.h>
#include <shlwapi.h>

namespace {

std::wstring SpecialFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE);
    return path;
}

// Keeps the App Paths entry of the prefix as it was before the test.
class AppPathsGuard {
public:
    AppPathsGuard() { m_saved = test::ReadRegString(HKEY_LOCAL_MACHINE, kAppPathKey, L"", &m_existed); }
    ~AppPathsGuard()
    {
        test::DeleteRegTree(HKEY_LOCAL_MACHINE, kAppPathKey);
        if (m_existed)
            SHSetValueW(HKEY_LOCAL_MACHINE, kAppPathKey, nullptr, REG_SZ, m_saved.c_str(),
                        (DWORD)((m_saved.size() + 1) * sizeof(wchar_t)));
    }
    void Set(const std::wstring &value)
    {
        SHSetValueW(HKEY_LOCAL_MACHINE, kAppPathKey, nullptr, REG_SZ, value.c_str(),
                    (DWORD)((value.size() + 1) * sizeof(wchar_t)));
    }
    void Remove() { test::DeleteRegTree(HKEY_LOCAL_MACHINE, kAppPathKey); }

private:
    std::wstring m_saved;
    bool m_existed = false;
};

TEST(DetectFolders, ExistingInstallationFromAppPaths)
{
    AppPathsGuard guard;
    std::wstring folder = test::MakeTempDir(L"existing browser");
    std::wstring exe = folder + L"\\Velmarin.exe";
    test::WriteFile(exe, "MZ");
    guard.Set(exe);

    CInstallOptions options;
    options.DetectFolders();
    EXPECT_EQ(folder, options.m_strInstallDir);
    EXPECT_EQ(kStateOlderInstalled, options.m_nState) << "a browser of unknown version";

    // The file is gone: the default folder is used.
    DeleteFileW(exe.c_str());
    CInstallOptions fresh;
    fresh.DetectFolders();
    EXPECT_EQ(SpecialFolder(CSIDL_PROGRAM_FILES) + L"\\Velmarin 3", fresh.m_strInstallDir);
    EXPECT_EQ(0, fresh.m_nState);
    test::RemoveTree(folder);
}

// The installed browser's version selects the state: from its file's version resource, or
// where the file has none, from the uninstall entry.
TEST(DetectFolders, StateFromTheInstalledVersion)
{
    AppPathsGuard guard;
    std::wstring folder = test::MakeTempDir(L"installed browser");
    std::wstring browser = folder + L"\\Velmarin.exe";
    struct Row {
        std::wstring file;
        const wchar_t *displayVersion;
        int state;
    } rows[] = {
        {test::PlantedBrowser(L"older"), L"", kStateOlderInstalled},
        {test::StandInFiles() + L"\\Velmarin.exe", L"", kStateSameInstalled},
        {test::PlantedBrowser(L"newer"), L"", kStateNewerInstalled},
        {test::PlantedBrowser(L"newer"), L"1.0", kStateNewerInstalled},
        {test::StandInFiles() + L"\\WebApp.exe", L"3.10", kStateNewerInstalled},
        {test::StandInFiles() + L"\\WebApp.exe", L"3.2.0.7", kStateSameInstalled},
        {test::StandInFiles() + L"\\WebApp.exe", L"3.2.0.6", kStateOlderInstalled},
        {test::StandInFiles() + L"\\WebApp.exe", L"beta", kStateOlderInstalled},
    };
    for (const Row &row : rows) {
        test::RemoveBrowserRegistration();
        ASSERT_TRUE(CopyFileW(row.file.c_str(), browser.c_str(), FALSE));
        test::PlantInstalledBrowser(browser, row.displayVersion);
        CInstallOptions options;
        options.DetectFolders();
        EXPECT_EQ(row.state, options.m_nState) << test::Utf8(row.file) << " " << test::Utf8(row.displayVersion);
        EXPECT_EQ(folder, options.m_strInstallDir);
    }
    test::RemoveBrowserRegistration();
    test::RemoveTree(folder);
}

TEST(DetectFolders, WithoutAppPathsTheProgramFilesFolder)
{
    AppPathsGuard guard;
    guard.Remove();
    CInstallOptions options;
    options.DetectFolders();
    EXPECT_EQ(SpecialFolder(CSIDL_PROGRAM_FILES) + L"\\Velmarin 3", options.m_strInstallDir);
}

TEST(DetectFolders, DataFolderAndIniPathByOsCode)
{
    AppPathsGuard guard;
    guard.Remove();
    const std::wstring install = SpecialFolder(CSIDL_PROGRAM_FILES) + L"\\Velmarin 3";
    for (int code : {1, 2, 5, 6, -1000}) {
        CInstallOptions options;
        options.m_nOsVersion = code;
        options.DetectFolders();
        EXPECT_EQ(install, options.m_strDataDir) << code;
        EXPECT_EQ(install + L"\\Velmarin.ini", options.m_strIniPath) << code;
    }
    for (int code : {7, 8, 9}) {
        CInstallOptions options;
        options.m_nOsVersion = code;
        options.DetectFolders();
        EXPECT_EQ(SpecialFolder(CSIDL_APPDATA) + L"\\Velmarin", options.m_strDataDir) << code;
        EXPECT_EQ(SpecialFolder(CSIDL_APPDATA) + L"\\Velmarin\\Velmarin.ini", options.m_strIniPath) << code;
    }
}

TEST(DetectFolders, ShellFolders)
{
    CInstallOptions options;
    options.DetectFolders();
    EXPECT_EQ(SpecialFolder(CSIDL_COMMON_PROGRAMS) + L"\\岚舟浏览器", options.m_strProgramGroup);
    EXPECT_EQ(SpecialFolder(CSIDL_COMMON_STARTMENU), options.m_strCommonStartMenu);
    EXPECT_EQ(SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY), options.m_strCommonDesktop);
    EXPECT_EQ(SpecialFolder(CSIDL_APPDATA) + L"\\Microsoft\\Internet Explorer\\Quick Launch", options.m_strQuickLaunch);
    EXPECT_EQ(SpecialFolder(CSIDL_FAVORITES), options.m_strFavorites);
    EXPECT_EQ(1, options.m_bDefaultBrowser);
    EXPECT_EQ(1, options.m_bDesktopShortcut);
    EXPECT_EQ(1, options.m_bQuickLaunch);
}

TEST(DefaultBrowserSetting, ReadFromTheBrowsersIni)
{
    std::wstring folder = test::MakeTempDir(L"ini");
    CInstallOptions options;
    wcscpy(options.m_strIniPath, (folder + L"\\Velmarin.ini").c_str());

    EXPECT_FALSE(options.ReadDefaultBrowserSetting()) << "no file";
    test::WriteFile(options.m_strIniPath, "[option]\r\nOther=1\r\n");
    EXPECT_FALSE(options.ReadDefaultBrowserSetting()) << "no key";
    test::WriteFile(options.m_strIniPath, "[option]\r\nDefaultBrowser=1\r\n");
    EXPECT_TRUE(options.ReadDefaultBrowserSetting());
    test::WriteFile(options.m_strIniPath, "[option]\r\nDefaultBrowser=2\r\n");
    EXPECT_FALSE(options.ReadDefaultBrowserSetting());
    test::RemoveTree(folder);
}

}
