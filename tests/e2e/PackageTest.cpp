// The Windows Installer package as a fleet's tools run it: Wine's own msiexec refuses bad
// properties and a running browser, takes over the setup's installation, upgrades, refuses a
// downgrade and removes, and the browser follows.
#include <gtest/gtest.h>
#include "e2e/WizardDriver.h"
#include "engine/Product.h"
#include "support/TestSupport.h"
#include <msi.h>
#include <msiquery.h>
#include <regex>
#include <shlobj.h>

namespace {

std::wstring PackageProperty(const std::wstring &package, const wchar_t *name)
{
    MSIHANDLE database = 0, view = 0, record = 0;
    std::wstring value;
    std::wstring query = std::wstring(L"SELECT `Value` FROM `Property` WHERE `Property` = '") + name + L"'";
    if (MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, &database) == ERROR_SUCCESS &&
        MsiDatabaseOpenViewW(database, query.c_str(), &view) == ERROR_SUCCESS && MsiViewExecute(view, 0) == ERROR_SUCCESS &&
        MsiViewFetch(view, &record) == ERROR_SUCCESS) {
        wchar_t text[256];
        DWORD length = ARRAYSIZE(text);
        if (MsiRecordGetStringW(record, 1, text, &length) == ERROR_SUCCESS)
            value = text;
    }
    for (MSIHANDLE handle : {record, view, database})
        if (handle)
            MsiCloseHandle(handle);
    return value;
}

// The entries named as the browser that the system's list of programs shows, in both views.
int VisibleEntries()
{
    int count = 0;
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        HKEY list;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 0,
                          KEY_READ | view, &list) != ERROR_SUCCESS)
            continue;
        wchar_t name[256];
        for (DWORD i = 0, length = ARRAYSIZE(name); RegEnumKeyExW(list, i, name, &length, nullptr, nullptr, nullptr, nullptr) ==
                                                    ERROR_SUCCESS;
             ++i, length = ARRAYSIZE(name)) {
            HKEY entry;
            if (RegOpenKeyExW(list, name, 0, KEY_READ | view, &entry) != ERROR_SUCCESS)
                continue;
            wchar_t shown[256] = L"";
            DWORD hidden = 0, size = sizeof(shown) - sizeof(wchar_t);
            RegQueryValueExW(entry, L"DisplayName", nullptr, nullptr, (BYTE *)shown, &size);
            size = sizeof(hidden);
            RegQueryValueExW(entry, L"SystemComponent", nullptr, nullptr, (BYTE *)&hidden, &size);
            RegCloseKey(entry);
            if (std::wstring(shown) == L"岚舟浏览器 3.2 正式版" && hidden != 1)
                ++count;
        }
        RegCloseKey(list);
        if (!test::OnSixtyFourBitWindows())
            break;
    }
    return count;
}

class Package : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::RunsOnWin64Road())
            GTEST_SKIP() << "the package's road runs in the 64-bit prefix only";
        m_package = test::BuildDir() + L"\\VelmarinSetup.msi";
        m_newer = test::BuildDir() + L"\\package-newer\\VelmarinSetup.msi";
        m_code = PackageProperty(m_package, L"ProductCode");
        m_newerCode = PackageProperty(m_newer, L"ProductCode");
        ASSERT_FALSE(m_code.empty());
        ASSERT_FALSE(m_newerCode.empty());
        ASSERT_NE(m_code, m_newerCode);
        m_logs = test::MakeTempDir(L"package-logs");
        Clean();
    }
    void TearDown() override
    {
        if (m_code.empty())
            return;
        Clean();
        test::RemoveTree(m_logs);
    }
    void Clean()
    {
        for (const std::wstring &code : {m_code, m_newerCode})
            if (Known(code))
                Msiexec(L"/x " + code + L" /qn");
        test::RemoveInstallation(m_folder);
        RemoveDirectoryW(L"C:\\部署 测试");
        test::RemoveInstallation(test::DefaultInstallFolder());
        // The programs' log, in the machine's Temp where Wine names no package log.
        wchar_t windows[MAX_PATH];
        GetSystemWindowsDirectoryW(windows, ARRAYSIZE(windows));
        DeleteFileW((std::wstring(windows) + L"\\Temp\\VelmarinSetup-msi.log").c_str());
    }

    DWORD Msiexec(const std::wstring &arguments) { return test::RunToEnd(L"msiexec " + arguments); }
    // Runs msiexec with a verbose log of its own and returns the code; `log` hears the log.
    DWORD Logged(const std::wstring &arguments, std::string &log)
    {
        std::wstring path = m_logs + L"\\msiexec-" + std::to_wstring(++m_runs) + L".log";
        DWORD code = Msiexec(arguments + L" /l*v \"" + path + L"\"");
        log = test::ReadFile(path);
        return code;
    }
    static bool Known(const std::wstring &code) { return MsiQueryProductStateW(code.c_str()) == INSTALLSTATE_DEFAULT; }
    static bool BrowserInstalled() { return test::RegKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey); }

    const std::wstring m_folder = L"C:\\部署 测试\\岚舟 浏览器";
    std::wstring m_package, m_newer, m_code, m_newerCode, m_logs;
    int m_runs = 0;
};

