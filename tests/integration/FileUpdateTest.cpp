// An update of the install folder either completes or leaves it as it was, whatever moment it
// is stopped at, whatever its journal lost, and whoever else runs meanwhile.
#include <gtest/gtest.h>
#include "base/FileSystem.h"
#include "engine/update/FileUpdate.h"
#include "engine/folder/InstallFolder.h"
#include "support/TestSupport.h"
#include <shlobj.h>
#include <algorithm>
#include <map>
#include <set>

namespace {

using Files = std::map<std::wstring, std::string>;

// What the next run does before an update of its own: resolve what a stopped one left.
bool RecoverInterruptedUpdate(const WCHAR *folder)
{
    CFileUpdate update(folder, folder);
    bool ready = update.Open(0) == kUpdateReady;
    update.Abandon();
    return ready;
}

// Waits for a process to end and gives its exit code.
DWORD ExitCodeOf(HANDLE process)
{
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 60000));
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return code;
}

class InterruptedUpdate : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_folder = test::MakeTempDir(L"interrupted update");
        m_source = test::MakeTempDir(L"new files");
        Write(m_new, m_source);
        Write(m_old);
    }
    void TearDown() override
    {
        test::RemoveTree(m_folder);
        test::RemoveTree(m_source);
    }

    void Write(const Files &files) { Write(files, m_folder); }
    static void Write(const Files &files, const std::wstring &root)
    {
        for (const auto &file : files) {
            std::wstring path = root + file.first;
            SHCreateDirectoryExW(nullptr, path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
            test::WriteFile(path, file.second);
        }
    }
    // The folder as it was at some moment, its journal holding `journal`, resolved by a next run.
    Files Recovered(const Files &files, const std::string &journal)
    {
        test::RemoveTree(m_folder);
        Write(files);
        test::WriteFile(m_folder + L"\\VelmarinSetup.journal", journal);
        RecoverInterruptedUpdate(m_folder.c_str());
        EXPECT_FALSE(test::FileExists(m_folder + L"\\VelmarinSetup.journal")) << "it never blocks the next install";
        return test::FolderContents(m_folder);
    }
    Files Recovered()
    {
        EXPECT_TRUE(RecoverInterruptedUpdate(m_folder.c_str()));
        test::ExpectNoUpdateLeftovers(m_folder);
        return test::FolderContents(m_folder);
    }
    bool Update(CFileOperations *operations = nullptr, bool moves = false)
    {
        CFileUpdate update(m_source.c_str(), m_folder.c_str(), operations);
        if (moves)
            update.MoveFromSource();
        return update.Open(0) == kUpdateReady && update.StageTree(L"") && update.Commit() &&
               update.MovedCount() == (moves ? (int)m_new.size() : 0);
    }

    const Files m_old = {{L"\\Velmarin.exe", "old browser"}, {L"\\WebApp.exe", "old web app"},
                         {L"\\Extensions\\PlgKit\\PlgKit.dll", "old kit"}};
    const Files m_new = {{L"\\Velmarin.exe", "new browser, longer"}, {L"\\WebApp.exe", "new web app"},
                         {L"\\Extensions\\PlgKit\\PlgKit.dll", "new kit"}, {L"\\Extensions\\PlgNew\\PlgNew.dll", "new plugin"}};
    std::wstring m_folder, m_source;
};

