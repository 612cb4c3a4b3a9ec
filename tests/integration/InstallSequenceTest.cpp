// The install sequence on a worker thread, with a window of the test receiving the progress
// and end messages as the progress page would.
#include <gtest/gtest.h>
#include "app/InstallOptions.h"
#include "app/Outcomes.h"
#include "app/InstallWorker.h"
#include "app/Outcomes.h"
#include "app/SetupMessages.h"
#include "app/Versions.h"
#include "engine/folder/InstallFolder.h"
#include "engine/record/InstallRecord.h"
#include "base/FolderSecurity.h"
#include "engine/payload/Payload.h"
#include "engine/Product.h"
#include "engine/process/Process.h"
#include "engine/process/RunningBrowser.h"
#include "support/TestSupport.h"
#include "support/WindowsLikeSecurity.h"
#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>
#include <algorithm>
#include <map>
#include <set>

namespace {

// A small file system as drive T: while it lives (mounting one needs root).
struct SmallDrive {
    std::wstring folder;
    bool mounted;
    SmallDrive(const std::wstring &at, int kilobytes) : folder(at), mounted(test::MountSmallDrive(L'T', at, kilobytes)) {}
    ~SmallDrive() { test::UnmountSmallDrive(L'T', folder); }
};

const std::vector<int> kFullProgress = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100};

class InstallSequence : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::RemoveBrowserRegistration();
        m_root = test::MakeTempDir(L"sequence");
        m_install = m_root + L"\\Program Files\\Velmarin 3";
        m_extract = m_root + L"\\temp\\123\\Velmarin 3";
        CreateDirectoryW((m_root + L"\\Program Files").c_str(), nullptr);
        for (const wchar_t *folder : {L"\\temp", L"\\temp\\123", L"\\Data", L"\\Favorites", L"\\Desktop",
                                      L"\\Start Menu", L"\\Start Menu\\Programs", L"\\Quick Launch"})
            CreateDirectoryW((m_root + folder).c_str(), nullptr);
        Configure(m_options);
        ResetExtraction();
    }
    // The extraction folder as the payload leaves it (a completed run removes it, and forgets it).
    void ResetExtraction()
    {
        CreateDirectoryW((m_root + L"\\temp\\123").c_str(), nullptr);
        test::CopyTree(test::StandInFiles(), m_extract);
        wcscpy(m_options.m_strTempRoot, (m_root + L"\\temp\\123").c_str());
        wcscpy(m_options.m_strExtractDir, m_extract.c_str());
    }

    void TearDown() override
    {
        test::EndProcessesIn(m_root);
        test::RemoveBrowserRegistration();
        test::RemoveTree(m_root);
    }

    void Configure(CInstallOptions &options)
    {
        options.m_nOsVersion = 9;
        wcscpy(options.m_strInstallDir, m_install.c_str());
        wcscpy(options.m_strDataDir, (m_root + L"\\Data").c_str());
        wcscpy(options.m_strIniPath, (m_root + L"\\Data\\Velmarin.ini").c_str());
        wcscpy(options.m_strFavorites, (m_root + L"\\Favorites").c_str());
        wcscpy(options.m_strProgramGroup, (m_root + L"\\Start Menu\\Programs\\岚舟浏览器").c_str());
        wcscpy(options.m_strCommonStartMenu, (m_root + L"\\Start Menu").c_str());
        wcscpy(options.m_strCommonDesktop, (m_root + L"\\Desktop").c_str());
        wcscpy(options.m_strQuickLaunch, (m_root + L"\\Quick Launch").c_str());
    }

    // Runs the sequence on a thread of its own, as the worker does, and collects what the
    // progress window receives until the sequence returns.
    std::vector<int> Run()
    {
        struct Call {
            CInstallOptions *options;
            HWND window;
            static DWORD WINAPI Thread(LPVOID param)
            {
                Call *call = (Call *)param;
                CoInitialize(nullptr);
                call->options->RunInstall(call->window);
                CoUninitialize();
                return 0;
            }
        } call = {&m_options, m_recorder.Window()};
        HANDLE thread = CreateThread(nullptr, 0, Call::Thread, &call, 0, nullptr);
        while (MsgWaitForMultipleObjects(1, &thread, FALSE, 60000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1)
            test::PumpMessages(0);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 0)) << "the sequence did not return";
        CloseHandle(thread);
        return m_recorder.Collect(50);
    }

    // An installed browser of an earlier version: every file of the set with its own content.
    void PlantOldInstallation()
    {
        for (const std::wstring &file : test::PayloadFileTable()) {
            std::wstring path = m_install + file;
            SHCreateDirectoryExW(nullptr, path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
            test::WriteFile(path, "old " + test::Utf8(file));
        }
    }
    // Every file below the install folder with its content.
    std::map<std::wstring, std::string> Snapshot() { return test::FolderContents(m_install); }

    std::vector<std::string> BrowserStarts() { return test::ReadLines(m_install + L"\\velmarin-starts.log"); }
    std::string Quoted(const std::string &arguments)
    {
        return "\"" + test::Utf8(m_install) + "\\Velmarin.exe\" " + arguments;
    }

    std::wstring m_root, m_install, m_extract;
    CInstallOptions m_options;
    test::MessageRecorder m_recorder;
};

