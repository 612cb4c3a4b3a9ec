// A stopped update, as a killed setup or a power cut leaves it at each moment, is resolved by the
// next run towards a complete installation; at no moment is there no complete browser.
#include <gtest/gtest.h>
#include "engine/FileUpdate.h"
#include "support/TestSupport.h"
#include <shlobj.h>
#include <map>

namespace {

using Files = std::map<std::wstring, std::string>;

class InterruptedUpdate : public ::testing::Test {
protected:
    void SetUp() override { m_folder = test::MakeTempDir(L"interrupted update"); }
    void TearDown() override { test::RemoveTree(m_folder); }

    void Write(const Files &files) { Write(files, m_folder); }
    static void Write(const Files &files, const std::wstring &root)
    {
        for (const auto &file : files) {
            std::wstring path = root + file.first;
            SHCreateDirectoryExW(nullptr, path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
            test::WriteFile(path, file.second);
        }
    }
    // The journal of a stopped run: a line a file, 'R' where it replaced one, 'N' for a new one.
    void Journal(const std::wstring &lines)
    {
        test::WriteFile(m_folder + L"\\VelmarinSetup.journal", std::string((const char *)lines.data(), lines.size() * 2));
    }
    Files Recovered()
    {
        EXPECT_TRUE(RecoverInterruptedUpdate(m_folder.c_str()));
        test::ExpectNoUpdateLeftovers(m_folder);
        return test::FolderContents(m_folder);
    }

    const Files m_old = {{L"\\Velmarin.exe", "old browser"}, {L"\\WebApp.exe", "old web app"},
                         {L"\\Extensions\\PlgKit\\PlgKit.dll", "old kit"}};
    std::wstring m_folder;
};

TEST_F(InterruptedUpdate, StoppedWhileSwappingPutsTheOldInstallationBack)
{
    // Velmarin.exe swapped, WebApp.exe set aside but the new one not yet in, PlgKit.dll still
    // waiting, and a new plugin that had no old version already in place.
    Write({{L"\\Velmarin.exe", "new browser"}, {L"\\Velmarin.exe.vmold", "old browser"},
           {L"\\WebApp.exe.vmold", "old web app"}, {L"\\WebApp.exe.vmnew", "new web app"},
           {L"\\Extensions\\PlgKit\\PlgKit.dll", "old kit"}, {L"\\Extensions\\PlgKit\\PlgKit.dll.vmnew", "new kit"},
           {L"\\Extensions\\PlgNew\\PlgNew.dll", "new plugin"}});
    Journal(L"R\\Velmarin.exe\r\nR\\WebApp.exe\r\nR\\Extensions\\PlgKit\\PlgKit.dll\r\n"
            L"N\\Extensions\\PlgNew\\PlgNew.dll\r\n");
    EXPECT_EQ(m_old, Recovered());
}

TEST_F(InterruptedUpdate, StoppedAfterTheCommitMarkKeepsTheNewInstallation)
{
    const Files updated = {{L"\\Velmarin.exe", "new browser"}, {L"\\WebApp.exe", "new web app"},
                           {L"\\Extensions\\PlgKit\\PlgKit.dll", "new kit"}};
    Write(updated);
    Write({{L"\\WebApp.exe.vmold", "old web app"}, {L"\\Extensions\\PlgKit\\PlgKit.dll.vmold", "old kit"},
           {L"\\VelmarinSetup.commit", ""}});
    Journal(L"R\\Velmarin.exe\r\nR\\WebApp.exe\r\nR\\Extensions\\PlgKit\\PlgKit.dll\r\n");
    EXPECT_EQ(updated, Recovered());
}

// Only what the journal names is looked at: files of other programs in the folder (an install
// into a folder that holds more) stay whatever their names.
TEST_F(InterruptedUpdate, FilesTheJournalDoesNotNameStay)
{
    Write(m_old);
    const Files others = {{L"\\Other\\tool.exe", "other"}, {L"\\Other\\tool.exe.vmold", "other's own"},
                          {L"\\Other\\data.vmnew", "other's data"}};
    Write(others);
    Journal(L"R\\Velmarin.exe\r\n");
    Write({{L"\\Velmarin.exe.vmnew", "half"}});
    EXPECT_TRUE(RecoverInterruptedUpdate(m_folder.c_str()));
    Files expected = m_old;
    expected.insert(others.begin(), others.end());
    EXPECT_EQ(expected, test::FolderContents(m_folder));
    EXPECT_TRUE(RecoverInterruptedUpdate(m_folder.c_str())) << "nothing left to do, nothing scanned";
    EXPECT_EQ(expected, test::FolderContents(m_folder));
}

// A whole update into a folder: new files in, a new folder made, nothing left aside. (A failed
// update is the install sequence's test; one stopped while copying, the last test here.)
TEST_F(InterruptedUpdate, AnUpdateReplacesTheSetAndFollowsNoLink)
{
    std::wstring source = test::MakeTempDir(L"new files");
    const Files fresh = {{L"\\Velmarin.exe", "new browser"}, {L"\\WebApp.exe", "new web app"},
                         {L"\\Extensions\\PlgKit\\PlgKit.dll", "new kit"}, {L"\\Extensions\\PlgNew\\PlgNew.dll", "new plugin"}};
    Write(fresh, source);
    Write(m_old);
    // A link in the new files is not followed: what it points at is not installed.
    std::wstring elsewhere = test::MakeTempDir(L"elsewhere");
    test::WriteFile(elsewhere + L"\\secret.txt", "not the browser's");
    ASSERT_TRUE(test::MakeSymbolicLink(source + L"\\Extensions\\Linked", elsewhere));
    CFileUpdate update(source.c_str(), m_folder.c_str());
    ASSERT_TRUE(update.StageTree(L""));
    EXPECT_EQ(4, update.StagedCount());
    EXPECT_TRUE(update.Commit());
    EXPECT_EQ(fresh, test::FolderContents(m_folder));
    test::ExpectNoUpdateLeftovers(m_folder);
    test::RemoveTree(source);
    test::RemoveTree(elsewhere);
}

// Ended for real at moments of the copy (a large browser makes them last): at each, the folder
// holds a complete installation, old or new, once the next run has resolved it; then an update
// completes.
TEST_F(InterruptedUpdate, EndedAtAnyMomentTheNextRunFindsACompleteInstallation)
{
    std::wstring source = test::MakeTempDir(L"large new files");
    const std::string large(24 << 20, 'n');
    Files fresh = {{L"\\Velmarin.exe", large}, {L"\\WebApp.exe", "new web app"},
                   {L"\\Extensions\\PlgKit\\PlgKit.dll", "new kit"}};
    Write(fresh, source);
    Write(m_old);
    std::wstring runner = L"\"" + test::BuildDir() + L"\\tests\\update_runner.exe\" \"" + source + L"\" \"" + m_folder + L"\"";
    for (DWORD delay : {0, 20, 60, 150, 400}) {
        HANDLE process = test::StartProcess(runner);
        ASSERT_NE(nullptr, process);
        // From the moment the new browser starts to arrive.
        for (int i = 0; i < 500 && !test::FileExists(m_folder + L"\\Velmarin.exe.vmnew"); ++i)
            Sleep(2);
        Sleep(delay);
        TerminateProcess(process, 9);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
        Files found = Recovered();
        EXPECT_TRUE(found == m_old || found == fresh) << "ended after " << delay << " ms";
        if (found == fresh)
            Write(m_old);
    }
    HANDLE process = test::StartProcess(runner);
    ASSERT_NE(nullptr, process);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 60000));
    DWORD code = 1;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    EXPECT_EQ(0u, code);
    EXPECT_EQ(fresh, test::FolderContents(m_folder));
    test::RemoveTree(source);
}

}
