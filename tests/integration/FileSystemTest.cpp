// Folder creation, the writability probe and tree copies on the real file system.
#include <gtest/gtest.h>
#include "base/FileSystem.h"
#include "engine/removal/Uninstall.h"
#include "engine/update/FileUpdate.h"
#include "engine/folder/InstallFolder.h"
#include "support/TestSupport.h"

namespace {

std::wstring MissingDrive()
{
    DWORD drives = GetLogicalDrives();
    for (wchar_t letter = L'Q'; letter <= L'Y'; ++letter) {
        if (!(drives & (1u << (letter - L'A'))))
            return std::wstring(1, letter) + L":";
    }
    return L"";
}

TEST(CreateDirectoryTree, ExistingFoldersAndDriveRootsAreKept)
{
    EXPECT_TRUE(CreateDirectoryTree(L"C:\\"));
    std::wstring folder = test::MakeTempDir(L"tree");
    EXPECT_TRUE(CreateDirectoryTree(folder.c_str()));
    EXPECT_FALSE(CreateDirectoryTree(L""));
    test::RemoveTree(folder);
}

TEST(CreateDirectoryTree, MakesMissingLevelsTopDown)
{
    std::wstring folder = test::MakeTempDir(L"tree");
    std::wstring deep = folder + L"\\one\\two words\\three";
    EXPECT_TRUE(CreateDirectoryTree(deep.c_str()));
    EXPECT_TRUE(test::DirExists(folder + L"\\one"));
    EXPECT_TRUE(test::DirExists(deep));
    test::RemoveTree(folder);
}

TEST(CreateDirectoryTree, FailsOnADriveThatDoesNotExist)
{
    std::wstring drive = MissingDrive();
    ASSERT_FALSE(drive.empty());
    EXPECT_FALSE(CreateDirectoryTree((drive + L"\\Apps\\Velmarin 3").c_str()));
}

TEST(IsFolderWritable, WritableFolderLeavesNoProbe)
{
    std::wstring folder = test::MakeTempDir(L"probe");
    EXPECT_TRUE(IsFolderWritable(folder.c_str()));
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\*.tmp").c_str(), &entry);
    EXPECT_EQ(INVALID_HANDLE_VALUE, search);
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    test::RemoveTree(folder);
}

TEST(IsFolderWritable, FilesMissingFoldersAndReadOnlyFileSystems)
{
    std::wstring folder = test::MakeTempDir(L"probe");
    test::WriteFile(folder + L"\\file.txt", "x");
    EXPECT_FALSE(IsFolderWritable((folder + L"\\file.txt").c_str()));
    EXPECT_FALSE(IsFolderWritable((folder + L"\\missing").c_str()));
    // Wine runs as root here, so a folder of a read-only file system stands in for one the
    // user may not write to.
    ASSERT_TRUE(test::DirExists(L"Z:\\proc\\self"));
    EXPECT_FALSE(IsFolderWritable(L"Z:\\proc\\self"));
    test::RemoveTree(folder);
}

TEST(IsFolderWritable, AnExistingFileOfTheProbesNameSurvives)
{
    std::wstring folder = test::MakeTempDir(L"probe");
    // Files under every name the probe could take in the next moments.
    DWORD now = GetTickCount();
    for (DWORD tick = now - 5; tick != now + 400; ++tick)
        test::WriteFile(folder + L"\\" + std::to_wstring((int)tick) + L".tmp", "keep");
    EXPECT_TRUE(IsFolderWritable(folder.c_str()));
    for (DWORD tick = now - 5; tick != now + 400; ++tick)
        ASSERT_EQ("keep", test::ReadFile(folder + L"\\" + std::to_wstring((int)tick) + L".tmp"));
    test::RemoveTree(folder);
}

// The skin is staged as a whole tree: new files replace old ones (hidden ones too), files that
// only the old tree has stay, and an empty tree changes nothing.
TEST(StageTree, NestedTreeOverAnOlderOne)
{
    std::wstring folder = test::MakeTempDir(L"copy");
    std::wstring source = folder + L"\\new", destination = folder + L"\\old";
    CreateDirectoryTree((source + L"\\Skin\\ico\\small").c_str());
    CreateDirectoryTree((source + L"\\Empty").c_str());
    test::WriteFile(source + L"\\Skin\\skin.ini", "new skin");
    test::WriteFile(source + L"\\Skin\\ico\\a.ico", "new a");
    test::WriteFile(source + L"\\Skin\\ico\\small\\b.ico", "new b");
    SetFileAttributesW((source + L"\\Skin\\ico\\a.ico").c_str(), FILE_ATTRIBUTE_HIDDEN);
    CreateDirectoryTree((destination + L"\\Skin\\ico").c_str());
    test::WriteFile(destination + L"\\Skin\\skin.ini", "old skin");
    test::WriteFile(destination + L"\\Skin\\ico\\only-old.ico", "old only");

    CFileUpdate update(source.c_str(), destination.c_str());
    ASSERT_EQ(kUpdateReady, update.Open(0));
    ASSERT_TRUE(update.StageTree(L"\\Empty"));
    EXPECT_EQ(0, update.StagedCount());
    ASSERT_TRUE(update.StageTree(L"\\Skin"));
    ASSERT_TRUE(update.Commit());
    EXPECT_EQ("new skin", test::ReadFile(destination + L"\\Skin\\skin.ini"));
    EXPECT_EQ("new a", test::ReadFile(destination + L"\\Skin\\ico\\a.ico"));
    EXPECT_EQ("new b", test::ReadFile(destination + L"\\Skin\\ico\\small\\b.ico"));
    EXPECT_EQ("old only", test::ReadFile(destination + L"\\Skin\\ico\\only-old.ico"));
    EXPECT_FALSE(test::DirExists(destination + L"\\Empty"));
    test::RemoveTree(folder);
}

}