// One real update, watched at every file operation: nothing is written that relies on data not
// yet on the disk, and the browser's name holds a complete browser at every moment.
TEST_F(InterruptedUpdate, FlushesComeFirstAndTheBrowserIsNeverMissing)
{
    test::WatchedOperations watched;
    std::wstring browser = m_folder + L"\\Velmarin.exe";
    watched.after = [&](const test::WatchedOperations::Event &) {
        std::string now = test::ReadFile(browser);
        EXPECT_TRUE(now == "old browser" || now == "new browser, longer") << "after operation " << watched.events.size();
    };
    ASSERT_TRUE(Update(&watched));
    EXPECT_EQ(m_new, test::FolderContents(m_folder));

    bool planPending = false, committed = false, commitDurable = false, swapping = false;
    std::set<std::wstring> copies, flushed;
    for (const test::WatchedOperations::Event &event : watched.events) {
        std::string at = "operation " + std::string(1, event.op) + " " + test::Utf8(event.path);
        switch (event.op) {
        case 'w':
            planPending = planPending || event.record == L'B' || event.record == L'D' || event.record == L'F';
            if (event.record == L'C') {
                committed = true;
                for (const std::wstring &copy : copies)
                    EXPECT_TRUE(flushed.count(copy)) << "committed before " << test::Utf8(copy) << " was flushed";
            }
            break;
        case 'F':
        case 't':
            planPending = false;
            commitDurable = committed;
            break;
        case 'f':
            flushed.insert(event.path);
            break;
        case 'v':
            if (event.result)
                flushed.insert(copies.begin(), copies.end());
            break;
        case 'x':
            EXPECT_TRUE(!swapping || commitDurable) << "a set-aside file went before the commit was on the disk: " << at;
            break;
        default:  // the folder changes
            EXPECT_FALSE(planPending) << "the folder changed before the plan was on the disk: " << at;
            if (event.op == 'c') {
                copies.insert(event.path);
                flushed.erase(event.path);
            }
            bool staged = event.path.size() > 6 && event.path.substr(event.path.size() - 6) == L".vmnew";
            EXPECT_TRUE(event.op != 'm' || !staged || flushed.count(event.path)) << "moved in before it was flushed: " << at;
            swapping = swapping || event.op == 'l';
        }
    }
    EXPECT_TRUE(commitDurable);
}

// The journal of a real update, cut at every byte or with any byte changed, and the folder as
// it can be at that moment: the next run leaves the complete old set or the complete new one,
// and never takes back a set-aside file of an earlier update.
TEST_F(InterruptedUpdate, AJournalCutOrDamagedAnywhereLeavesTheOldSetOrTheNew)
{
    // The files copied in, then moved in from a source that is the update's own.
    for (bool moves : {false, true}) {
        SCOPED_TRACE(moves ? "moved in" : "copied in");
        test::RemoveTree(m_folder);
        test::RemoveTree(m_source);
        Write(m_new, m_source);
        Write(m_old);
        const Files stale = {{L"\\Velmarin.exe.vmold", "ancient browser"}, {L"\\WebApp.exe.0000.vmold", "ancient web app"},
                             {L"\\Other\\tool.exe.vmold", "another program's"}};
        Write(stale);
        test::WatchedOperations watched;
        Files swapping, committed;
        std::string journal;
        size_t planEnd = 0, swapStart = 0;
        watched.before = [&](const test::WatchedOperations::Event &event) {
            if (event.op == 'l' && swapping.empty()) {
                swapping = test::FolderContents(m_folder);
                swapStart = watched.journal.size();
                planEnd = 0;
                for (size_t at = 0; at + 8 <= watched.journal.size();) {
                    wchar_t kind = *(const wchar_t *)&watched.journal[at + 8];
                    at += 8 + *(const DWORD *)&watched.journal[at];
                    if (kind == L'B' || kind == L'D' || kind == L'F')
                        planEnd = at;
                }
            }
            if (event.op == 'x' && committed.empty() && !watched.journal.empty() &&
                watched.journal[watched.journal.size() - 2] == 'C') {
                committed = test::FolderContents(m_folder);
                journal = watched.journal;
            }
        };
        ASSERT_TRUE(Update(&watched, moves));
        EXPECT_EQ(moves ? Files() : m_new, test::FolderContents(m_source));
        EXPECT_EQ(moves ? m_new.size() : 0u, (size_t)std::count_if(watched.events.begin(), watched.events.end(), [](const test::WatchedOperations::Event &e) {
                      return e.op == 'M' && e.result;
                  }));
        Files done = test::FolderContents(m_folder);
        EXPECT_EQ(0u, done.count(L"\\Velmarin.exe.vmold")) << "an earlier update's set-aside file goes";
        EXPECT_EQ(0u, done.count(L"\\WebApp.exe.0000.vmold"));
        EXPECT_EQ("another program's", done[L"\\Other\\tool.exe.vmold"]);
        ASSERT_FALSE(swapping.empty());
        ASSERT_FALSE(committed.empty());
        ASSERT_GT(planEnd, 0u);

        Files before = m_old, after = m_new;
        before[L"\\Other\\tool.exe.vmold"] = after[L"\\Other\\tool.exe.vmold"] = "another program's";
        auto withStale = [&](Files files) {
            files.insert(stale.begin(), stale.end());
            return files;
        };
        for (size_t cut = 0; cut <= journal.size(); ++cut) {
            // Nothing changes before the plan is on the disk; after it, any number of swaps, at
            // least as many as the journal records: all of them is the hardest case.
            for (const Files *moment : {cut < planEnd ? &before : &committed, &swapping}) {
                if (moment == &swapping && (cut < planEnd || cut > swapStart))
                    continue;
                EXPECT_EQ(withStale(cut == journal.size() ? after : before), Recovered(withStale(*moment), journal.substr(0, cut)))
                    << "cut at " << cut << " of " << journal.size();
            }
        }
        // A changed byte in each field of every record: its size, its CRC, its kind, its body. Past
        // the plan that is a lost commit: the old set. Within it, what the journal no longer names
        // stays as it is, each file whole.
        for (size_t at = 0; at < journal.size(); at += 8 + *(const DWORD *)&journal[at]) {
            for (size_t flipped : {at, at + 4, at + 8, at + 7 + size_t(*(const DWORD *)&journal[at])}) {
                std::string damaged = journal;
                damaged[flipped] ^= 0x5A;
                Files found = Recovered(committed, damaged);
                for (const auto &file : flipped >= planEnd ? Files() : m_new) {
                    std::string now = found.count(file.first) ? found[file.first] : "", old = m_old.count(file.first) ? m_old.at(file.first) : "";
                    EXPECT_TRUE(now == file.second || now == old) << test::Utf8(file.first) << ", byte " << flipped;
                }
                EXPECT_TRUE(flipped < planEnd || found == before) << "byte " << flipped << " changed";
            }
        }
    }
}