TEST_F(InstallSequence, FreshInstallWithEveryChoice)
{
    test::WriteFile(m_root + L"\\Data\\Velmarin.ini", "[AddUnstall]\r\nIsSave=1\r\n[option]\r\nHome=1\r\n");
    EXPECT_EQ(kFullProgress, Run());

    for (const std::wstring &file : test::PayloadFileTable())
        EXPECT_TRUE(test::FileExists(m_install + file)) << test::Utf8(file);

    wchar_t value[32] = {};
    GetPrivateProfileStringW(L"AddUnstall", L"IsSave", L"gone", value, 32, m_options.m_strIniPath);
    EXPECT_STREQ(L"gone", value);
    GetPrivateProfileStringW(L"option", L"Home", L"", value, 32, m_options.m_strIniPath);
    EXPECT_STREQ(L"1", value) << "the rest of the ini stays";

    std::wstring linkBar = m_root + L"\\Favorites\\LinkBar";
    const std::pair<const wchar_t *, const wchar_t *> urls[] = {
        {L"\\新手上路.url", L"/vm3/beginner/"},
        {L"\\新特性.url", L"/vm3/feature/"},
        {L"\\如何使用收藏栏.url", L"/vm3/beginner/favoritebar.htm"},
    };
    for (const auto &url : urls) {
        wchar_t read[512] = {};
        GetPrivateProfileStringW(L"InternetShortcut", L"URL", L"", read, 512, (linkBar + url.first).c_str());
        EXPECT_EQ(std::wstring(L"http://") + kProductWebHost + url.second, read);
    }

    EXPECT_EQ(m_install + L"\\Velmarin.exe", test::ReadRegString(HKEY_LOCAL_MACHINE, kAppPathKey, L""));
    EXPECT_EQ(m_install, test::ReadRegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation"));
    EXPECT_TRUE(test::RegKeyExists(HKEY_CLASSES_ROOT, L"VelmarinURL\\shell\\open\\command"));
    EXPECT_TRUE(test::FileExists(m_root + L"\\Start Menu\\Programs\\岚舟浏览器\\进程管理器.lnk"));
    EXPECT_TRUE(test::FileExists(m_root + L"\\Desktop\\岚舟 3.lnk"));
    EXPECT_TRUE(test::FileExists(m_root + L"\\Quick Launch\\岚舟 3.lnk"));

    std::vector<std::string> expected = {Quoted("/tp:3 /v:1 /tb:0"), Quoted("/tp:2 /v:1"), Quoted("/tp:11 /v:1")};
    EXPECT_EQ(expected, BrowserStarts());
    // The person who installs has his parts now: his logon is marked as served.
    EXPECT_EQ(test::ReadRegString(HKEY_LOCAL_MACHINE, kActiveSetupKey, L"Version"),
              test::ReadRegString(HKEY_CURRENT_USER, kActiveSetupKey, L"Version"));
    EXPECT_TRUE(test::FileExists(m_install + kUserPartsProgram));
    EXPECT_FALSE(test::DirExists(m_root + L"\\temp\\123")) << "the temporary folder is removed";
}

// Where the account's own rights cannot be had, or not taken on, nothing in its profile is touched.
TEST_F(InstallSequence, WithoutTheAccountsOwnRightsItsProfileIsLeftAlone)
{
    const std::wstring linkBar = m_root + L"\\Favorites\\LinkBar";
    for (bool tokenMade : {false, true}) {
        test::WriteFile(m_root + L"\\Data\\Velmarin.ini", "[AddUnstall]\r\nIsSave=1\r\n");
        test::WriteFile(m_root + L"\\Quick Launch\\Velmarin 3.0.lnk", "old");
        CreateDirectoryW(linkBar.c_str(), nullptr);
        ResetExtraction();
        m_options.m_bOwnAccountTried = true;
        m_options.m_hOwnAccount = tokenMade ? CreateEventW(nullptr, TRUE, FALSE, nullptr) : nullptr;  // no token
        EXPECT_EQ(100, Run().back()) << "the rest is installed";
        EXPECT_EQ(nullptr, m_options.m_hOwnAccount) << "closed after use";
        EXPECT_EQ(1u, GetPrivateProfileIntW(L"AddUnstall", L"IsSave", 0, m_options.m_strIniPath)) << tokenMade;
        EXPECT_TRUE(test::FileExists(m_root + L"\\Quick Launch\\Velmarin 3.0.lnk")) << tokenMade;
        EXPECT_FALSE(test::FileExists(m_root + L"\\Quick Launch\\岚舟 3.lnk")) << tokenMade;
        EXPECT_TRUE(RemoveDirectoryW(linkBar.c_str())) << "the links bar stays empty";
        EXPECT_TRUE(test::FileExists(m_root + L"\\Desktop\\岚舟 3.lnk")) << "the machine's links are written";
    }
}

// As the machine's account (a deployment tool's run) the sequence writes nothing of the account's
// own into its profile and records none of it; the component that gives each user his own at
// his logon is registered, its program in the install folder, and it makes them there.
TEST_F(InstallSequence, AsTheMachinesAccountEachUserGetsHisOwnPartsAtLogon)
{
    test::WriteFile(m_root + L"\\Data\\Velmarin.ini", "[AddUnstall]\r\nIsSave=1\r\n");
    SetMachineAccountHook([] { return true; });
    std::vector<int> progress = Run();
    SetMachineAccountHook(nullptr);
    EXPECT_EQ(kFullProgress, progress);
    EXPECT_FALSE(test::DirExists(m_root + L"\\Favorites\\LinkBar"));
    EXPECT_FALSE(test::FileExists(m_root + L"\\Quick Launch\\岚舟 3.lnk"));
    EXPECT_EQ(1u, GetPrivateProfileIntW(L"AddUnstall", L"IsSave", 0, m_options.m_strIniPath)) << "the ini is the user's";
    EXPECT_TRUE(test::FileExists(m_root + L"\\Desktop\\岚舟 3.lnk")) << "the machine's parts are made";
    EXPECT_FALSE(test::RegKeyExists(HKEY_CURRENT_USER, kActiveSetupKey)) << "nobody marked as served";
    std::wstring stub = test::ReadRegString(HKEY_LOCAL_MACHINE, kActiveSetupKey, L"StubPath");
    EXPECT_EQ(L"\"" + m_install + kUserPartsProgram + L"\" /QuickLaunchShortcut=1", stub);
    EXPECT_TRUE(test::FileExists(m_install + kUserPartsProgram));
    std::wstring version = SetupVersion();
    std::replace(version.begin(), version.end(), L'.', L',');
    EXPECT_EQ(version, test::ReadRegString(HKEY_LOCAL_MACHINE, kActiveSetupKey, L"Version")) << "as Active Setup compares it";
    CInstallRecord record;
    ASSERT_EQ(kRecordValid, record.Load(m_install.c_str(), m_options.Places()));
    for (int i = 0; i < record.Count(); ++i) {
        std::wstring path = record.Item(i).path;
        EXPECT_TRUE(path.find(L"LinkBar") == std::wstring::npos && path.find(L"Quick Launch") == std::wstring::npos)
            << test::Utf8(path);
    }
}

// An account the shell names no favourites or application data folder for gets no links bar
// and no quick-launch link, nothing at the current drive's root, and a record its uninstaller takes.
TEST_F(InstallSequence, WithoutTheAccountsFoldersNothingLandsOnTheDrivesRoot)
{
    m_options.m_strFavorites[0] = 0;
    m_options.m_strQuickLaunch[0] = 0;
    wchar_t root[MAX_PATH];
    GetFullPathNameW(L"\\LinkBar", MAX_PATH, root, nullptr);
    EXPECT_EQ(kFullProgress, Run());
    EXPECT_FALSE(test::DirExists(root)) << test::Utf8(root);
    EXPECT_EQ(kOutcomeDone, m_options.m_nOutcome);
    CInstallRecord record;
    ASSERT_EQ(kRecordValid, record.Load(m_install.c_str(), m_options.Places()));
    for (int i = 0; i < record.Count(); ++i)
        EXPECT_EQ(std::wstring::npos, std::wstring(record.Item(i).path).find(L"LinkBar")) << test::Utf8(record.Item(i).path);
}

TEST_F(InstallSequence, BrowserRunsFollowTheChoicesAndTheSystem)
{
    m_options.m_bDefaultBrowser = 0;
    EXPECT_EQ(kFullProgress, Run());
    EXPECT_EQ((std::vector<std::string>{Quoted("/tp:3 /v:1 /tb:0"), Quoted("/tp:11 /v:1")}), BrowserStarts());

    DeleteFileW((m_install + L"\\velmarin-starts.log").c_str());
    ResetExtraction();
    m_options.m_bDefaultBrowser = 1;
    m_options.m_nOsVersion = 7;
    Run();
    EXPECT_EQ((std::vector<std::string>{Quoted("/tp:3 /v:1 /tb:0"), Quoted("/tp:2 /v:1")}), BrowserStarts())
        << "no taskbar run before Windows 7";

    DeleteFileW((m_install + L"\\velmarin-starts.log").c_str());
    ResetExtraction();
    m_options.m_bDefaultBrowser = 0;
    m_options.m_bQuickLaunch = 0;
    m_options.m_nOsVersion = 9;
    Run();
    EXPECT_EQ(std::vector<std::string>{Quoted("/tp:3 /v:1 /tb:0")}, BrowserStarts());
}

TEST_F(InstallSequence, ReplacesAnExistingBrowserAndLeavesNothingAside)
{
    PlantOldInstallation();
    test::WriteFile(m_install + L"\\Velmarin.exe.bak", "left from earlier");
    CreateDirectoryW((m_install + L"\\Extensions\\Other").c_str(), nullptr);
    test::WriteFile(m_install + L"\\Extensions\\Other\\Other.dll", "kept");
    m_options.m_nOsVersion = kOsWindowsServer2003;  // the ini lies beside the browser
    test::WriteFile(m_install + L"\\Velmarin.ini", "[addUNSTALL]\r\nIsSave=2\r\n");

    EXPECT_EQ(kFullProgress, Run());
    std::map<std::wstring, std::string> installed = Snapshot();
    for (const std::wstring &file : test::PayloadFileTable())
        EXPECT_EQ(test::ReadFile(test::StandInFiles() + file), installed[file]) << test::Utf8(file);
    EXPECT_EQ("kept", installed[L"\\Extensions\\Other\\Other.dll"]);
    EXPECT_EQ(0u, installed.count(L"\\Velmarin.exe.bak")) << "the backup an interrupted older setup left goes";
    test::ExpectNoUpdateLeftovers(m_install);
    wchar_t value[32] = {};
    GetPrivateProfileStringW(L"AddUnstall", L"IsSave", L"gone", value, 32, (m_install + L"\\Velmarin.ini").c_str());
    EXPECT_STREQ(L"gone", value);
}

// A payload built without GuardHub (its manifest would not name it either).
// An installation its record does not name is not reported as done: the earlier record, or
// none, stays as it was, the user is told, and a silent run ends with its own code.
TEST_F(InstallSequence, ARecordThatCannotBeWrittenOrMergedIsNoSuccess)
{
    const std::wstring record = m_install + L"\\VelmarinSetup.record";
    for (bool damagedEarlier : {false, true}) {
        SHCreateDirectoryExW(nullptr, m_install.c_str(), nullptr);
        if (damagedEarlier)
            test::WriteFile(record, "not a record");
        else
            ASSERT_TRUE(CreateDirectoryW((record + L".new").c_str(), nullptr));
        ResetExtraction();
        Configure(m_options);
        test::MessageBoxAnswerer answerer(L"提示", {IDOK});
        Run();
        EXPECT_EQ(kOutcomeRecordKept, m_options.m_nOutcome) << damagedEarlier;
        EXPECT_EQ(1, answerer.Answered()) << damagedEarlier;
        if (damagedEarlier)
            EXPECT_EQ("not a record", test::ReadFile(record));
        else
            EXPECT_FALSE(test::FileExists(record));
        test::EndProcessesIn(m_install);
        test::RemoveBrowserRegistration();
        test::RemoveTree(m_install);
    }
}

TEST_F(InstallSequence, WithoutGuardHubNoGuardHubFolder)
{
    test::RemoveTree(m_extract + L"\\Extensions\\GuardHub");
    CreateDirectoryW(m_install.c_str(), nullptr);
    CFileUpdate update(m_extract.c_str(), m_install.c_str());
    ASSERT_EQ(kUpdateReady, update.Open(0));
    EXPECT_TRUE(m_options.CopyBrowserFiles(update));
    EXPECT_FALSE(test::DirExists(m_install + L"\\Extensions\\GuardHub"));
    EXPECT_TRUE(test::FileExists(m_install + L"\\Extensions\\PlgKit\\PlgKit.dll"));
}

// Any file that cannot be replaced (held open without sharing, or its staged name taken)
// stops the update with the old installation byte for byte, and nothing registered.
TEST_F(InstallSequence, AFileThatCannotBeReplacedLeavesTheOldInstallationAsItWas)
{
    PlantOldInstallation();
    const std::map<std::wstring, std::string> old = Snapshot();
    for (const wchar_t *blocked : {L"\\WebApp.exe", L"\\Extensions\\PlgHint\\PlgHint.dll",
                                   L"\\Skin\\Frost_Glass\\skin.ini", L"\\UnInst.exe.vmnew\\"}) {
        std::wstring path = m_install + blocked;
        HANDLE held = INVALID_HANDLE_VALUE;
        if (path.back() == L'\\')
            CreateDirectoryW(path.c_str(), nullptr);
        else
            held = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ResetExtraction();
        test::MessageBoxAnswerer answerer(L"错误", {IDOK});
        // The recorder keeps what every run sent.
        std::vector<int> received = Run();
        EXPECT_EQ(-1, received.back()) << test::Utf8(blocked);
        EXPECT_EQ(received.end(), std::find(received.begin(), received.end(), 80)) << test::Utf8(blocked);
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        else
            RemoveDirectoryW(path.c_str());
        ASSERT_EQ(1u, answerer.Texts().size());
        EXPECT_NE(std::wstring::npos, answerer.Texts()[0].find(L"原有的浏览器已保留"));
        EXPECT_EQ(old, Snapshot()) << test::Utf8(blocked);
        EXPECT_FALSE(test::RegKeyExists(HKEY_LOCAL_MACHINE, kAppPathKey));
        EXPECT_FALSE(test::DirExists(m_root + L"\\Start Menu\\Programs\\岚舟浏览器"));
        EXPECT_FALSE(test::DirExists(m_root + L"\\temp\\123")) << "the temporary folder goes on this way out too";
    }
}

// The last file cannot go in (a file of someone else's holds its folder's name): nothing of the
// browser is left.
TEST_F(InstallSequence, AFailedFreshInstallLeavesNoFiles)
{
    SHCreateDirectoryExW(nullptr, (m_install + L"\\Extensions").c_str(), nullptr);
    test::WriteFile(m_install + L"\\Extensions\\PlgFetch", "someone else's");
    test::MessageBoxAnswerer answerer(L"错误", {IDOK});
    std::vector<int> received = Run();
    EXPECT_EQ(-1, received.back());
    EXPECT_EQ(received.end(), std::find(received.begin(), received.end(), 80));
    ASSERT_EQ(1u, answerer.Texts().size());
    EXPECT_EQ(std::wstring::npos, answerer.Texts()[0].find(L"原有的浏览器已保留")) << "there was none";
    EXPECT_EQ((std::map<std::wstring, std::string>{{L"\\Extensions\\PlgFetch", "someone else's"}}), Snapshot());
    EXPECT_FALSE(test::DirExists(m_install + L"\\Extensions\\PlgKit"));
}

// A download cut short: the real payload installer, truncated, unpacks nothing; a payload
// that unpacked only partly is as bad, and so is one changed after its check where the user
// could change it.
TEST_F(InstallSequence, AnIncompletePayloadChangesNothing)
{
    PlantOldInstallation();
    const std::map<std::wstring, std::string> old = Snapshot();
    std::string payload = test::ReadFile(test::BuildDir() + L"\\velmarin3zip.exe");
    ASSERT_GT(payload.size(), 20000u);
    test::WriteFile(m_root + L"\\temp\\123\\velmarin3zip.exe", payload.substr(0, payload.size() - 20000));
    test::RemoveTree(m_extract);
    std::wstring line = L"\"" + m_root + L"\\temp\\123\\velmarin3zip.exe\" /P=" + m_extract;
    ExecCommandLine(&line[0], SW_HIDE, 30000);
    // Unpacked not at all, partly, or with a file of the right size and other bytes; unpacked
    // where the setup does not know only administrators could change it, then Velmarin.exe
    // changed or a file added after the check.
    for (int road : {0, 1, 2, 3, 4}) {
        SCOPED_TRACE(road);
        if (road > 0)
            ResetExtraction();
        if (road == 1)
            DeleteFileW((m_extract + L"\\Skin\\Frost_Glass\\ico\\browser.ico").c_str());
        if (road == 2) {
            std::string bytes = test::ReadFile(m_extract + L"\\Extensions\\PlgTabs\\PlgTabs.dll");
            bytes[bytes.size() / 2] ^= 1;
            test::WriteFile(m_extract + L"\\Extensions\\PlgTabs\\PlgTabs.dll", bytes);
        }
        if (road >= 3) {
            ASSERT_TRUE(m_options.ExtractPayload());
            ASSERT_EQ(CInstallOptions::kPayloadMatches, m_options.m_nPayloadCheck);
            m_options.m_bExtractionProtected = false;
            std::wstring program = std::wstring(m_options.m_strExtractDir) + L"\\Velmarin.exe";
            std::string bytes = test::ReadFile(program);
            bytes[bytes.size() / 2] ^= 1;
            test::WriteFile(road == 3 ? program : std::wstring(m_options.m_strExtractDir) + L"\\Skin\\Frost_Glass\\a.dll", bytes);
        }
        test::MessageBoxAnswerer answerer(L"错误", {IDOK});
        std::vector<int> received = Run();
        EXPECT_EQ(-1, received.back());
        EXPECT_EQ(kOutcomePayloadDamaged, m_options.m_nOutcome);
        ASSERT_EQ(1u, answerer.Texts().size());
        EXPECT_NE(std::wstring::npos, answerer.Texts()[0].find(L"请重新下载安装程序")) << "not a file in use";
        EXPECT_EQ(old, Snapshot());
        EXPECT_FALSE(test::RegKeyExists(HKEY_LOCAL_MACHINE, kAppPathKey));
        if (road >= 3)
            m_options.ScheduleTempCleanup();
    }

    // No temporary folder could be made: the message says that.
    m_options.m_strTempRoot[0] = m_options.m_strExtractDir[0] = 0;
    test::MessageBoxAnswerer second(L"错误", {IDOK});
    Run();
    ASSERT_EQ(1u, second.Texts().size());
    wchar_t windows[MAX_PATH];
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    EXPECT_NE(std::wstring::npos, second.Texts()[0].find(std::wstring(L"无法在 ") + windows + L"\\Temp 中创建"));
    EXPECT_EQ(old, Snapshot());
}

// A drive too small for the unpacked files, then one too small for the browser: the message
// names the drive and what it lacks, and nothing is left there.
TEST_F(InstallSequence, ADriveTooSmallIsNamedAndKeptClean)
{
    SmallDrive small(m_root + L"\\small", 256);
    if (!small.mounted)
        GTEST_SKIP() << "mounting a small file system needs root";
    for (bool tempDrive : {true, false}) {
        test::MessageBoxAnswerer answerer(L"错误", {IDOK});
        if (tempDrive) {
            // The Windows folder's drive cannot be made small here: the small drive stands for it.
            wcscpy(m_options.m_strTempRoot, L"T:\\123");
            m_options.m_strExtractDir[0] = 0;
            m_options.m_ullTempShortfall = DriveShortfall(L"T:\\", 1024 * 1024, 10);
            EXPECT_GT(m_options.m_ullTempShortfall, 0u);
        } else {
            wcscpy(m_options.m_strInstallDir, L"T:\\Velmarin 3");
        }
        EXPECT_EQ(-1, Run().back());
        ASSERT_EQ(1u, answerer.Texts().size());
        EXPECT_NE(std::wstring::npos, answerer.Texts()[0].find(tempDrive ? L"临时文件夹所在的磁盘（T:\\）空间不足"
                                                                          : L"安装目录所在的磁盘（T:\\）空间不足"))
            << test::Utf8(answerer.Texts()[0]);
        EXPECT_EQ(0u, test::FolderContents(L"T:\\").size());
        EXPECT_FALSE(test::DirExists(m_options.m_strInstallDir));
        m_options.m_ullTempShortfall = 0;
        wcscpy(m_options.m_strTempRoot, (m_root + L"\\temp\\123").c_str());
        wcscpy(m_options.m_strExtractDir, m_extract.c_str());
    }
}

TEST_F(InstallSequence, AFailedPayloadRegistersNothing)
{
    test::RemoveTree(m_extract);
    CreateDirectoryW(m_extract.c_str(), nullptr);
    test::MessageBoxAnswerer answerer(L"错误", {IDOK});
    std::vector<int> received = Run();
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(-1, received.back());
    EXPECT_EQ(1, answerer.Answered());
    EXPECT_FALSE(test::DirExists(m_install)) << "the install folder it made stays empty";
    EXPECT_FALSE(test::RegKeyExists(HKEY_LOCAL_MACHINE, kAppPathKey));
    EXPECT_FALSE(test::DirExists(m_root + L"\\Start Menu\\Programs\\岚舟浏览器"));
    EXPECT_FALSE(test::FileExists(m_root + L"\\Desktop\\岚舟 3.lnk"));
}

TEST_F(InstallSequence, CancelAtTheRunningBrowserKeepsTheOldInstallation)
{
    CreateDirectoryW(m_install.c_str(), nullptr);
    test::WriteFile(m_install + L"\\Velmarin.exe", "old browser");
    test::WriteFile(m_install + L"\\Velmarin.exe.bak", "an older setup's backup");
    test::WriteFile(m_root + L"\\Data\\Velmarin.ini", "[AddUnstall]\r\nIsSave=1\r\n");
    HANDLE running = CreateFileW((m_install + L"\\Velmarin.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    test::MessageBoxAnswerer answerer(kRunningBrowserCaption, {IDCANCEL});
    EXPECT_EQ((std::vector<int>{10, 20, -1}), Run());
    CloseHandle(running);
    EXPECT_EQ(1, answerer.Answered());
    EXPECT_EQ("old browser", test::ReadFile(m_install + L"\\Velmarin.exe"));
    EXPECT_FALSE(test::FileExists(m_install + L"\\Velmarin.exe.bak"));
    wchar_t value[32] = {};
    GetPrivateProfileStringW(L"AddUnstall", L"IsSave", L"", value, 32, m_options.m_strIniPath);
    EXPECT_STREQ(L"0", value);
    EXPECT_EQ(nullptr, m_options.m_hOwnAccount) << "the account's rights are let go";
    EXPECT_FALSE(test::DirExists(m_root + L"\\temp\\123")) << "the temporary folder goes on this way out too";
}

// An update a power cut stopped, with the browser it had swapped in running: the user is asked
// about the browser first, and once it is gone the update is undone and the installation done.
TEST_F(InstallSequence, AStoppedUpdateWithTheBrowserRunningAsksAboutTheBrowserFirst)
{
    PlantOldInstallation();
    test::LeaveStoppedUpdate(m_extract, m_install);
    ASSERT_TRUE(test::FileExists(m_install + L"\\VelmarinSetup.journal"));
    HANDLE running = CreateFileW((m_install + L"\\Velmarin.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    test::MessageBoxAnswerer browser(kRunningBrowserCaption, {IDCANCEL});
    test::MessageBoxAnswerer errors(L"错误", {IDOK});
    EXPECT_EQ((std::vector<int>{10, 20, -1}), Run());
    CloseHandle(running);
    EXPECT_EQ(1, browser.Answered());
    EXPECT_EQ(0, errors.Answered()) << "no copy error instead of the question";

    ResetExtraction();
    EXPECT_EQ(100, Run().back());
    std::map<std::wstring, std::string> installed = Snapshot();
    for (const std::wstring &file : test::PayloadFileTable())
        EXPECT_EQ(test::ReadFile(test::StandInFiles() + file), installed[file]) << test::Utf8(file);
    test::ExpectNoUpdateLeftovers(m_install);
}

TEST_F(InstallSequence, AnUnwritableInstallFolderOnlyEnds)
{
    wcscpy(m_options.m_strInstallDir, L"Z:\\proc\\self\\Velmarin 3");
    test::MessageBoxAnswerer answerer(L"错误", {IDOK});
    EXPECT_EQ(std::vector<int>{-1}, Run());
    ASSERT_EQ(1u, answerer.Texts().size());
    EXPECT_EQ(L"无法将文件放入安装目录，请选择其它目录后再安装。", answerer.Texts()[0]);
}

// What the installing account's own unelevated programs make: owned by the account, full control
// for it. On Windows an elevated administrator's own objects are the Administrators', and the
// account is another user: an owner may always change the permissions, and a handle his programs
// opened keeps that right after any protection, so nothing of his is taken over.
std::wstring AccountsOwn()
{
    std::wstring account = test::AccountSid();
    return L"O:" + account + L"D:P(A;OICI;FA;;;" + account + L")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
}

const wchar_t kUsersModify[] = L"O:BAD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1301bf;;;BU)";
const wchar_t kUsersModifyInherited[] = L"O:BAD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1301bf;;;BU)";
const wchar_t kFullControlInherited[] = L"O:BAD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BU)";
const wchar_t kMadeByAUser[] = L"O:S-1-5-21-1004336348-1177238915-682003330-1001D:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)"
                               L"(A;OICIID;SDGXGWGR;;;AU)(A;OICIIOID;FA;;;CO)";
const wchar_t kGrantsAUser[] = L"O:BAD:AI(A;;FA;;;S-1-5-21-1004336348-1177238915-682003330-1001)(A;OICIID;FA;;;BA)";

// The file behind a name: a moved file keeps it, a copy is another.
ULONGLONG FileIdentity(const std::wstring &path)
{
    HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info = {};
    GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return ((ULONGLONG)info.nFileIndexHigh << 32) | info.nFileIndexLow;
}

// Files only administrators could change since their check are moved into an install folder on
// their volume, each then made to take on what the folder passes down, as a copy would; to
// another volume, or into folders that pass nothing down to files (a file made to inherit there
// would be left with no access for anyone), they are copied.
TEST_F(InstallSequence, CheckedFilesAreMovedOnTheirVolumeAndCopiedToAnother)
{
    SmallDrive other(m_root + L"\\other", 4096);
    WindowsLikeSecurity security;
    for (int road : {0, 1, 2}) {
        bool moves = road == 0;
        SCOPED_TRACE(road == 0 ? "one volume" : road == 1 ? "folders passing nothing down" : "two volumes");
        if (road == 1) {
            ResetExtraction();
            wcscpy(m_options.m_strInstallDir, (m_root + L"\\Apps\\Velmarin 3").c_str());
            for (const std::wstring &file : test::PayloadFileTable()) {
                std::wstring folder = m_options.m_strInstallDir + file.substr(0, file.rfind(L'\\'));
                SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
                WindowsLikeSecurity::Descriptors()[WindowsLikeSecurity::Key(folder)] = L"O:BAD:P(A;;FA;;;BA)(A;;FA;;;SY)(A;;0x1200a9;;;BU)";
            }
        }
        if (road == 2) {
            if (!other.mounted)
                GTEST_SKIP() << "mounting a small file system needs root";
            ResetExtraction();
            wcscpy(m_options.m_strInstallDir, L"T:\\Velmarin 3");
        }
        m_options.m_bExtractionProtected = true;
        std::map<std::wstring, ULONGLONG> unpacked;
        for (const std::wstring &file : test::PayloadFileTable())
            unpacked[file] = FileIdentity(m_extract + file);
        WindowsLikeSecurity::AppliedTo().clear();
        EXPECT_EQ(100, Run().back());
        EXPECT_EQ(kOutcomeDone, m_options.m_nOutcome);
        const std::vector<WindowsLikeSecurity::Applied> &applied = WindowsLikeSecurity::AppliedTo();
        for (const std::wstring &file : test::PayloadFileTable()) {
            std::wstring installed = m_options.m_strInstallDir + file;
            EXPECT_EQ(test::ReadFile(test::StandInFiles() + file), test::ReadFile(installed)) << test::Utf8(file);
            EXPECT_EQ(moves, FileIdentity(installed) == unpacked[file]) << test::Utf8(file);
            EXPECT_EQ(moves ? 1 : 0, std::count_if(applied.begin(), applied.end(), [&](const WindowsLikeSecurity::Applied &a) {
                          return WindowsLikeSecurity::Key(a.path) == WindowsLikeSecurity::Key(installed) && a.sddl == L"O:BAD:AI";
                      })) << test::Utf8(file) << ": made to inherit once, where it was moved";
        }
    }
}

// A folder other users could change is protected before the first file where only what it
// inherits lets them, and it holds nothing but the browser's: top first, then each object below
// made to inherit again. Where they own or were given a part of it, where it holds more, or lies
// under a folder someone else could rename, it is refused with a message and nothing written.
TEST_F(InstallSequence, AFolderOthersCouldChangeIsProtectedFirstOrRefused)
{
    WindowsLikeSecurity security;
    const std::wstring drive = m_root + L"\\drive", install = drive + L"\\Velmarin 3", plugin = L"\\Extensions\\PlgKit\\PlgKit.dll";
    struct Planted {
        std::wstring relative;
        const wchar_t *sddl;
    };
    const std::wstring accounts = AccountsOwn();
    const wchar_t *const kJournal = L"\\VelmarinSetup.journal", *const kAsideDll = L"\\version.dll.0000.vmold";
    struct Case {
        const char *what;
        const wchar_t *own;
        std::vector<Planted> planted;
        bool held, installs;
        const wchar_t *above = nullptr;
        size_t protectionsBeforeRefusal = 0;
        const wchar_t *heldForReading = nullptr;
    } cases[] = {
        {"made on the drive", nullptr, {}, false, true},
        {"Users may modify it by an entry of its own", kUsersModify, {{L"\\Velmarin.exe", nullptr}}, false, false},
        {"Users may modify it through inheritance, foreign files in it", kUsersModifyInherited,
         {{L"\\Velmarin.exe", nullptr}, {L"\\notes.txt", nullptr}}, false, false},
        {"Users may modify it through inheritance, only the browser's files and a record in it", kUsersModifyInherited,
         {{L"\\Velmarin.exe", kUsersModifyInherited}, {plugin, kUsersModifyInherited}, {L"\\VelmarinSetup.record", nullptr}},
         false, true},
        {"full control through inheritance", kFullControlInherited, {{L"\\Velmarin.exe", nullptr}}, false, false},
        {"a browser file with a second name outside", kUsersModifyInherited, {{L"\\Velmarin.exe", nullptr}, {L"=", nullptr}},
         false, false},
        {"its Extensions another user's", nullptr, {{L"\\Velmarin.exe", nullptr}, {L"\\Extensions", kMadeByAUser}}, false, false},
        {"a plugin that grants another user", nullptr, {{plugin, kGrantsAUser}}, false, false},
        {"held open by someone", kUsersModifyInherited, {{L"\\Velmarin.exe", nullptr}}, true, false, nullptr, 1},
        {"below a folder a user made", nullptr, {}, false, false, kMadeByAUser},
        {"the account's own, with the browser's files", accounts.c_str(), {{L"\\Velmarin.exe", accounts.c_str()}}, false, false},
        {"its Extensions the account's own", nullptr, {{L"\\Velmarin.exe", nullptr}, {L"\\Extensions", accounts.c_str()}},
         false, false},
        {"a DLL of the account's beside the browser's", nullptr,
         {{L"\\Velmarin.exe", nullptr}, {L"\\Extensions\\PlgKit\\version.dll", accounts.c_str()}}, false, false},
        {"below a folder of the account's own", nullptr, {}, false, false, accounts.c_str()},
        // A journal is only what its writer says: in a folder others could write, it vouches for
        // no name, and a DLL it calls a set-aside file is still a DLL of theirs.
        {"Users may modify it through inheritance, a journal of theirs calls their DLL set aside", kUsersModifyInherited,
         {{L"\\Velmarin.exe", kUsersModifyInherited}, {kJournal, kUsersModifyInherited}, {kAsideDll, kUsersModifyInherited}},
         false, false},
        {"the account's own, a journal of its calls its DLL set aside", accounts.c_str(),
         {{L"\\Velmarin.exe", accounts.c_str()}, {kJournal, accounts.c_str()}, {kAsideDll, accounts.c_str()}}, false, false},
        // Its record and any copy go before anything is installed: one held open could outlive the
        // protection, and be trusted afterwards.
        {"Users may modify it through inheritance, its record held open by someone", kUsersModifyInherited,
         {{L"\\Velmarin.exe", kUsersModifyInherited}, {L"\\VelmarinSetup.record", nullptr}}, false, false, nullptr, 3,
         L"\\VelmarinSetup.record"},
        {"Users may modify it through inheritance, a copy of its record held open by someone", kUsersModifyInherited,
         {{L"\\Velmarin.exe", kUsersModifyInherited}, {L"\\VelmarinSetup.record.new", nullptr}}, false, false, nullptr, 3,
         L"\\VelmarinSetup.record.new"},
    };
    ASSERT_TRUE(CreateDirectoryW(drive.c_str(), nullptr));
    size_t seen = 0;
    for (const Case &c : cases) {
        WindowsLikeSecurity::AppliedTo().clear();
        WindowsLikeSecurity::Descriptors().clear();
        if (c.own)
            WindowsLikeSecurity::Descriptors()[WindowsLikeSecurity::Key(install)] = c.own;
        if (c.above)
            WindowsLikeSecurity::Descriptors()[WindowsLikeSecurity::Key(drive)] = c.above;
        if (c.own || !c.planted.empty())
            SHCreateDirectoryExW(nullptr, install.c_str(), nullptr);
        for (const Planted &p : c.planted) {
            std::wstring path = install + p.relative;
            if (p.relative == L"=") {
                // Velmarin.exe made a second name of a file of another folder.
                DeleteFileW((install + L"\\Velmarin.exe").c_str());
                test::WriteFile(drive + L"\\elsewhere.exe", "another folder's file");
                ASSERT_TRUE(CreateHardLinkW((install + L"\\Velmarin.exe").c_str(), (drive + L"\\elsewhere.exe").c_str(), nullptr));
            } else if (p.relative == L"\\Extensions") {
                CreateDirectoryW(path.c_str(), nullptr);
            } else if (p.relative == kJournal) {
                // An update stopped before its commit that replaced "version.dll".
                test::WriteFile(path, test::ForgedJournal({test::FileRecord(L"\\version.dll", true)}));
            } else {
                SHCreateDirectoryExW(nullptr, path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
                test::WriteFile(path, "an older browser's " + test::Utf8(p.relative));
            }
            if (p.sddl)
                WindowsLikeSecurity::Descriptors()[WindowsLikeSecurity::Key(path)] = p.sddl;
        }
        HANDLE held = c.held ? CreateFileW(install.c_str(), FILE_ADD_FILE | FILE_LIST_DIRECTORY,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)
                             : c.heldForReading ? CreateFileW((install + c.heldForReading).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                              nullptr, OPEN_EXISTING, 0, nullptr)
                                                : INVALID_HANDLE_VALUE;
        const std::map<std::wstring, std::string> before = test::FolderContents(install);
        ResetExtraction();
        Configure(m_options);
        wcscpy(m_options.m_strInstallDir, install.c_str());
        test::MessageBoxAnswerer answerer(L"错误", {IDOK});
        // The recorder keeps what every run before this one sent.
        std::vector<int> all = Run(), progress(all.begin() + seen, all.end());
        seen = all.size();
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        EXPECT_FALSE(test::FileExists(install + L"\\version.dll")) << c.what << ": a planted file took the name it chose";
        const std::vector<WindowsLikeSecurity::Applied> &applied = WindowsLikeSecurity::AppliedTo();
        if (c.installs) {
            EXPECT_EQ(kFullProgress, progress) << c.what;
            ASSERT_FALSE(applied.empty()) << c.what;
            EXPECT_EQ(WindowsLikeSecurity::Key(install), WindowsLikeSecurity::Key(applied[0].path)) << c.what << ": top first";
            EXPECT_EQ(c.planted.empty(), applied[0].created) << c.what;
            EXPECT_EQ(c.planted.empty(), applied[0].emptyThen) << c.what << ": protected before the first file";
            EXPECT_EQ(0u, applied[0].sddl.find(L"O:BAD:P")) << c.what << ": " << test::Utf8(applied[0].sddl);
            EXPECT_EQ(std::string::npos, test::ReadFile(install + L"\\VelmarinSetup.record").find("older browser"))
                << c.what << ": a record others could write is not merged";
            for (const Planted &p : c.planted) {
                EXPECT_EQ(1, std::count_if(applied.begin(), applied.end(), [&](const WindowsLikeSecurity::Applied &a) {
                              return WindowsLikeSecurity::Key(a.path) == WindowsLikeSecurity::Key(install + p.relative);
                          })) << c.what << ": made to inherit again: " << test::Utf8(p.relative);
            }
            for (const auto &object : test::FolderContents(install)) {
                PSECURITY_DESCRIPTOR read = WindowsLikeSecurity::Read((install + object.first).c_str());
                EXPECT_EQ(kOnlyTrustedCanChange, JudgeDescriptor(read, nullptr)) << c.what << ": " << test::Utf8(object.first);
                LocalFree(read);
            }
        } else {
            EXPECT_EQ(std::vector<int>{-1}, progress) << c.what;
            ASSERT_EQ(1u, answerer.Texts().size()) << c.what;
            EXPECT_NE(std::wstring::npos, answerer.Texts()[0].find(L"其他用户可以更改安装目录")) << c.what;
            EXPECT_EQ(before, test::FolderContents(install)) << c.what << ": nothing written";
            // Only a folder that could be protected at all was; a refusal after that is final.
            EXPECT_EQ(c.protectionsBeforeRefusal,
                      (size_t)std::count_if(applied.begin(), applied.end(), [](const WindowsLikeSecurity::Applied &a) {
                          return !a.created;
                      })) << c.what;
        }
        test::EndProcessesIn(drive);
        test::RemoveBrowserRegistration();
        test::RemoveTree(install);
        DeleteFileW((drive + L"\\elsewhere.exe").c_str());
    }
}

// A silent run's folder reached through a link that someone else made, below a folder of his:
// where it leads is no folder the setup was asked for, and another program's files there stay.
TEST_F(InstallSequence, AFolderReachedThroughAnotherUsersLinkIsRefused)
{
    WindowsLikeSecurity security;
    const std::wstring theirs = m_root + L"\\Programs", other = m_root + L"\\Program Files\\OtherApp";
    ASSERT_TRUE(CreateDirectoryW(theirs.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(other.c_str(), nullptr));
    test::WriteFile(other + L"\\UnInst.exe", "another program's uninstaller");
    WindowsLikeSecurity::Descriptors()[WindowsLikeSecurity::Key(theirs)] = kMadeByAUser;
    ASSERT_TRUE(test::MakeSymbolicLink(theirs + L"\\Velmarin 3", other));
    wcscpy(m_options.m_strInstallDir, (theirs + L"\\Velmarin 3").c_str());
    test::MessageBoxAnswerer answerer(L"错误", {IDOK});
    Run();
    EXPECT_EQ(kOutcomeFolderRefused, m_options.m_nOutcome) << "installed into " << test::Utf8(m_options.m_strInstallDir);
    EXPECT_EQ("another program's uninstaller", test::ReadFile(other + L"\\UnInst.exe"));
    EXPECT_FALSE(test::FileExists(other + L"\\Velmarin.exe"));
    test::EndProcessesIn(other);
    test::RemoveSymbolicLink(theirs + L"\\Velmarin 3");
}

// What the uninstaller trusts: an installation only administrators could have changed, every
// part of it.
TEST_F(InstallSequence, TheUninstallerTrustsOnlyWhatOnlyAdministratorsCouldChange)
{
    WindowsLikeSecurity security;
    const std::wstring accounts = AccountsOwn();
    EXPECT_EQ(kFullProgress, Run());
    EXPECT_FALSE(InstallationOthersCouldChange(m_install.c_str()));
    const struct {
        const char *what;
        std::wstring path;
        const wchar_t *sddl;
    } cases[] = {
        {"the record", m_install + L"\\VelmarinSetup.record", kUsersModify},
        {"the uninstaller", m_install + L"\\UnInst.exe", kUsersModify},
        {"the folder", m_install, kUsersModify},
        {"a folder above, made by a user", m_root, kMadeByAUser},
        {"the plugins' folder, made by a user", m_install + L"\\Extensions", kMadeByAUser},
        {"a plugin others may change through inheritance", m_install + L"\\Extensions\\PlgKit\\PlgKit.dll",
         kUsersModifyInherited},
        {"the record, made by the account's unelevated side", m_install + L"\\VelmarinSetup.record", accounts.c_str()},
        {"a folder above, the account's own", m_root, accounts.c_str()},
    };
    for (const auto &c : cases) {
        WindowsLikeSecurity::Descriptors().clear();
        WindowsLikeSecurity::Descriptors()[WindowsLikeSecurity::Key(c.path)] = c.sddl;
        EXPECT_TRUE(InstallationOthersCouldChange(m_install.c_str())) << c.what;
    }
    EXPECT_TRUE(InstallationOthersCouldChange((m_install + L" gone").c_str()));
}

// The whole channel as the wizard drives it: the worker extracts the real payload at once; an
// install posted meanwhile waits; the finish command ends the setup.
TEST(Worker, ExtractsThenInstallsThenFinishes)
{
    test::RemoveBrowserRegistration();
    std::wstring root = test::MakeTempDir(L"worker");
    test::TempPathGuard temp(root);
    CInstallOptions &options = CInstallOptions::Instance();
    std::wstring install = root + L"\\Velmarin 3";
    wcscpy(options.m_strInstallDir, install.c_str());
    wcscpy(options.m_strIniPath, (root + L"\\Velmarin.ini").c_str());
    wcscpy(options.m_strFavorites, root.c_str());
    wcscpy(options.m_strProgramGroup, (root + L"\\Group").c_str());

    EXPECT_EQ(nullptr, GetWorkerWindow());
    StartWorker();
    HWND worker = GetWorkerWindow();
    ASSERT_NE(nullptr, worker) << "the worker's window exists once StartWorker returns";
    test::MessageRecorder progress;
    // Another program's commands of these numbers, without the setup's key, start nothing.
    PostMessageW(worker, WM_SETUP_INSTALL, (WPARAM)progress.Window(), 0);
    PostMessageW(worker, WM_CLOSE, 0, 0);
    EXPECT_EQ(std::vector<int>{}, progress.Collect(300));
    EXPECT_TRUE(IsWindow(worker));
    PostSetupMessage(worker, WM_SETUP_INSTALL, (WPARAM)progress.Window());

    std::vector<int> received;
    for (int i = 0; i < 600 && (received.empty() || received.back() != 100); ++i)
        received = progress.Collect(50);
    EXPECT_EQ(kFullProgress, received);
    std::wstring extracted = options.m_strTempRoot;  // the browser's runs and the clean-up follow the full bar
    for (const std::wstring &file : test::PayloadFileTable())
        EXPECT_TRUE(test::FileExists(install + file)) << test::Utf8(file);

    PostSetupMessage(worker, WM_SETUP_FINISH, 0);
    received = progress.WaitForEnd(30000);
    EXPECT_EQ(-1, received.back());
    EXPECT_FALSE(extracted.empty() || test::DirExists(extracted));

    HANDLE stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    PostSetupMessage(worker, WM_SETUP_STOP, (WPARAM)stopped);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(stopped, 5000));
    CloseHandle(stopped);
    EXPECT_FALSE(IsWindow(worker));

    test::EndProcessesIn(root);
    test::RemoveBrowserRegistration();
    test::RemoveTree(root);
}

}
