// The install record as text: what survives a round trip and a merge, and which records are
// damaged or name places the uninstaller must never touch.
#include <gtest/gtest.h>
#include "engine/record/InstallRecord.h"
#include "engine/Product.h"
#include "base/Checksum.h"
#include "support/TestSupport.h"
#include <shlobj.h>
#include <stdlib.h>
#include <string>

namespace {

const wchar_t kFolder[] = L"D:\\Apps\\Velmarin 3";
const RecordPlaces kPlaces = {L"C:\\Start\\Programs\\岚舟浏览器", L"C:\\Start", L"C:\\Desktop", L"C:\\Quick Launch",
                              L"C:\\Favorites", L"", L""};
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
    record.AddMadeKey(HKEY_LOCAL_MACHINE, (std::wstring(kUrlClassKey) + L"\\shell").c_str());
    record.AddValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName", REG_SZ, L"岚舟浏览器 3.2 正式版");
    record.AddValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"NoModify", REG_DWORD, L"1");
}

// A record's text without its end line, given one that vouches for it.
std::string WithEnd(const std::string &text)
{
    char end[16];
    sprintf(end, "end\t%08lx\n", (unsigned long)Crc32(0, text.data(), (DWORD)text.size()));
    return text + end;
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

    // An earlier setup wrote its URL class through HKEY_CLASSES_ROOT: the machine's classes.
    std::string earlier = text.substr(0, text.rfind("end\t"));
    const std::string now = "HKLM\t32\tSOFTWARE\\Classes\\VelmarinURL\\shell";
    ASSERT_NE(std::string::npos, earlier.find(now));
    earlier.replace(earlier.find(now), now.size(), "HKCR\t32\tVelmarinURL\\shell");
    CInstallRecord older;
    ASSERT_EQ(kRecordValid, Parse(WithEnd(earlier), older));
    EXPECT_EQ(HKEY_LOCAL_MACHINE, older.Item(2).root);
    EXPECT_STREQ(L"SOFTWARE\\Classes\\VelmarinURL\\shell", older.Item(2).path);

    // They also recorded shared keys on the way to their own as made: such a key is not the
    // setup's to remove, and no reason to refuse the record.
    CInstallRecord shared, readShared;
    Fill(shared);
    shared.AddMadeKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Clients\\StartMenuInternet");
    ASSERT_EQ(kRecordValid, Parse(Text(shared), readShared));
    EXPECT_EQ(5, readShared.Count());
}

