// Registration with the system, read back from the registry of the test prefix.
#include <gtest/gtest.h>
#include "app/InstallOptions.h"
#include "engine/Product.h"
#include "support/TestSupport.h"
#include <shlwapi.h>

namespace {

const HKEY hklm = HKEY_LOCAL_MACHINE;
const HKEY hkcr = HKEY_CLASSES_ROOT;

void RemoveRegistration()
{
    test::RemoveBrowserRegistration();
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveRegistration();
        m_install = test::MakeTempDir(L"Velmarin 3");
        test::WriteFile(m_install + L"\\Velmarin.exe", std::string(3000, 'x'));
        test::WriteFile(m_install + L"\\UnInst.exe", std::string(1000, 'x'));
    }
    void TearDown() override
    {
        RemoveRegistration();
        test::RemoveTree(m_install);
    }
    // Registers and returns the text of the record the registration makes.
    std::string Register(int osCode, DWORD realVersion = MAKEWORD(1, 6))
    {
        CInstallOptions options;
        options.m_nOsVersion = osCode;
        options.m_dwRealVersion = realVersion;
        wcscpy(options.m_strInstallDir, m_install.c_str());
        options.m_record.SetFolder(m_install.c_str(), false);
        options.RegisterWithSystem();
        DWORD length = 0;
        char *text = options.m_record.Serialize(length);
        std::string result(text ? text : "", text ? length : 0);
        free(text);
        return result;
    }
    std::wstring m_install;
};

TEST_F(Registration, VistaAndSevenGetAllThreeGroups)
{
    // Windows 8 and later report 6.2, code -1000, and list the browser in Default apps by the same.
    for (int code : {7, 8, 9, -1000}) {
        RemoveRegistration();
        Register(code, code == -1000 ? MAKEWORD(0, 10) : MAKEWORD(1, 6));
        std::wstring caps = kCapabilitiesKey;
        EXPECT_EQ(L"Velmarin Browser", test::ReadRegString(hklm, caps, L"ApplicationName")) << code;
        EXPECT_EQ(L"岚舟浏览器是一款小巧快速、安全稳定的绿色浏览器。贴心的浏览器静音、智能地址栏、内建下载等功能带给您轻松、愉快的上网体验。",
                  test::ReadRegString(hklm, caps, L"ApplicationDescription"));
        for (const wchar_t *extension : {L".htm", L".html", L".mht", L".mhtml"})
            EXPECT_EQ(L"VelmarinURL", test::ReadRegString(hklm, caps, extension));
        EXPECT_EQ(caps, test::ReadRegString(hklm, L"SOFTWARE\\RegisteredApplications", L"Velmarin.exe"));
        EXPECT_EQ(L"Velmarin.exe", test::ReadRegString(hklm, caps + L"\\StartMenu", L"StartMenuInternet"));
        for (const wchar_t *scheme : {L"http", L"https", L"file"})
            EXPECT_EQ(L"VelmarinURL", test::ReadRegString(hklm, caps + L"\\URLAssociations", scheme));

        wchar_t system[MAX_PATH];
        GetSystemDirectoryW(system, MAX_PATH);
        EXPECT_EQ(std::wstring(system) + L"\\url.dll,0", test::ReadRegString(hkcr, L"VelmarinURL\\DefaultIcon", L""));
        EXPECT_EQ(L"VelmarinURL", test::ReadRegString(hkcr, L"VelmarinURL", L""));
        EXPECT_EQ(L"open", test::ReadRegString(hkcr, L"VelmarinURL\\shell", L""));
        bool found = false;
        EXPECT_EQ(L"", test::ReadRegString(hkcr, L"VelmarinURL\\shell\\open", L"", &found));
        EXPECT_TRUE(found);
        EXPECT_EQ(L"\"" + m_install + L"\\Velmarin.exe\" \"%1\"",
                  test::ReadRegString(hkcr, L"VelmarinURL\\shell\\open\\command", L""));
        EXPECT_TRUE(test::RegKeyExists(hklm, kUninstallKey));
        EXPECT_TRUE(test::RegKeyExists(hklm, kAppPathKey));
    }
}

TEST_F(Registration, OlderSystemsGetTheUninstallEntryAndAppPathOnly)
{
    for (int code : {1, 2, 3, 4, 5, 6, -1000}) {
        RemoveRegistration();
        Register(code, code == -1000 ? MAKEWORD(0, 4) : MAKEWORD(1, 5));
        EXPECT_FALSE(test::RegKeyExists(hklm, kClientKey)) << code;
        EXPECT_FALSE(test::RegKeyExists(hkcr, kUrlClass)) << code;
        bool found = true;
        test::ReadRegString(hklm, L"SOFTWARE\\RegisteredApplications", L"Velmarin.exe", &found);
        EXPECT_FALSE(found);
        EXPECT_TRUE(test::RegKeyExists(hklm, kUninstallKey)) << code;
        EXPECT_EQ(m_install + L"\\Velmarin.exe", test::ReadRegString(hklm, kAppPathKey, L"")) << code;
    }
}

