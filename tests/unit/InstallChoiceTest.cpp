// Decisions about an existing installation and the folder the user types: version order,
// installation state and first page, the drive root, the free-space line and the folder checks.
#include <gtest/gtest.h>
#include "app/Versions.h"
#include "pages/FolderText.h"
#include <string>

namespace {

int Compare(const wchar_t *a, const wchar_t *b)
{
    BrowserVersion va, vb;
    EXPECT_TRUE(ParseVersion(a, va)) << a;
    EXPECT_TRUE(ParseVersion(b, vb)) << b;
    int order = CompareVersions(va, vb);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

TEST(Versions, CompareNumericallyPartByPart)
{
    EXPECT_EQ(0, Compare(L"3.2.0.7", L"3.2.0.7"));
    EXPECT_EQ(0, Compare(L"3.2", L"3.2.0.0")) << "missing parts are 0";
    EXPECT_EQ(1, Compare(L"4.0", L"3.9.9.9"));
    EXPECT_EQ(1, Compare(L"3.3", L"3.2.9.9"));
    EXPECT_EQ(1, Compare(L"3.2.1", L"3.2.0.9"));
    EXPECT_EQ(1, Compare(L"3.2.0.8", L"3.2.0.7"));
    EXPECT_EQ(-1, Compare(L"3.2.0.6", L"3.2.0.7"));
    EXPECT_EQ(1, Compare(L"3.10", L"3.2")) << "not compared as text";
    EXPECT_EQ(-1, Compare(L"3.9", L"3.10"));
}

TEST(Versions, TextThatIsNotAVersion)
{
    BrowserVersion version;
    const wchar_t *rejected[] = {L"", L"  ", L"abc", L"3.", L".3", L"3..2", L"3.2.0.7.1", L"3.2a", L"v3.2",
                                 L"3,2", L"-3.2", L"123456.0", L"3.2 beta"};
    for (size_t i = 0; i < sizeof(rejected) / sizeof(rejected[0]); ++i)
        EXPECT_FALSE(ParseVersion(rejected[i], version)) << "case " << i;
    EXPECT_FALSE(ParseVersion(nullptr, version));
}

TEST(Versions, StateFromTheInstallationAndItsVersion)
{
    EXPECT_EQ(kStateFresh, InstallationState(false, nullptr));
    EXPECT_EQ(kStateFresh, InstallationState(false, L"9.0")) << "no installation, whatever the text";
    EXPECT_EQ(kStateSameInstalled, InstallationState(true, kSetupVersion));
    EXPECT_EQ(kStateSameInstalled, InstallationState(true, L"3.2.0.7"));
    EXPECT_EQ(kStateOlderInstalled, InstallationState(true, L"3.1.5.0"));
    EXPECT_EQ(kStateOlderInstalled, InstallationState(true, L"3.2"));
    EXPECT_EQ(kStateNewerInstalled, InstallationState(true, L"3.10.0.0"));
    EXPECT_EQ(kStateNewerInstalled, InstallationState(true, L"3.2.0.8"));
    EXPECT_EQ(kStateOlderInstalled, InstallationState(true, nullptr)) << "unknown version";
    EXPECT_EQ(kStateOlderInstalled, InstallationState(true, L"unknown"));

    EXPECT_EQ(kFirstWelcome, FirstPageForState(0));
    EXPECT_EQ(kFirstUpgrade, FirstPageForState(1));
    EXPECT_EQ(kFirstUpgrade, FirstPageForState(2));
    EXPECT_EQ(kFirstDowngrade, FirstPageForState(3));
    EXPECT_EQ(kFirstUpgrade, FirstPageForState(-5)) << "any other value";
}

TEST(FolderText, DriveRootIsTheTextUpToTheFirstColonBackslash)
{
    EXPECT_EQ(3u, DriveRootLength(L"D:\\Apps\\Web"));
    EXPECT_EQ(3u, DriveRootLength(L"D:\\"));
    EXPECT_EQ(0u, DriveRootLength(L"D"));
    EXPECT_EQ(0u, DriveRootLength(L"D:"));
    EXPECT_EQ(0u, DriveRootLength(L":\\Apps")) << "at position 0";
    EXPECT_EQ(0u, DriveRootLength(L"\\\\server\\share"));
    EXPECT_EQ(5u, DriveRootLength(L"  D:\\Apps")) << "leading spaces are skipped";
    EXPECT_EQ(7u, DriveRootLength(L"abc D:\\x:\\y")) << "the first occurrence";
}

TEST(FolderText, DiskSpaceLine)
{
    wchar_t line[128];
    ASSERT_TRUE(FormatDiskSpaceLine(line, 128, 5000000000ull));
    EXPECT_STREQ(L"所需磁盘空间：3MB （可用磁盘空间: 4768MB）", line);
    ASSERT_TRUE(FormatDiskSpaceLine(line, 128, (1ull << 20) - 1));
    EXPECT_STREQ(L"所需磁盘空间：3MB （可用磁盘空间: 0MB）", line) << "whole mebibytes, rounded down";
}

TEST(FolderText, ChecksBeforeInstalling)
{
    wchar_t folder[MAX_PATH];
    EXPECT_TRUE(PrepareFolderText(L"  C:\\VmTest \t", folder));
    EXPECT_STREQ(L"C:\\VmTest", folder) << "surrounding spaces go";
    EXPECT_FALSE(PrepareFolderText(L"VmTest", folder));
    EXPECT_FALSE(PrepareFolderText(L"C:VmTest", folder));
    EXPECT_FALSE(PrepareFolderText(L"   ", folder));
    EXPECT_TRUE(PrepareFolderText(L":\\VmTest", folder)) << "the writability check refuses this one";

    // The engine's longest path below the folder, "\\Extensions\\GuardHub\\GuardHub.dll.xxxx.vmold"
    // while it is set aside, must fit in MAX_PATH - 1 characters.
    const size_t longest = MaxInstallFolderLength();
    EXPECT_EQ(215u, longest);
    std::wstring fits = L"C:\\" + std::wstring(longest - 3, L'a');
    EXPECT_TRUE(PrepareFolderText(fits.c_str(), folder));
    EXPECT_EQ(fits, folder);
    EXPECT_TRUE(PrepareFolderText((fits + L"\\").c_str(), folder)) << "its trailing backslash is not counted";
    EXPECT_FALSE(PrepareFolderText((fits + L"b").c_str(), folder));
    EXPECT_FALSE(PrepareFolderText((L"C:\\" + std::wstring(400, L'a')).c_str(), folder));
    EXPECT_TRUE(PrepareFolderText((L"   " + fits + L"   ").c_str(), folder)) << "spaces are not counted";

    wchar_t text[MAX_PATH] = L"D:\\\\";
    RemoveTrailingBackslash(text);
    EXPECT_STREQ(L"D:\\", text) << "one character only";
    RemoveTrailingBackslash(text);
    EXPECT_STREQ(L"D:", text);
}

}