// An update merges in one pass: 20,000 items the two records do not share take well under a second.
TEST(InstallRecord, AMergeOfManyDisjointItemsIsQuickAndAllOrNothing)
{
    CInstallRecord newer, older;
    newer.SetFolder(kFolder, false);
    older.SetFolder(kFolder, true);
    wchar_t name[32];
    for (int i = 0; i < 10000; ++i) {
        swprintf(name, 32, L"\\new\\%d.dll", i);
        newer.AddFile(name, 1, kHash);
        swprintf(name, 32, L"\\OLD\\%d.dll", i);
        older.AddFile(name, 1, kHash);
    }
    older.AddFile(L"\\NEW\\7.DLL", 2, kHash);  // the same file in another case
    DWORD start = GetTickCount();
    ASSERT_TRUE(newer.Merge(older));
    DWORD took = GetTickCount() - start;
    printf("merging 20,000 disjoint items took %lu ms\n", (unsigned long)took);
    EXPECT_LT(took, 1000u);
    EXPECT_EQ(20000, newer.Count());
    EXPECT_TRUE(newer.MadeFolder());
    EXPECT_EQ(1u, newer.Item(7).size) << "the newer record's contents win";

    // Past the most items a record may hold, nothing is merged at all.
    CInstallRecord huge, full;
    full.SetFolder(kFolder, false);
    huge.SetFolder(kFolder, true);
    for (int i = 0; i < 60000; ++i) {
        swprintf(name, 32, L"\\a\\%d", i);
        full.AddFile(name, 1, kHash);
        swprintf(name, 32, L"\\b\\%d", i);
        huge.AddFile(name, 1, kHash);
    }
    EXPECT_FALSE(full.Merge(huge));
    EXPECT_EQ(60000, full.Count());
    EXPECT_FALSE(full.MadeFolder());
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
        {"a look-alike class", [](CInstallRecord &r) { r.AddMadeKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\VelmarinURLx"); }},
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
    EXPECT_EQ(kRecordRefused, Parse(Text(moved), read, L"D:\\Apps\\Velmarin\u00ad 3")) << "a folder that only looks the same";
    EXPECT_EQ(kRecordValid, Parse(Text(moved), read, L"d:\\APPS\\velmarin 3")) << "the same folder in another case";
}

TEST(InstallRecord, AnotherProfilesQuickLaunchAndLinkBarCountButNotItsOtherFolders)
{
    // Installed by "Other", or by a deployment tool as SYSTEM, uninstalled by "Me": the same
    // per-user folders, in Other's or SYSTEM's profile.
    std::wstring root = test::MakeTempDir(L"profiles");
    std::wstring me = root + L"\\Users\\Me", other = root + L"\\Users\\Other";
    std::wstring system = root + L"\\Windows\\system32\\config\\systemprofile";
    std::wstring myQuickLaunch = me + L"\\Roaming\\Quick Launch", myFavorites = me + L"\\Favorites";
    RecordPlaces places = {kPlaces.programGroup, kPlaces.commonStartMenu, kPlaces.commonDesktop, myQuickLaunch.c_str(),
                           myFavorites.c_str(), L"", L""};
    wcscpy(places.profile, me.c_str());
    wcscpy(places.systemProfile, system.c_str());
    struct Case {
        const wchar_t *link;
        RecordLoadResult expected;
    } cases[] = {
        {L"\\Roaming\\Quick Launch\\岚舟 3.lnk", kRecordValid},
        {L"\\Favorites\\LinkBar\\新特性.url", kRecordValid},
        {L"\\Desktop\\岚舟 3.lnk", kRecordRefused},
        {L"\\Roaming\\Quick Launch\\deeper\\岚舟 3.lnk", kRecordRefused},
    };
    for (const std::wstring &owner : {other, system, root + L"\\Windows\\system32\\config\\elsewhere"}) {
        for (const Case &c : cases) {
            RecordLoadResult expected = owner.find(L"elsewhere") == std::wstring::npos ? c.expected : kRecordRefused;
            std::wstring link = owner + c.link;
            SHCreateDirectoryExW(nullptr, link.substr(0, link.rfind(L'\\')).c_str(), nullptr);
            test::WriteFile(link, "[InternetShortcut]");
            CInstallRecord record, read;
            record.SetFolder(kFolder, false);
            ASSERT_TRUE(record.AddLink(link.c_str()));
            std::string text = Text(record);
            EXPECT_EQ(expected, read.Parse(text.data(), text.size(), kFolder, places)) << test::Utf8(link);
        }
    }
    test::RemoveTree(root);

    // Favorites redirected to a share: its LinkBar's shortcuts count there, nothing else on it.
    RecordPlaces redirected = places;
    redirected.favorites = L"\\\\fileserver\\home\\me\\Favorites";
    for (const auto &c : std::vector<std::pair<std::string, RecordLoadResult>>{
             {"\\\\fileserver\\home\\me\\Favorites\\LinkBar\\新特性.url", kRecordValid},
             {"\\\\fileserver\\home\\me\\Favorites\\新特性.url", kRecordRefused},
             {"\\\\fileserver\\home\\me\\Favorites\\LinkBar\\..\\x.url", kRecordRefused}}) {
        CInstallRecord empty, read;
        empty.SetFolder(kFolder, false);
        std::string text = Text(empty);
        text = WithEnd(text.substr(0, text.rfind("\nend\t")) + "\nlink\t" + std::string(64, 'a') + "\t10\t" + c.first + "\n");
        EXPECT_EQ(c.second, read.Parse(text.data(), text.size(), kFolder, redirected)) << c.first;
    }
}

// A record that cannot be replaced where it lies, as no file is that anyone holds open (any user
// may, for its attributes alone), still gives way to the new one and leaves nothing beside it once
// let go; so it does where its copy cannot be made (an earlier one waits for a holder to let go of
// it, here a folder of its name). A record cut while it was written over is read from the whole
// copy written just before.
TEST(InstallRecord, ASaveReplacesARecordThatCannotBeReplacedInPlace)
{
    std::wstring folder = test::MakeTempDir(L"record");
    CInstallRecord record, read;
    record.SetFolder(folder.c_str(), true);
    ASSERT_TRUE(record.Save(folder.c_str()));
    const std::wstring path = folder + L"\\" + kRecordFileName, copy = path + L".new";
    HANDLE holder = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    record.AddFile(L"\\Velmarin.exe", 1234, kHash);
    ASSERT_TRUE(record.Save(folder.c_str()));
    CloseHandle(holder);
    ASSERT_EQ(kRecordValid, read.Load(folder.c_str(), kPlaces));
    EXPECT_EQ(1, read.Count()) << "the new record";
    EXPECT_EQ(1u, test::FolderContents(folder).size()) << "no second name stays";

    ASSERT_TRUE(CreateDirectoryW(copy.c_str(), nullptr));
    record.AddFile(L"\\WebApp.exe", 99, kHash);
    ASSERT_TRUE(record.Save(folder.c_str()));
    ASSERT_EQ(kRecordValid, read.Load(folder.c_str(), kPlaces));
    EXPECT_EQ(2, read.Count()) << "written over";
    ASSERT_TRUE(RemoveDirectoryW(copy.c_str()));

    ASSERT_TRUE(CopyFileW(path.c_str(), copy.c_str(), FALSE));
    std::string text = test::ReadFile(path);
    test::WriteFile(path, text.substr(0, text.size() / 2));
    ASSERT_EQ(kRecordValid, read.Load(folder.c_str(), kPlaces)) << "the whole copy stands for the cut record";
    EXPECT_EQ(2, read.Count());
    ASSERT_TRUE(DeleteFileW(copy.c_str()));
    EXPECT_EQ(kRecordDamaged, read.Load(folder.c_str(), kPlaces)) << "without it the record is damaged";
    test::RemoveTree(folder);
}

}