TEST_F(Registration, UninstallEntryAndAppPathValues)
{
    Register(9);
    std::wstring key = kUninstallKey;
    EXPECT_EQ(L"岚舟浏览器 3.2 正式版", test::ReadRegString(hklm, key, L"DisplayName"));
    EXPECT_EQ(L"\"" + m_install + L"\\UnInst.exe\"", test::ReadRegString(hklm, key, L"UninstallString"))
        << "quoted: the system runs it as a command line";
    EXPECT_EQ(L"3.2.0.7", test::ReadRegString(hklm, key, L"DisplayVersion"));
    EXPECT_EQ(L"青石工作室", test::ReadRegString(hklm, key, L"Publisher"));
    EXPECT_EQ(L"http://" + std::wstring(kProductWebHost) + L"/vm3/index.htm", test::ReadRegString(hklm, key, L"HelpLink"));
    EXPECT_EQ(m_install, test::ReadRegString(hklm, key, L"InstallLocation"));
    EXPECT_EQ(m_install + L"\\Velmarin.exe,0", test::ReadRegString(hklm, key, L"DisplayIcon"));
    bool found = false;
    EXPECT_EQ((DWORD)((test::FolderBytes(test::StandInFiles()) + 1023) / 1024), test::ReadRegDword(hklm, key, L"EstimatedSize", &found))
        << "the packed file set's size in KB, rounded up, whatever the install folder holds";
    EXPECT_TRUE(found);
    EXPECT_EQ(1u, test::ReadRegDword(hklm, key, L"NoModify"));
    EXPECT_EQ(1u, test::ReadRegDword(hklm, key, L"NoRepair"));
    SYSTEMTIME today;
    GetLocalTime(&today);
    wchar_t date[16];
    swprintf(date, 16, L"%04u%02u%02u", today.wYear, today.wMonth, today.wDay);
    EXPECT_EQ(date, test::ReadRegString(hklm, key, L"InstallDate"));

    EXPECT_EQ(m_install + L"\\Velmarin.exe", test::ReadRegString(hklm, kAppPathKey, L""));
    EXPECT_EQ(m_install, test::ReadRegString(hklm, kAppPathKey, L"Path"));
}

// A fresh system has no start-menu clients key, and a user may have classes of his own of the
// same name: the setup writes the machine's classes, and its record is one the uninstaller
// accepts, naming as made only keys that are the browser's own.
TEST_F(Registration, TheMachinesClassesAndARecordTheUninstallerAccepts)
{
    const std::wstring clients = L"SOFTWARE\\Clients\\StartMenuInternet", saved = L"SOFTWARE\\VelmarinTestSavedClients";
    auto copyTree = [](const std::wstring &from, const std::wstring &to) {
        HKEY source = nullptr, target = nullptr;
        if (RegOpenKeyExW(hklm, from.c_str(), 0, KEY_READ, &source) != ERROR_SUCCESS)
            return;
        if (RegCreateKeyExW(hklm, to.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &target, nullptr) == ERROR_SUCCESS) {
            RegCopyTreeW(source, nullptr, target);
            RegCloseKey(target);
        }
        RegCloseKey(source);
    };
    copyTree(clients, saved);
    test::DeleteRegTree(hklm, clients);
    const std::wstring userClass = L"Software\\Classes\\VelmarinURL\\shell\\open\\command";
    SHSetValueW(HKEY_CURRENT_USER, userClass.c_str(), L"", REG_SZ, L"user's own", sizeof(L"user's own"));

    std::string text = Register(9);
    EXPECT_EQ(L"\"" + m_install + L"\\Velmarin.exe\" \"%1\"",
              test::ReadRegString(hklm, std::wstring(kUrlClassKey) + L"\\shell\\open\\command", L""));
    EXPECT_EQ(L"user's own", test::ReadRegString(HKEY_CURRENT_USER, userClass, L""));
    CInstallRecord record;
    CInstallOptions places;
    EXPECT_EQ(kRecordValid, record.Parse(text.data(), text.size(), m_install.c_str(), places.Places()));
    for (int i = 0; i < record.Count(); ++i) {
        if (record.Item(i).kind == RecordItem::kMadeKey) {
            EXPECT_TRUE(IsOwnRegistryKey(record.Item(i).path)) << test::Utf8(record.Item(i).path);
        }
    }

    test::DeleteRegTree(HKEY_CURRENT_USER, L"Software\\Classes\\VelmarinURL");
    test::DeleteRegTree(hklm, clients);
    copyTree(saved, clients);
    test::DeleteRegTree(hklm, saved);
}

TEST_F(Registration, ASecondRunWritesTheSameValuesAgain)
{
    Register(9);
    HKEY key = nullptr;
    DWORD before = 0, after = 0;
    RegOpenKeyExW(hklm, kCapabilitiesKey, 0, KEY_READ, &key);
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &before, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    Register(9);
    RegOpenKeyExW(hklm, kCapabilitiesKey, 0, KEY_READ, &key);
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &after, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    EXPECT_EQ(6u, before);
    EXPECT_EQ(before, after);
    EXPECT_EQ(m_install + L"\\Velmarin.exe", test::ReadRegString(hklm, kAppPathKey, L""));
}

}