// The install folder is recorded as Windows names it: however it was typed, the uninstaller
// finds the same place again.
TEST(FinalFolderPath, ShortNamesPrefixesAndLinksGiveWayToTheRealPlace)
{
    std::wstring folder = test::MakeTempDir(L"Long Folder Name");
    wchar_t shortForm[MAX_PATH] = {}, longForm[MAX_PATH] = {};
    ASSERT_NE(0u, GetShortPathNameW(folder.c_str(), shortForm, MAX_PATH));
    ASSERT_NE(0u, GetLongPathNameW(folder.c_str(), longForm, MAX_PATH));
    const std::wstring real = longForm, shortened = shortForm;
    const std::wstring link = folder + L" link";
    ASSERT_TRUE(test::MakeSymbolicLink(link, folder));
    const struct {
        std::wstring typed, expected;
    } cases[] = {
        {link + L"\\Velmarin 3", real + L"\\Velmarin 3"},
        {shortened, real},
        {shortened + L"\\", real},
        {shortened + L"\\Velmarin 3\\Extra", real + L"\\Velmarin 3\\Extra"},
        {L"\\\\?\\" + shortened + L"\\Velmarin 3", real + L"\\Velmarin 3"},
    };
    for (const auto &c : cases) {
        wchar_t final[MAX_PATH];
        ASSERT_TRUE(FinalFolderPath(c.typed.c_str(), final)) << test::Utf8(c.typed);
        EXPECT_EQ(c.expected, final) << test::Utf8(c.typed);
    }
    wchar_t final[MAX_PATH];
    ASSERT_TRUE(FinalFolderPath(L"C:\\Velmarin 3", final));
    EXPECT_STREQ(L"C:\\Velmarin 3", final) << "below a drive root";
    for (const wchar_t *root : {L"C:", L"C:\\"}) {
        ASSERT_TRUE(FinalFolderPath(root, final));
        EXPECT_STREQ(root, final) << "a drive root keeps its spelling";
    }
    EXPECT_FALSE(FinalFolderPath(L"Q:\\Velmarin 3", final)) << "a drive that does not exist";
    test::RemoveSymbolicLink(link);
    test::RemoveTree(folder);
}