// A browser helper still running from the folder (it can be renamed, neither replaced nor
// deleted) through two updates in a row: both complete.
TEST_F(InterruptedUpdate, AHelperRunningThroughTwoUpdates)
{
    std::wstring helper = m_folder + L"\\WebApp.exe";
    CopyFileW((test::StandInFiles() + L"\\Velmarin.exe").c_str(), helper.c_str(), FALSE);
    HANDLE process = test::StartProcess(L"\"" + helper + L"\" /sleep:60000");
    ASSERT_NE(nullptr, process);
    for (int i = 0; i < 250 && !IsFileInUse(helper.c_str()); ++i)
        Sleep(20);
    ASSERT_TRUE(IsFileInUse(helper.c_str()));
    for (const char *round : {"first", "second"}) {
        Files next = m_new;
        next[L"\\Velmarin.exe"] = std::string(round) + " browser";
        Write(next, m_source);
        EXPECT_TRUE(Update()) << round;
        Files found = test::FolderContents(m_folder);
        EXPECT_EQ(std::string(round) + " browser", found[L"\\Velmarin.exe"]);
        EXPECT_EQ("new web app", found[L"\\WebApp.exe"]) << round;
        EXPECT_FALSE(test::FileExists(m_folder + L"\\VelmarinSetup.journal"));
    }
    TerminateProcess(process, 0);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
}

