// The install record as text: what survives a round trip and a merge, and which records are
// damaged or name places the uninstaller must never touch.
#include <gtest/gtest.h>
#include "engine/InstallRecord.h"
#include "engine/Product.h"
#include "support/TestSupport.h"
#include <shlobj.h>
#include <stdlib.h>
#include <string>

namespace {

const wchar_t kFolder[] = L"D:\\Apps\\Velmarin 3";
const RecordPlaces kPlaces = {L"C:\\Start\\Programs\\岚舟浏览器", L"C:\\Start", L"C:\\Desktop", L"C:\\Quick Launch",
                              L"C:\\Favorites"};
const BYTE kHash[32] = {1, 2, 3};

std::string Text(const CInstallRecord &record)
{
    DWORD length = 0;
    char *text = record.Serialize(length);
    std::string result(text ? text : "", text ? length : 0);
    free(text);
    return result;
}

void Fill(CInstallRecord &record)
{
    record.SetFolder(kFolder, true);
    record.AddFile(L"\\Skin\\Frost_Glass\\ico\\browser.ico", 1234, kHash);
    record.AddMadeFolder(kPlaces.programGroup);
    record.AddMadeKey(HKEY_CLASSES_ROOT, L"VelmarinURL\\shell");
    record.AddValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName", REG_SZ, L"岚舟浏览器 3.2 正式版");
    record.AddValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"NoModify", REG_DWORD, L"1");
}

RecordLoadResult Parse(const std::string &text, CInstallRecord &record, const wchar_t *folder = kFolder)
{
    return record.Parse(text.data(), text.size(), folder, kPlaces);
}

TEST(InstallRecord, RoundTripAndMerge)
{
    CInstallRecord written, read;
    Fill(written);
    std::string text = Text(written);
    ASSERT_EQ(kRecordValid, Parse(text, read));
    EXPECT_EQ(text, Text(read));
    EXPECT_TRUE(read.MadeFolder());
    ASSERT_EQ(5, read.Count());
    EXPECT_EQ(1234u, read.Item(0).size);
    EXPECT_EQ(0, memcmp(kHash, read.Item(0).sha256, 32));
    EXPECT_EQ((DWORD)REG_DWORD, read.Item(4).type);

    // An update's record keeps what the earlier one named and it does not, once.
    CInstallRecord update;
    update.SetFolder(kFolder, false);
    update.AddValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName", REG_SZ, L"岚舟浏览器 3.3 正式版");
    ASSERT_TRUE(update.Merge(read));
    EXPECT_EQ(5, update.Count());
    EXPECT_TRUE(update.MadeFolder());
    EXPECT_STREQ(L"岚舟浏览器 3.3 正式版", update.Item(0).data) << "the newer value wins";
}

TEST(InstallRecord, ACutOrChangedRecordIsDamaged)
{
    CInstallRecord written, read;
    Fill(written);
    std::string text = Text(written);
    for (size_t cut = 0; cut < text.size(); ++cut)
        EXPECT_EQ(kRecordDamaged, Parse(text.substr(0, cut), read)) << "cut at " << cut;
    for (size_t at = 0; at < text.size(); ++at) {
        std::string changed = text;
        changed[at] ^= 0x20;
        EXPECT_NE(kRecordValid, Parse(changed, read)) << "byte " << at;
        EXPECT_EQ(0, read.Count());
    }
}

TEST(InstallRecord, RefusesWhatLiesOutsideTheSetupsPlaces)
{
    struct Case {
        const char *what;
        void (*add)(CInstallRecord &);
    } cases[] = {
        {"a parent step", [](CInstallRecord &r) { r.AddFile(L"\\..\\..\\Windows\\win.ini", 1, kHash); }},
        {"a drive in a file", [](CInstallRecord &r) { r.AddFile(L"\\C:\\boot.ini", 1, kHash); }},
        {"a link elsewhere", [](CInstallRecord &r) { r.AddLink(L"C:\\Windows\\win.ini"); }},
        {"a foreign key", [](CInstallRecord &r) {
             r.AddValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", L"x", REG_SZ, L"");
         }},
        {"a shared key's other value", [](CInstallRecord &r) {
             r.AddValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\RegisteredApplications", L"Other", REG_SZ, L"");
         }},
        {"a look-alike class", [](CInstallRecord &r) { r.AddMadeKey(HKEY_CLASSES_ROOT, L"VelmarinURLx"); }},
        {"a folder not made by the setup", [](CInstallRecord &r) { r.AddMadeFolder(L"C:\\Favorites"); }},
    };
    for (const Case &c : cases) {
        CInstallRecord record, read;
        record.SetFolder(kFolder, false);
        c.add(record);
        ASSERT_EQ(1, record.Count()) << c.what;
        EXPECT_EQ(kRecordRefused, Parse(Text(record), read)) << c.what;
        EXPECT_EQ(0, read.Count());
    }
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    CInstallRecord inWindows, read;
    inWindows.SetFolder(windows, false);
    EXPECT_EQ(kRecordRefused, Parse(Text(inWindows), read, windows)) << "an install folder of Windows, even empty";
    CInstallRecord moved;
    Fill(moved);
    EXPECT_EQ(kRecordRefused, Parse(Text(moved), read, L"E:\\Elsewhere")) << "a record carried to another folder";
}

TEST(InstallRecord, AnotherProfilesQuickLaunchAndLinkBarCountButNotItsOtherFolders)
{
    // Installed by "Other", uninstalled by "Me": the same per-user folders, in Other's profile.
    std::wstring root = test::MakeTempDir(L"profiles");
    std::wstring me = root + L"\\Users\\Me", other = root + L"\\Users\\Other";
    std::wstring myQuickLaunch = me + L"\\Roaming\\Quick Launch", myFavorites = me + L"\\Favorites";
    RecordPlaces places = {kPlaces.programGroup, kPlaces.commonStartMenu, kPlaces.commonDesktop, myQuickLaunch.c_str(),
                           myFavorites.c_str(), L""};
    wcscpy(places.profile, me.c_str());
    struct Case {
        const wchar_t *link;
        RecordLoadResult expected;
    } cases[] = {
        {L"\\Roaming\\Quick Launch\\岚舟 3.lnk", kRecordValid},
        {L"\\Favorites\\LinkBar\\新特性.url", kRecordValid},
        {L"\\Desktop\\岚舟 3.lnk", kRecordRefused},
        {L"\\Roaming\\Quick Launch\\deeper\\岚舟 3.lnk", kRecordRefused},
    };
    for (const Case &c : cases) {
        std::wstring link = other + c.link;
        SHCreateDirectoryExW(nullptr, link.substr(0, link.rfind(L'\\')).c_str(), nullptr);
        test::WriteFile(link, "[InternetShortcut]");
        CInstallRecord record, read;
        record.SetFolder(kFolder, false);
        ASSERT_TRUE(record.AddLink(link.c_str()));
        std::string text = Text(record);
        EXPECT_EQ(c.expected, read.Parse(text.data(), text.size(), kFolder, places)) << test::Utf8(c.link);
    }
    test::RemoveTree(root);
}

}