TEST_F(Package, InstallsUpgradesRefusesADowngradeAndRemoves)
{
    std::string log;
    // A bad property ends it before anything changes, its reason in the log.
    EXPECT_EQ(1603u, Logged(L"/i \"" + m_package + L"\" /qn DESKTOP_SHORTCUT=maybe", log));
    EXPECT_NE(std::string::npos, log.find("DESKTOP_SHORTCUT=\"maybe\" is refused")) << log;
    EXPECT_EQ(1603u, Msiexec(L"/i \"" + m_package + L"\" /qn INSTALLDIR=\"\""));
    EXPECT_FALSE(Known(m_code));
    EXPECT_FALSE(BrowserInstalled());
    EXPECT_FALSE(test::DirExists(L"C:\\部署 测试"));

    // An installation the setup made itself: while its browser runs, the package fails and
    // changes nothing; then the package takes it over.
    ASSERT_EQ(0u, test::RunToEnd(L"\"" + test::SetupExe() + L"\" /S /DesktopShortcut=0 /D=" + m_folder));
    HANDLE browser = test::StartProcess(L"\"" + m_folder + L"\\Velmarin.exe\" /stay");
    ASSERT_TRUE(browser);
    EXPECT_EQ(1603u, Logged(L"/i \"" + m_package + L"\" /qn INSTALLDIR=\"" + m_folder + L"\"", log));
    EXPECT_NE(std::string::npos, log.find("VelmarinSetup.exe ended with 32")) << log;
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(browser, 0)) << "still running";
    EXPECT_FALSE(Known(m_code));
    CloseHandle(browser);
    test::EndProcessesIn(m_folder);

    EXPECT_EQ(0u, Logged(L"/i \"" + m_package + L"\" /qn DESKTOP_SHORTCUT=0 INSTALLDIR=\"" + m_folder + L"\"", log));
    EXPECT_TRUE(Known(m_code));
    EXPECT_EQ(1, VisibleEntries()) << "the package's entry alone";
    for (const std::wstring &file : test::PayloadFileTable())
        EXPECT_TRUE(test::FileExists(m_folder + file)) << test::Utf8(file);
    EXPECT_FALSE(test::FileExists(test::SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\岚舟 3.lnk"));
    // The setup's own lines, each with its time, follow the package's in its log; Wine writes
    // the log in the system's code page, so only their ASCII parts are looked for.
    EXPECT_TRUE(std::regex_search(log, std::regex("\n\\d{4}-\\d\\d-\\d\\d [0-9:.]+ .*/S /DesktopShortcut=0 /QuickLaunchShortcut=1 "
                                                  "/DefaultBrowser=0 /CloseBrowser=0 .*/D=C:\\\\")))
        << log;
    EXPECT_NE(std::string::npos, log.find("VelmarinSetup.exe ended with 0")) << log;

    // A newer package replaces the older in place; the browser stays where it is.
    EXPECT_EQ(0u, Logged(L"/i \"" + m_newer + L"\" /qn", log));
    EXPECT_TRUE(Known(m_newerCode));
    EXPECT_FALSE(Known(m_code));
    EXPECT_TRUE(test::FileExists(m_folder + L"\\Velmarin.exe")) << log;
    EXPECT_EQ(1, VisibleEntries());
    // The older one again is refused, and changes nothing.
    EXPECT_EQ(1603u, Msiexec(L"/i \"" + m_package + L"\" /qn"));
    EXPECT_TRUE(Known(m_newerCode));
    EXPECT_FALSE(Known(m_code));

    EXPECT_EQ(0u, Logged(L"/x " + m_newerCode + L" /qn", log));
    EXPECT_FALSE(Known(m_newerCode));
    EXPECT_FALSE(BrowserInstalled());
    EXPECT_FALSE(test::FileExists(m_folder + L"\\Velmarin.exe"));
    EXPECT_NE(std::string::npos, log.find("UnInst.exe ended with 0")) << log;

    // A browser removed through its own uninstaller leaves the package nothing to do but go.
    ASSERT_EQ(0u, Msiexec(L"/i \"" + m_package + L"\" /qn INSTALLDIR=\"" + m_folder + L"\""));
    ASSERT_EQ(0u, test::RunToEnd(L"\"" + m_folder + L"\\UnInst.exe\" /S"));
    EXPECT_EQ(0u, Msiexec(L"/x " + m_code + L" /qn"));
    EXPECT_FALSE(Known(m_code));
    EXPECT_FALSE(BrowserInstalled()) << "no entry left behind";
}

}