// Two updates of one folder at once: the second waits for the first, within its bound, and
// then says so; it never touches the first one's files; once the first is done, it runs.
TEST_F(InterruptedUpdate, ASecondUpdateWaitsForTheFirstAndNeverTouchesIt)
{
    CFileUpdate first(m_source.c_str(), m_folder.c_str());
    ASSERT_EQ(kUpdateReady, first.Open(0));
    ASSERT_TRUE(first.StageTree(L""));
    std::wstring runner = L"\"" + test::BuildDir() + L"\\tests\\update_runner.exe\" \"" + m_source + L"\" \"" + m_folder + L"\" ";
    HANDLE impatient = test::StartProcess(runner + L"200");
    ASSERT_NE(nullptr, impatient);
    EXPECT_EQ(3u, ExitCodeOf(impatient)) << "busy";

    HANDLE patient = test::StartProcess(runner + L"30000");
    ASSERT_NE(nullptr, patient);
    Sleep(500);
    EXPECT_TRUE(first.Commit());
    EXPECT_EQ(0u, ExitCodeOf(patient)) << "done once the first one was";
    EXPECT_EQ(m_new, test::FolderContents(m_folder));
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
    // Whatever took the journal's name (here an empty folder) does not block the update.
    CreateDirectoryW((m_folder + L"\\VelmarinSetup.journal").c_str(), nullptr);
    CFileUpdate update(source.c_str(), m_folder.c_str());
    ASSERT_EQ(kUpdateReady, update.Open(0));
    ASSERT_TRUE(update.StageTree(L""));
    EXPECT_EQ(4, update.StagedCount());
    EXPECT_TRUE(update.Commit());
    EXPECT_EQ(fresh, test::FolderContents(m_folder));
    test::ExpectNoUpdateLeftovers(m_folder);
    test::RemoveTree(source);
    test::RemoveTree(elsewhere);
}

