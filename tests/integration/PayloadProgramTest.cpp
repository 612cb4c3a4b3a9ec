// The payload program on its own: its command line, the folders and files it will not write
// into, its threads, and a damaged stream.
#include <gtest/gtest.h>
#include "engine/payload/PayloadManifest.h"
#include "support/TestSupport.h"

namespace {

DWORD RunPayload(const std::wstring &program, const std::wstring &arguments)
{
    HANDLE process = test::StartProcess(L"\"" + program + L"\"" + arguments);
    if (!process)
        return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return code;
}

// The files the manifest names that are in `folder` whole and as packed, and those that are
// there and look whole (the manifest's size) but are not as packed.
void CountFiles(const std::wstring &folder, int &asPacked, int &wrongButWhole)
{
    const CPayloadManifest &manifest = CPayloadManifest::Instance();
    asPacked = wrongButWhole = 0;
    for (int i = 0; i < manifest.FileCount(); ++i) {
        const ManifestFile &file = manifest.File(i);
        std::wstring path = folder + file.relative;
        if (!test::FileExists(path))
            continue;
        std::string bytes = test::ReadFile(path);
        if (bytes.size() != file.size)
            continue;
        if (bytes == test::ReadFile(test::StandInFiles() + file.relative))
            ++asPacked;
        else
            ++wrongButWhole;
    }
}

TEST(PayloadProgram, UnpacksOnlyIntoAFolderItMakesOrFindsEmpty)
{
    const int all = CPayloadManifest::Instance().FileCount();
    std::wstring temp = test::MakeTempDir(L"payload program");
    std::wstring program = test::BuildDir() + L"\\velmarin3zip.exe", other = temp + L"\\someone else's";
    CreateDirectoryW(other.c_str(), nullptr);
    test::WriteFile(other + L"\\Velmarin.exe", "keep");
    CreateDirectoryW((temp + L"\\empty").c_str(), nullptr);
    CreateDirectoryW((temp + L"\\taken").c_str(), nullptr);
    test::WriteFile(temp + L"\\taken\\Velmarin.exe", "keep");
    ASSERT_TRUE(test::MakeSymbolicLink(temp + L"\\link", other));
    struct Case {
        std::wstring arguments, folder;
        DWORD code;
        int files;
    } cases[] = {
        // As the setup runs it: the folder unquoted, spaces and CJK in it.
        {L" /P=" + temp + L"\\新 文件夹 3", temp + L"\\新 文件夹 3", 0, all},
        {L" /P=" + temp + L"\\empty", temp + L"\\empty", 0, all},
        {L"", L"", 2, 0},
        {L" /P=", L"", 2, 0},
        {L" /Q=" + temp + L"\\q", temp + L"\\q", 2, 0},
        {L" /P=" + temp + L"\\no parent\\x", temp + L"\\no parent\\x", 3, 0},
        // A file of the set there already: nothing is written, nothing overwritten.
        {L" /P=" + temp + L"\\taken", temp + L"\\taken", 3, 0},
        {L" /P=" + temp + L"\\link", other, 3, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(test::Utf8(c.arguments));
        EXPECT_EQ(c.code, RunPayload(program, c.arguments));
        int asPacked = 0, wrong = 0;
        CountFiles(c.folder, asPacked, wrong);
        EXPECT_EQ(c.files, asPacked);
        EXPECT_EQ(0, wrong);
    }
    EXPECT_EQ("keep", test::ReadFile(temp + L"\\taken\\Velmarin.exe"));
    EXPECT_EQ("keep", test::ReadFile(other + L"\\Velmarin.exe"));
    EXPECT_EQ(1u, test::FolderContents(other).size());
    EXPECT_FALSE(test::DirExists(temp + L"\\q"));
    test::RemoveSymbolicLink(temp + L"\\link");
    test::RemoveTree(temp);
}

// One thread or two (the set lies in several blocks), the same bytes, whether the thread ahead
// keeps what it decodes aside or, with no room for that in the temporary folder, decodes its block
// again in its turn; a damaged block fails the run and leaves no file that looks complete and is
// not as packed, and a stream cut short writes nothing at all.
TEST(PayloadProgram, ThreadsGiveTheSameFilesAndDamageLeavesNoneThatLooksWhole)
{
    const int all = CPayloadManifest::Instance().FileCount();
    std::wstring temp = test::MakeTempDir(L"payload threads");
    std::string stream = test::BlocksPayloadStream(), flipped = stream;
    ASSERT_GT(stream.size(), 1000u);
    flipped[stream.size() / 2] ^= 0x20;
    CreateDirectoryW((temp + L"\\flipped").c_str(), nullptr);
    CreateDirectoryW((temp + L"\\cut").c_str(), nullptr);
    // A temporary folder so deep that no file name fits below it.
    std::wstring deep = temp;
    while (deep.size() < MAX_PATH - 20) {
        deep += L"\\deeper";
        CreateDirectoryW(deep.c_str(), nullptr);
    }
    struct Case {
        const wchar_t *name;
        std::wstring program;
        const wchar_t *threads;
        std::wstring temporary;
        bool done;
    } cases[] = {
        {L"one", test::BlocksPayloadProgram(), L" /T=1", L"", true},
        {L"two", test::BlocksPayloadProgram(), L" /T=2", L"", true},
        {L"no room aside", test::BlocksPayloadProgram(), L" /T=2", deep, true},
        {L"flipped", test::PayloadProgramWithStream(temp + L"\\flipped", flipped), L" /T=2", L"", false},
        {L"cut", test::PayloadProgramWithStream(temp + L"\\cut", stream.substr(0, stream.size() * 2 / 3)), L" /T=2", L"", false},
    };
    WCHAR ownTemporary[MAX_PATH], ownTmp[MAX_PATH];
    ASSERT_TRUE(GetEnvironmentVariableW(L"TEMP", ownTemporary, MAX_PATH) && GetEnvironmentVariableW(L"TMP", ownTmp, MAX_PATH));
    for (const Case &c : cases) {
        SCOPED_TRACE(test::Utf8(c.name));
        std::wstring folder = temp + L"\\" + c.name + L" files";
        SetEnvironmentVariableW(L"TEMP", c.temporary.empty() ? ownTemporary : c.temporary.c_str());
        SetEnvironmentVariableW(L"TMP", c.temporary.empty() ? ownTmp : c.temporary.c_str());
        DWORD code = RunPayload(c.program, std::wstring(c.threads) + L" /P=" + folder);
        SetEnvironmentVariableW(L"TEMP", ownTemporary);
        SetEnvironmentVariableW(L"TMP", ownTmp);
        EXPECT_EQ(c.done, code == 0) << code;
        int asPacked = 0, wrong = 0;
        CountFiles(folder, asPacked, wrong);
        EXPECT_EQ(0, wrong);
        if (c.done)
            EXPECT_EQ(all, asPacked);
        else
            EXPECT_LT(asPacked, all);
    }
    EXPECT_EQ(test::FolderContents(temp + L"\\one files"), test::FolderContents(temp + L"\\two files"));
    EXPECT_EQ(test::FolderContents(temp + L"\\one files"), test::FolderContents(temp + L"\\no room aside files"));
    EXPECT_TRUE(test::FolderContents(temp + L"\\cut files").empty());
    test::RemoveTree(temp);
}

}
