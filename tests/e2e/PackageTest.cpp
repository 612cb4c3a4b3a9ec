// The Windows Installer package as a fleet's tools run it: Wine's own msiexec refuses bad
// properties and a running browser, takes over the setup's installation, upgrades (a failed
// upgrade changing nothing), repairs, refuses a downgrade and removes, and the browser follows.
#include <gtest/gtest.h>
#include "e2e/WizardDriver.h"
#include "engine/Product.h"
#include "support/TestSupport.h"
#include <msi.h>
#include <msiquery.h>
#include <regex>
#include <shlobj.h>

namespace {

class Package : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::RunsOnWin64Road())
            GTEST_SKIP() << "the package's road runs in the 64-bit prefix only";
        m_package = test::BuildDir() + L"\\VelmarinSetup.msi";
        m_newer = test::BuildDir() + L"\\package-newer\\VelmarinSetup.msi";
        m_logs = test::MakeTempDir(L"package-logs");
        Clean();
    }
    void TearDown() override
    {
        if (m_logs.empty())
            return;
        Clean();
        test::RemoveTree(m_logs);
    }
    void Clean()
    {
        for (const std::wstring &product : Installed())
            Msiexec(L"/x " + product.substr(0, 38) + L" /qn");
        test::RemoveInstallation(m_folder);
        RemoveDirectoryW(L"C:\\部署 测试");
        test::RemoveInstallation(test::DefaultInstallFolder());
        DeleteFileW(PlantedLog().c_str());
        // The programs' logs, each in a folder of its own in the machine's Temp, as Wine names no
        // package log.
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((WindowsTemp() + L"\\*").c_str(), &found);
        for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
            std::wstring folder = WindowsTemp() + L"\\" + found.cFileName;
            WIN32_FIND_DATAW log;
            HANDLE logs = FindFirstFileW((folder + L"\\VelmarinSetup-msi-*.log").c_str(), &log);
            if (logs != INVALID_HANDLE_VALUE) {
                FindClose(logs);
                test::RemoveTree(folder);
            }
        }
        if (search != INVALID_HANDLE_VALUE)
            FindClose(search);
    }
    static std::wstring WindowsTemp()
    {
        wchar_t windows[MAX_PATH];
        GetSystemWindowsDirectoryW(windows, ARRAYSIZE(windows));
        return std::wstring(windows) + L"\\Temp";
    }
    // The name earlier packages gave the programs' log, in a folder where any user makes files.
    static std::wstring PlantedLog() { return WindowsTemp() + L"\\VelmarinSetup-msi.log"; }

    DWORD Msiexec(const std::wstring &arguments) { return test::RunToEnd(L"msiexec " + arguments); }
    // Runs msiexec with a verbose log of its own and returns the code; `log` hears the log.
    DWORD Logged(const std::wstring &arguments, std::string &log)
    {
        std::wstring path = m_logs + L"\\msiexec-" + std::to_wstring(++m_runs) + L".log";
        DWORD code = Msiexec(arguments + L" /l*v \"" + path + L"\"");
        log = test::ReadFile(path);
        return code;
    }
    // The packages Windows Installer knows by the package's UpgradeCode, each as
    // "<ProductCode> <version>", and whether the list of programs shows only the package's entry.
    static std::vector<std::wstring> Installed()
    {
        std::vector<std::wstring> products;
        wchar_t code[39], version[64];
        for (DWORD i = 0; MsiEnumRelatedProductsW(L"{5C3F0A9E-7D41-4B86-9E2A-3F6B1C8D4E27}", 0, i, code) == ERROR_SUCCESS; ++i) {
            DWORD length = ARRAYSIZE(version);
            MsiGetProductInfoW(code, INSTALLPROPERTY_VERSIONSTRING, version, &length);
            bool alone = test::ReadRegString(HKEY_LOCAL_MACHINE, std::wstring(kUninstallList) + code, L"DisplayName") ==
                             L"岚舟浏览器 3.2 正式版" &&
                         test::ReadRegDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"SystemComponent") == 1;
            products.push_back(std::wstring(code) + L" " + version + (alone ? L"" : L" (not alone in the list)"));
        }
        return products;
    }
    static bool BrowserInstalled() { return test::RegKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey); }

    static constexpr const wchar_t *kUninstallList = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    const std::wstring m_folder = L"C:\\部署 测试\\岚舟 浏览器";
    std::wstring m_package, m_newer, m_logs;
    int m_runs = 0;
};

