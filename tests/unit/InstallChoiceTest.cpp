// Decisions about an existing installation and the folder the user types: version order,
// installation state and first page, the drive root, the free-space line and the folder checks.
#include <gtest/gtest.h>
#include "app/Versions.h"
#include "pages/FolderText.h"
#include "support/TestSupport.h"
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
    EXPECT_EQ(kStateFresh, InstallationState(false, nullptr, L"3.2.0.7"));
    EXPECT_EQ(kStateFresh, InstallationState(false, L"9.0", L"3.2.0.7")) << "no installation, whatever the text";
    EXPECT_EQ(kStateSameInstalled, InstallationState(true, L"3.2.0.7", L"3.2.0.7"));
    EXPECT_EQ(kStateOlderInstalled, InstallationState(true, L"3.1.5.0", L"3.2.0.7"));
    EXPECT_EQ(kStateOlderInstalled, InstallationState(true, L"3.2", L"3.2.0.7"));
    EXPECT_EQ(kStateNewerInstalled, InstallationState(true, L"3.10.0.0", L"3.2.0.7"));
    EXPECT_EQ(kStateNewerInstalled, InstallationState(true, L"3.2.0.8", L"3.2.0.7"));
    EXPECT_EQ(kStateOlderInstalled, InstallationState(true, nullptr, L"3.2.0.7")) << "unknown version";
    EXPECT_EQ(kStateOlderInstalled, InstallationState(true, L"unknown", L"3.2.0.7"));
    EXPECT_EQ(kStateOlderInstalled, InstallationState(true, L"3.2.0.7", L"")) << "the setup's own version unknown";
    // A vendor's browser carries its own build number: the same setup run again is a reinstall.
    EXPECT_EQ(kStateSameInstalled, InstallationState(true, L"3.2.0.1021", L"3.2.0.1021"));

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

// Folders as users type or pick them: what is trimmed, what is refused and why.
TEST(FolderText, ChecksBeforeInstalling)
{
    // The engine's longest path below the folder, "\\Extensions\\GuardHub\\GuardHub.dll.xxxx.vmold"
    // while it is set aside, must fit in MAX_PATH - 1 characters.
    const size_t longest = MaxInstallFolderLength();
    EXPECT_EQ(215u, longest);
    const std::wstring fits = L"C:\\" + std::wstring(longest - 3, L'a');
    // Accepted: the folder it gives. Refused: why, in the page's words (where given).
    const struct {
        std::wstring typed;
        FolderVerdict verdict;
        std::wstring expected;
    } cases[] = {
        {L"  C:\\VmTest \t", kFolderAccepted, L"C:\\VmTest"},
        {L"\u3000C:\\VmTest\u3000\u3000", kFolderAccepted, L"C:\\VmTest"},
        {L"C:\\VmTest\\\\\\", kFolderAccepted, L"C:\\VmTest"},
        {L"D:\\\\", kFolderAccepted, L"D:\\"},
        {L"C:/Apps//Web/", kFolderAccepted, L"C:\\Apps\\Web"},
        {L"C:\\Apps\\.hidden\\CONSOLE\\COM10\\nul1", kFolderAccepted, L"C:\\Apps\\.hidden\\CONSOLE\\COM10\\nul1"},
        {L":\\VmTest", kFolderAccepted, L":\\VmTest"},  // the writability check refuses this one
        {L"   " + fits + L"\\   ", kFolderAccepted, fits},
        {L"VmTest", kFolderNoDrive, L"请输入正确的安装路径"},
        {L"C:VmTest", kFolderNoDrive, L""},
        {L"   ", kFolderNoDrive, L""},
        {fits + L"b", kFolderTooLong, L"安装路径太长，请输入不超过215个字符的安装路径"},
        {L"C:\\" + std::wstring(400, L'a'), kFolderTooLong, L""},
        {L"\\\\server\\share\\Velmarin", kFolderNetwork, L"不能安装到网络上的文件夹，请选择本机磁盘上的安装路径"},
        {L"//server/share", kFolderNetwork, L""},
        {L"C:\\Apps\\a|b", kFolderBadCharacter, L"安装路径中不能含有下列字符：< > : \" | ? *，请重新输入"},
        {L"C:\\Apps\\a:b?", kFolderBadCharacter, L""},
        {L"C:\\Apps\\tab\there", kFolderBadCharacter, L""},
        {L"C:\\Apps\\Web.\\x", kFolderBadNameEnd, L"文件夹名“Web.”不能以空格或句点结尾，请重新输入"},
        {L"C:\\Apps \\Web", kFolderBadNameEnd, L""},
        {L"C:\\Apps\\..", kFolderBadNameEnd, L""},
        {L"C:\\Apps\\Aux\\x", kFolderReservedName, L"“Aux”是系统保留的名称，不能用作文件夹名，请重新输入"},
        {L"C:\\NUL.txt\\Web", kFolderReservedName, L""},
        {L"C:\\LPT9", kFolderReservedName, L""},
    };
    for (const auto &c : cases) {
        wchar_t folder[MAX_PATH], message[256];
        EXPECT_EQ(c.verdict, PrepareFolderText(c.typed.c_str(), folder)) << test::Utf8(c.typed);
        bool refused = FormatFolderRefusal(c.verdict, folder, message, 256);
        EXPECT_EQ(c.verdict != kFolderAccepted, refused) << test::Utf8(c.typed);
        EXPECT_TRUE(c.expected.empty() || c.expected == (refused ? message : folder)) << test::Utf8(c.typed);
    }

    wchar_t text[MAX_PATH] = L"D:\\\\";
    RemoveTrailingBackslash(text);
    EXPECT_STREQ(L"D:\\", text) << "one character only";
    RemoveTrailingBackslash(text);
    EXPECT_STREQ(L"D:", text);
}

}