// Ended for real right after each of the update's operations in turn, then at moments of the
// copy (a large browser makes them last): at each, the folder is one the next setup installs
// into, judged before anything resolves it (a set-aside name its journal explains is the
// browser's, not another folder's), and it holds a complete installation, old or new, once the
// next run has resolved it; then an update completes.
TEST_F(InterruptedUpdate, EndedAtAnyMomentTheNextRunFindsACompleteInstallation)
{
    const std::wstring runner = L"\"" + test::BuildDir() + L"\\tests\\update_runner.exe\" \"";
    // An ancient set-aside file of an earlier update waits for a restart beside the browser.
    Files old = m_old;
    old[L"\\Velmarin.exe.vmold"] = "an earlier update's";
    int stopped = 0;
    for (int at = 1; at < 200; ++at) {
        test::RemoveTree(m_folder);
        Write(old);
        HANDLE process = test::StartProcess(runner + m_source + L"\" \"" + m_folder + L"\" 0 " + std::to_wstring(at));
        ASSERT_NE(nullptr, process);
        DWORD code = ExitCodeOf(process);
        if (code == 0)
            break;
        ASSERT_EQ(9u, code) << "at operation " << at;
        ++stopped;
        bool made = false;
        EXPECT_EQ(kFolderReady, CheckInstallFolder(m_folder.c_str(), made)) << "ended after operation " << at;
        EXPECT_TRUE(RecoverInterruptedUpdate(m_folder.c_str())) << "ended after operation " << at;
        // The update takes the ancient file away once it has copied everything.
        Files found = test::FolderContents(m_folder);
        found.erase(L"\\Velmarin.exe.vmold");
        EXPECT_TRUE(found == m_old || found == m_new) << "ended after operation " << at;
    }
    EXPECT_GT(stopped, 10);

    std::wstring source = test::MakeTempDir(L"large new files");
    const std::string large(24 << 20, 'n');
    Files fresh = {{L"\\Velmarin.exe", large}, {L"\\WebApp.exe", "new web app"},
                   {L"\\Extensions\\PlgKit\\PlgKit.dll", "new kit"}};
    Write(fresh, source);
    test::RemoveTree(m_folder);
    Write(m_old);
    const std::wstring largeRun = runner + source + L"\" \"" + m_folder + L"\"";
    for (DWORD delay : {0, 20, 60, 150, 400}) {
        HANDLE process = test::StartProcess(largeRun);
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
    HANDLE process = test::StartProcess(largeRun);
    ASSERT_NE(nullptr, process);
    EXPECT_EQ(0u, ExitCodeOf(process));
    EXPECT_EQ(fresh, test::FolderContents(m_folder));
    test::RemoveTree(source);
}

// Journals forged with valid CRCs in a folder where a link below it leads outside: one whose
// fields do not fit below the folder is not read at all, nothing of it acted on and nothing
// overrun; one whose records lead through the link touches nothing outside the folder.
TEST_F(InterruptedUpdate, AForgedJournalIsNeverActedOn)
{
    const Files stopped = {{L"\\Velmarin.exe", "installed"}, {L"\\Velmarin.exe.0000.vmold", "set aside"},
                           {L"\\Velmarin.exe.vmnew", "staged"}};
    const Files outside = {{L"\\PlgKit.dll", "another program's"}, {L"\\PlgKit.dll.0000.vmold", "its backup"},
                           {L"\\PlgKit.dll.vmnew", "its download"}, {L"\\New.dll", "its plugin"}};
    const std::wstring planned = test::FileRecord(L"\\Velmarin.exe", true);
    // A relative path this long fits below the folder with the staged suffix, not the set-aside one.
    const size_t roomForStaged = MAX_PATH - 1 - m_folder.size() - 6;
    const struct {
        const char *name;
        std::vector<std::wstring> records;
        bool unreadable;
    } cases[] = {
        {"a 259-character path", {planned, test::FileRecord(L"\\" + std::wstring(150, L'p') + L"\\" + std::wstring(107, L'q'), true)}, true},
        {"no room for a set-aside name", {planned, test::FileRecord(L"\\" + std::wstring(roomForStaged - 1, L'r'), true)}, true},
        {"a swap of a file never planned", {planned, test::SwappedRecord(7)}, true},
        {"a roll-back through a link", {test::FileRecord(L"\\Extensions\\PlgKit.dll", true), test::FileRecord(L"\\Extensions\\New.dll", false)}, false},
        {"a completion through a link", {test::FileRecord(L"\\Extensions\\PlgKit.dll", true), test::SwappedRecord(0), L"C"}, false},
    };
    std::wstring elsewhere = test::MakeTempDir(L"outside the folder");
    for (const auto &forged : cases) {
        test::RemoveTree(m_folder);
        Write(stopped);
        Write(outside, elsewhere);
        ASSERT_TRUE(test::MakeSymbolicLink(m_folder + L"\\Extensions", elsewhere));
        test::WriteFile(m_folder + L"\\VelmarinSetup.journal", test::ForgedJournal(forged.records));
        {
            CFileUpdate update(m_folder.c_str(), m_folder.c_str());
            EXPECT_EQ(kUpdateReady, update.Open(0)) << forged.name;
            EXPECT_EQ(forged.unreadable, update.JournalWasUnreadable()) << forged.name;
        }
        EXPECT_EQ(outside, test::FolderContents(elsewhere)) << forged.name;
        test::RemoveSymbolicLink(m_folder + L"\\Extensions");
        EXPECT_EQ(stopped, test::FolderContents(m_folder)) << forged.name;
    }
    // The journal's name a link to a file outside: that file is neither read as a journal nor cut.
    const std::wstring journalLink = m_folder + L"\\VelmarinSetup.journal", victim = elsewhere + L"\\victim.txt";
    test::WriteFile(victim, test::ForgedJournal({planned}));
    test::MakeSymbolicLink(journalLink, victim);
    ASSERT_TRUE(test::FileExists(journalLink));
    {
        CFileUpdate update(m_folder.c_str(), m_folder.c_str());
        EXPECT_EQ(kUpdateNoJournal, update.Open(0));
    }
    EXPECT_EQ(test::ForgedJournal({planned}), test::ReadFile(victim));
    test::RemoveSymbolicLink(journalLink);
    EXPECT_EQ(stopped, test::FolderContents(m_folder));
    test::RemoveTree(elsewhere);
}

}
