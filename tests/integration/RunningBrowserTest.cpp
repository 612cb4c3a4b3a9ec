// Ending a browser that runs from the install folder: real stand-in browser processes and the
// real message boxes of the dialogue, answered by a helper thread.
#include <gtest/gtest.h>
#include "engine/process/RunningBrowser.h"
#include "engine/process/Process.h"
#include "base/FileSystem.h"
#include "support/TestSupport.h"

namespace {

struct Browsers {
    std::vector<HANDLE> processes;
    ~Browsers()
    {
        for (HANDLE process : processes) {
            TerminateProcess(process, 0);
            CloseHandle(process);
        }
    }
    HANDLE Start(const std::wstring &exe)
    {
        HANDLE process = test::StartProcess(L"\"" + exe + L"\" /stay");
        if (process)
            processes.push_back(process);
        return process;
    }
    static bool Running(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }
};

std::wstring PlaceBrowser(const std::wstring &folder, const std::wstring &name = L"Velmarin.exe")
{
    std::wstring exe = folder + L"\\" + name;
    CopyFileW((test::StandInFiles() + L"\\Velmarin.exe").c_str(), exe.c_str(), FALSE);
    return exe;
}

// Lets a started stand-in reach its main loop.
void Settle()
{
    Sleep(700);
}

TEST(TerminateProcessesByPath, EndsEveryCopyFromTheInstallFolderOnly)
{
    std::wstring install = test::MakeTempDir(L"install"), other = test::MakeTempDir(L"other");
    std::wstring browser = PlaceBrowser(install);
    std::wstring longer = PlaceBrowser(install, L"Velmarin.exe.updater.exe");
    std::wstring elsewhere = PlaceBrowser(other);
    Browsers browsers;
    HANDLE first = browsers.Start(browser), second = browsers.Start(browser);
    HANDLE extended = browsers.Start(longer), foreign = browsers.Start(elsewhere);
    ASSERT_TRUE(first && second && extended && foreign);
    // A 64-bit program in the folder, where a 64-bit build is at hand: the 32-bit setup meets
    // such processes on 64-bit Windows and cannot read their module lists.
    HANDLE wide = nullptr;
    const std::wstring x64 = test::PathFromEnvironment("VELMARIN_X64_BUILD");
    if (!x64.empty() && test::OnSixtyFourBitWindows()) {
        std::wstring exe = install + L"\\Velmarin.exe.x64.exe";
        ASSERT_TRUE(CopyFileW((x64 + L"\\payload-files\\Velmarin.exe").c_str(), exe.c_str(), FALSE));
        ASSERT_NE(nullptr, wide = browsers.Start(exe));
    }
    Settle();

    DWORD start = GetTickCount();
    EXPECT_EQ(0, TerminateProcessesByPath(browser.c_str(), 5000));
    EXPECT_LT(GetTickCount() - start, 5000u);
    EXPECT_FALSE(Browsers::Running(first));
    EXPECT_FALSE(Browsers::Running(second));
    EXPECT_FALSE(Browsers::Running(extended)) << "its path begins with the browser path";
    if (wide) {
        EXPECT_FALSE(Browsers::Running(wide)) << "a 64-bit one too";
    }
    EXPECT_TRUE(Browsers::Running(foreign)) << "same name, other folder";

    EXPECT_EQ(-1, TerminateProcessesByPath(browser.c_str(), 5000)) << "nothing left to end";
    EXPECT_EQ(-1, TerminateProcessesByPath(nullptr, 5000));
    test::RemoveTree(install);
    TerminateProcess(foreign, 0);
    WaitForSingleObject(foreign, 5000);
    test::RemoveTree(other);
}

// A semicolon is a plain character of a folder's name, not a separator of patterns. Another
// user's browser counts too: the processes are looked at with the right to open any process,
// taken on by the looking thread alone and given back.
TEST(TerminateProcessesByPath, CaseDoesNotMatterNorASemicolon)
{
    std::wstring install = test::MakeTempDir(L"case;a");
    std::wstring browser = PlaceBrowser(install);
    Browsers browsers;
    HANDLE process = browsers.Start(browser);
    Settle();
    std::wstring upper = browser;
    CharUpperW(&upper[0]);
    HANDLE inspector = CreateProcessInspectorToken(), thread = nullptr;
    EXPECT_NE(nullptr, inspector) << "an administrator holds the right, and it can be enabled";
    EXPECT_EQ(0, TerminateProcessesByPath(upper.c_str(), 5000));
    EXPECT_FALSE(Browsers::Running(process));
    EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &thread)) << "the thread acts for itself again";
    CloseHandle(inspector);
    test::RemoveTree(install);
}