TEST_F(Package, InstallsUpgradesRefusesADowngradeAndRemoves)
{
    std::string log;
    // A bad property ends it before anything changes, its reason in the log.
    EXPECT_EQ(1603u, Logged(L"/i \"" + m_package + L"\" /qn DESKTOP_SHORTCUT=maybe", log));
    EXPECT_NE(std::string::npos, log.find("DESKTOP_SHORTCUT=\"maybe\" is refused")) << log;
    EXPECT_EQ(1603u, Msiexec(L"/i \"" + m_package + L"\" /qn INSTALLDIR=\"\""));
    EXPECT_TRUE(Installed().empty());
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
    EXPECT_TRUE(Installed().empty());
    CloseHandle(browser);
    test::EndProcessesIn(m_folder);

    EXPECT_EQ(0u, Logged(L"/i \"" + m_package + L"\" /qn DESKTOP_SHORTCUT=0 INSTALLDIR=\"" + m_folder + L"\"", log));
    std::vector<std::wstring> first = Installed();
    ASSERT_EQ(1u, first.size());
    EXPECT_EQ(std::wstring::npos, first[0].find(L"(not alone")) << test::Utf8(first[0]);
    for (const std::wstring &file : test::PayloadFileTable())
        EXPECT_TRUE(test::FileExists(m_folder + file)) << test::Utf8(file);
    EXPECT_FALSE(test::FileExists(test::SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\岚舟 3.lnk"));
    // The setup's own lines, each with its time, follow the package's in its log; Wine writes
    // the log in the system's code page, so only their ASCII parts are looked for.
    EXPECT_TRUE(std::regex_search(log, std::regex("\n\\d{4}-\\d\\d-\\d\\d [0-9:.]+ .*/S /UserParts=0 /Downgrade=0 /DesktopShortcut=0 /QuickLaunchShortcut=1 "
                                                  "/DefaultBrowser=0 /CloseBrowser=0 .*/D=C:\\\\")))
        << log;
    EXPECT_NE(std::string::npos, log.find("VelmarinSetup.exe ended with 0")) << log;
    // Its log was made new, in a protected folder of its own.
    EXPECT_TRUE(std::regex_search(log, std::regex("/Log=\"C:\\\\windows\\\\temp\\\\\\d+\\\\VelmarinSetup-msi-[0-9A-F]{8}\\.log\" ",
                                                  std::regex::icase)))
        << log;

    // A newer package that fails, its browser running, leaves the older one as it was: installed,
    // owning the browser, its entry the only one shown.
    browser = test::StartProcess(L"\"" + m_folder + L"\\Velmarin.exe\" /stay");
    ASSERT_TRUE(browser);
    EXPECT_EQ(1603u, Logged(L"/i \"" + m_newer + L"\" /qn", log));
    EXPECT_NE(std::string::npos, log.find("VelmarinSetup.exe ended with 32")) << log;
    EXPECT_EQ(first, Installed());
    CloseHandle(browser);
    test::EndProcessesIn(m_folder);

    // A newer package replaces the older in place; the browser stays where it is. The older one
    // again is refused, and changes nothing.
    EXPECT_EQ(0u, Logged(L"/i \"" + m_newer + L"\" /qn", log));
    std::vector<std::wstring> newer = Installed();
    ASSERT_EQ(1u, newer.size()) << log;
    EXPECT_EQ(newer[0].substr(0, 38) + L" 3.2.1.0", newer[0]);
    EXPECT_NE(first[0].substr(0, 38), newer[0].substr(0, 38));
    EXPECT_TRUE(test::FileExists(m_folder + L"\\Velmarin.exe")) << log;
    EXPECT_EQ(1603u, Msiexec(L"/i \"" + m_package + L"\" /qn"));
    EXPECT_EQ(newer, Installed());
    // The .exe run again over the package's installation updates it; the list keeps one entry.
    EXPECT_EQ(0u, test::RunToEnd(L"\"" + test::SetupExe() + L"\" /S"));
    EXPECT_EQ(newer, Installed());

    // A repair, which any user may start, takes nothing from its caller: with the browser
    // running it fails and ends nothing, then it brings back a lost file into the recorded folder.
    const std::wstring repair = L"/i " + newer[0].substr(0, 38) +
                                L" REINSTALL=ALL REINSTALLMODE=vomus /qn INSTALLDIR=C:\\Other\\Velmarin CLOSE_BROWSER=1";
    ASSERT_TRUE(DeleteFileW((m_folder + L"\\Extensions\\PlgKit\\PlgKit.dll").c_str()));
    browser = test::StartProcess(L"\"" + m_folder + L"\\Velmarin.exe\" /stay");
    ASSERT_TRUE(browser);
    EXPECT_EQ(1603u, Msiexec(repair));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(browser, 0)) << "still running";
    CloseHandle(browser);
    test::EndProcessesIn(m_folder);
    EXPECT_EQ(0u, Logged(repair, log));
    EXPECT_NE(std::string::npos, log.find("A repair of the installed browser")) << log;
    EXPECT_TRUE(test::FileExists(m_folder + L"\\Extensions\\PlgKit\\PlgKit.dll")) << log;
    EXPECT_FALSE(test::DirExists(L"C:\\Other"));
    EXPECT_EQ(newer, Installed());

    // A newer browser put there by a later setup stays through a repair: no older one over it.
    const std::wstring browserFile = m_folder + L"\\Velmarin.exe";
    ASSERT_TRUE(CopyFileW((test::BuildDir() + L"\\planted-browsers\\newer\\Velmarin.exe").c_str(), browserFile.c_str(), FALSE));
    const std::string newerBrowser = test::ReadFile(browserFile);
    EXPECT_EQ(0u, Logged(repair, log));
    EXPECT_NE(std::string::npos, log.find("the repair leaves it as it is")) << log;
    EXPECT_EQ(newerBrowser, test::ReadFile(browserFile));
    ASSERT_TRUE(CopyFileW((test::StandInFiles() + L"\\Velmarin.exe").c_str(), browserFile.c_str(), FALSE));

    // A removal that leaves files in use behind is no removal: the package stays, and its next
    // removal takes the rest.
    HANDLE reader = CreateFileW((m_folder + L"\\Extensions\\PlgKit\\PlgKit.dll").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    EXPECT_EQ(1603u, Logged(L"/x " + newer[0].substr(0, 38) + L" /qn", log));
    EXPECT_NE(std::string::npos, log.find("UnInst.exe ended with 1920")) << log;
    CloseHandle(reader);
    EXPECT_EQ(newer, Installed());

    EXPECT_EQ(0u, Logged(L"/x " + newer[0].substr(0, 38) + L" /qn", log)) << log;
    EXPECT_TRUE(Installed().empty());
    EXPECT_FALSE(BrowserInstalled());
    EXPECT_FALSE(test::FileExists(m_folder + L"\\Velmarin.exe"));
    EXPECT_NE(std::string::npos, log.find("UnInst.exe ended with 0")) << log;

    // A browser removed through its own uninstaller leaves the package nothing to do but go. A log
    // another user planted under the name earlier packages used, and holds, stays as it was.
    test::WriteFile(PlantedLog(), "planted by another user\r\n");
    HANDLE held = CreateFileW(PlantedLog().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(0u, Msiexec(L"/i \"" + m_package + L"\" /qn INSTALLDIR=\"" + m_folder + L"\""));
    CloseHandle(held);
    EXPECT_EQ("planted by another user\r\n", test::ReadFile(PlantedLog()));
    ASSERT_EQ(0u, test::RunToEnd(L"\"" + m_folder + L"\\UnInst.exe\" /S"));
    // Nor does a repair, which any user may start, bring back what the administrator removed.
    EXPECT_EQ(0u, Logged(L"/i " + first[0].substr(0, 38) + L" REINSTALL=ALL REINSTALLMODE=vomus /qn", log));
    EXPECT_NE(std::string::npos, log.find("a repair installs nothing")) << log;
    EXPECT_FALSE(test::FileExists(m_folder + L"\\Velmarin.exe"));
    EXPECT_EQ(0u, Msiexec(L"/x " + first[0].substr(0, 38) + L" /qn"));
    EXPECT_TRUE(Installed().empty());
    EXPECT_FALSE(BrowserInstalled()) << "no entry left behind";
}

}

// The deferred actions, as the machine's account, are fed by an immediate action that runs in its
// caller's rights (and any user may start a repair): the setup's run marks the browser as this
// package's, and its rollback puts back the mark the run kept before the setup took the browser
// over, whatever the data handed to them names.
TEST_F(Package, TheDeferredActionsTakeNoOwnerFromTheirData)
{
    HMODULE actions = LoadLibraryW((test::BuildDir() + L"\\package-actions\\PackageActions.dll").c_str());
    MSIHANDLE session = 0;
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    ASSERT_TRUE(actions && MsiOpenPackageW(m_package.c_str(), &session) == ERROR_SUCCESS);
    auto run = [&](const char *action, const std::wstring &data) {
        auto entry = reinterpret_cast<UINT(WINAPI *)(MSIHANDLE)>(reinterpret_cast<void *>(GetProcAddress(actions, action)));
        MsiSetPropertyW(session, L"CustomActionData", data.c_str());
        return entry ? entry(session) : ERROR_PROC_NOT_FOUND;
    };
    auto owner = [] { return test::ReadRegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"PackageProductCode"); };
    wchar_t product[39];
    DWORD length = ARRAYSIZE(product);
    ASSERT_EQ(0u, MsiGetPropertyW(session, L"ProductCode", product, &length));
    const std::wstring forgedOwner = L"{0F0F0F0F-1111-2222-3333-444444444444}";
    // A first installation's data: the program (where only administrators could have put it, not
    // where the build happens to lie), no log folder, the command line, the mark.
    const std::wstring setupFolder = test::MakeTempDir(L"package setup"), setup = setupFolder + L"\\VelmarinSetup.exe";
    ASSERT_TRUE(CopyFileW(test::SetupExe().c_str(), setup.c_str(), FALSE));
    const std::wstring data = setup + L"\n\n/S /UserParts=0 /Downgrade=0 /DesktopShortcut=0 "
                              L"/QuickLaunchShortcut=0 /DefaultBrowser=0 /CloseBrowser=0 /D=" + m_folder + L"\n" +
                              forgedOwner + L" 1 1";
    EXPECT_EQ(0u, run("RunSetup", data));
    EXPECT_EQ(product, owner()) << "this package owns it";
    EXPECT_EQ(0u, run("UndoSetupOwnership", forgedOwner + L" 1 1\n" + product));
    EXPECT_EQ(L"", owner()) << "no package named by the data owns it";
    EXPECT_EQ(0u, test::ReadRegDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"SystemComponent"))
        << "as before this run's setup, when no package owned it, its own entry shows";
    // The removal knows the package it belongs to from Windows Installer: its data names none.
    ASSERT_EQ(0u, run("RunSetup", data));
    EXPECT_EQ(0u, run("RunUninstaller", L"\n/S /RemoveData=0"));
    EXPECT_FALSE(BrowserInstalled()) << "the package's own browser is removed";
    MsiCloseHandle(session);
    FreeLibrary(actions);
    test::RemoveInstallation(m_folder);
    test::RemoveTree(setupFolder);
}