TEST(RunningBrowserDialogue, OkEndsTheBrowserAndFreesTheFile)
{
    std::wstring install = test::MakeTempDir(L"dialogue");
    std::wstring browser = PlaceBrowser(install);
    Browsers browsers;
    HANDLE process = browsers.Start(browser);
    Settle();
    ASSERT_FALSE(DeleteFileW(browser.c_str())) << "the running browser holds its file";

    test::MessageBoxAnswerer answerer(kRunningBrowserCaption, {IDOK});
    EXPECT_EQ(kBrowserCleared, ResolveRunningBrowser(browser.c_str()));
    EXPECT_EQ(1, answerer.Answered());
    EXPECT_FALSE(Browsers::Running(process));
    EXPECT_TRUE(test::FileExists(browser)) << "replaced later with the whole installation";
    EXPECT_FALSE(IsFileInUse(browser.c_str()));
    test::RemoveTree(install);
}

TEST(RunningBrowserDialogue, CancelAtTheFirstBoxEndsNothing)
{
    std::wstring install = test::MakeTempDir(L"dialogue");
    std::wstring browser = PlaceBrowser(install);
    Browsers browsers;
    HANDLE process = browsers.Start(browser);
    Settle();

    test::MessageBoxAnswerer answerer(kRunningBrowserCaption, {IDCANCEL});
    EXPECT_EQ(kBrowserCancelled, ResolveRunningBrowser(browser.c_str()));
    EXPECT_EQ(1, answerer.Answered());
    std::vector<std::wstring> texts = answerer.Texts();
    ASSERT_EQ(1u, texts.size());
    EXPECT_EQ(L"岚舟浏览器正在运行中，点击“确定”可强制退出浏览器并继续安装。是否继续？", texts[0]);
    EXPECT_TRUE(Browsers::Running(process));
    EXPECT_TRUE(test::FileExists(browser));
    TerminateProcess(process, 0);
    WaitForSingleObject(process, 5000);
    test::RemoveTree(install);
}

TEST(RunningBrowserDialogue, RetriesWhileTheFileStaysLocked)
{
    std::wstring install = test::MakeTempDir(L"dialogue");
    std::wstring browser = PlaceBrowser(install);
    // Something that is not a browser holds the file: it is not ended, the user is asked to.
    HANDLE lock = CreateFileW(browser.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);

    struct Unlocker {
        static DWORD WINAPI Run(LPVOID param)
        {
            auto *answerer = (test::MessageBoxAnswerer *)((void **)param)[0];
            HANDLE *lock = (HANDLE *)((void **)param)[1];
            // Release the file once the user pressed Retry twice.
            while (answerer->Answered() < 3)
                Sleep(10);
            CloseHandle(*lock);
            *lock = nullptr;
            return 0;
        }
    };
    {
        test::MessageBoxAnswerer answerer(kRunningBrowserCaption, {IDOK, IDRETRY, IDRETRY, IDRETRY});
        void *params[] = {&answerer, &lock};
        HANDLE unlocker = CreateThread(nullptr, 0, Unlocker::Run, params, 0, nullptr);
        EXPECT_EQ(kBrowserCleared, ResolveRunningBrowser(browser.c_str()));
        WaitForSingleObject(unlocker, 5000);
        CloseHandle(unlocker);
        std::vector<std::wstring> texts = answerer.Texts();
        ASSERT_EQ(3u, texts.size());
        EXPECT_EQ(L"未能强制退出岚舟浏览器，请手动结束浏览器后点击“重试”按钮。", texts[1]);
        EXPECT_FALSE(IsFileInUse(browser.c_str()));
    }

    // And Cancel at the retry box gives up.
    browser = PlaceBrowser(install);
    lock = CreateFileW(browser.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    test::MessageBoxAnswerer giveUp(kRunningBrowserCaption, {IDOK, IDCANCEL});
    EXPECT_EQ(kBrowserCancelled, ResolveRunningBrowser(browser.c_str()));
    EXPECT_EQ(2, giveUp.Answered());
    CloseHandle(lock);
    test::RemoveTree(install);
}

}
