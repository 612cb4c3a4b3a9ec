// The uninstaller end to end: installations made by the real setup, then UnInst.exe started as
// the uninstall entry says, driven with real clicks; the prefix's files and registry compared
// with how they were before the installation.
#include <gtest/gtest.h>
#include "e2e/Screenshot.h"
#include "e2e/SetupProcess.h"
#include "e2e/WizardDriver.h"
#include "engine/record/InstallRecord.h"
#include "engine/Product.h"
#include "support/TestSupport.h"
#include "resource.h"
#include <shlobj.h>
#include <shlwapi.h>
#include <atomic>
#include <functional>
#include <thread>
#include <map>

namespace {

const wchar_t kUninstallTitle[] = L"岚舟浏览器 3.2 正式版 卸载";
const wchar_t kRefusalCaption[] = L"岚舟浏览器卸载程序";

typedef std::map<std::wstring, std::string> Snapshot;

// Every file below `folder` with its size and time, but for the temporary folders.
void AddFiles(const std::wstring &folder, Snapshot &snapshot)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        std::wstring name = found.cFileName, path = folder + L"\\" + name;
        // Templates leads out of the prefix, into the home folder where Wine mirrors shortcuts.
        if (name == L"." || name == L".." || !_wcsicmp(name.c_str(), L"Temp") || !_wcsicmp(name.c_str(), L"Templates"))
            continue;
        bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (folder)
            AddFiles(path, snapshot);
        snapshot[path] = folder ? "folder" : std::to_string(found.nFileSizeLow) + "/" +
                                                 std::to_string(found.ftLastWriteTime.dwLowDateTime);
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
}

// Every key and value below a registry key, with its data.
void AddKeys(HKEY root, const std::wstring &key, Snapshot &snapshot)
{
    HKEY opened;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return;
    snapshot[key] = "key";
    wchar_t name[1024];
    BYTE data[4096];
    for (DWORD i = 0;; ++i) {
        DWORD nameChars = 1024, type = 0, size = sizeof(data);
        if (RegEnumValueW(opened, i, name, &nameChars, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        snapshot[key + L"|" + name] = std::to_string(type) + ":" + std::string((char *)data, size);
    }
    for (DWORD i = 0;; ++i) {
        DWORD nameChars = 1024;
        if (RegEnumKeyExW(opened, i, name, &nameChars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        AddKeys(root, key + L"\\" + name, snapshot);
    }
    RegCloseKey(opened);
}

// Wine's own bookkeeping (its menu files, its session's settings) is not the system's.
bool IsWineBookkeeping(const std::wstring &name)
{
    return name.compare(0, 13, L"Software\\Wine") == 0;
}

Snapshot PrefixState()
{
    Snapshot state;
    // The places an installation writes to, each whole (the profile's other folders lead out of
    // the prefix in Wine).
    for (int csidl : {CSIDL_PROGRAM_FILES, CSIDL_COMMON_APPDATA, CSIDL_APPDATA, CSIDL_FAVORITES,
                      CSIDL_COMMON_DESKTOPDIRECTORY})
        AddFiles(test::SpecialFolder(csidl), state);
    AddKeys(HKEY_LOCAL_MACHINE, L"Software", state);
    AddKeys(HKEY_CURRENT_USER, L"Software", state);
    return state;
}

// What differs between two states, a line each.
std::string Differences(const Snapshot &before, const Snapshot &after)
{
    std::string lines;
    for (const auto &item : after) {
        if (IsWineBookkeeping(item.first))
            continue;
        auto old = before.find(item.first);
        if (old == before.end())
            lines += "added " + test::Utf8(item.first) + "\n";
        else if (old->second != item.second && item.second != "key")
            lines += "changed " + test::Utf8(item.first) + "\n";
    }
    for (const auto &item : before) {
        if (!after.count(item.first) && !IsWineBookkeeping(item.first))
            lines += "removed " + test::Utf8(item.first) + "\n";
    }
    return lines;
}

class Uninstall : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_folder = test::DefaultInstallFolder();
        test::RemoveInstallation(m_folder);
        m_dataDir = test::SpecialFolder(CSIDL_APPDATA) + L"\\Velmarin";
        test::RemoveTree(m_dataDir);
    }
    void TearDown() override { test::RemoveInstallation(m_folder); }

    void QuickInstall()
    {
        test::SetupProcess setup;
        HWND finish = test::QuickInstallToFinish(setup, true, false);
        ASSERT_NE(nullptr, finish);
        test::Click(GetDlgItem(finish, IDC_FINISH_CLOSE));
        EXPECT_EQ(0xFFFFFFFFu, setup.WaitForExit(test::kEndAfterFinishMs));
        // The stand-in browser's own logs of its starts are not the setup's to remove.
        DeleteFileW((m_folder + L"\\velmarin-starts.log").c_str());
        DeleteFileW((m_folder + L"\\velmarin-parents.log").c_str());
    }

    // Runs the uninstall entry's command; returns its process (the caller closes it).
    HANDLE StartUninstaller(DWORD *processId = nullptr)
    {
        std::wstring command = test::ReadRegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString");
        EXPECT_FALSE(command.empty());
        HANDLE process = test::StartProcess(command, processId);
        test::ExpectThirtyTwoBitOnWin64(process);
        return process;
    }

    // An older browser planted in `folder`: the upgrade page installs there.
    void InstallOverPlantedBrowser(const std::wstring &folder)
    {
        ASSERT_TRUE(CopyFileW(test::PlantedBrowser(L"older").c_str(), (folder + L"\\Velmarin.exe").c_str(), FALSE));
        test::PlantInstalledBrowser(folder + L"\\Velmarin.exe");
        test::SetupProcess setup;
        HWND upgrade = setup.PageWithControl(IDC_UPGRADE_DEFAULT);
        ASSERT_NE(nullptr, upgrade);
        Sleep(300);
        test::Click(GetDlgItem(upgrade, IDC_UPGRADE_INSTALL));
        HWND finish = setup.PageWithControl(IDC_FINISH_RUN, 60000);
        ASSERT_NE(nullptr, finish);
        test::Click(GetDlgItem(finish, IDC_FINISH_CLOSE));
        setup.WaitForExit(test::kEndAfterFinishMs);
    }

    // Answers the question page, ticking the data box as asked, and closes the last page;
    // `whileAsking` runs while the question page waits.
    void RunUninstaller(bool removeData, const wchar_t *picturePrefix = nullptr, int browserAnswer = 0,
                        const std::function<void()> &whileAsking = nullptr)
    {
        CloseHandle(StartUninstaller());
        HWND page = test::WaitForWindow(kUninstallTitle, 20000);
        ASSERT_NE(nullptr, page);
        DWORD process = 0;
        GetWindowThreadProcessId(page, &process);
        Sleep(300);
        if (removeData)
            test::Click(GetDlgItem(page, IDC_UNINSTALL_DATA));
        if (picturePrefix) {
            EXPECT_TRUE(test::SaveWindowScreenshot(page, std::wstring(picturePrefix) + L"question"));
        }
        if (whileAsking)
            whileAsking();
        test::MessageBoxAnswerer browser(L"岚舟浏览器正在运行中", {browserAnswer ? browserAnswer : IDOK}, process);
        test::Click(GetDlgItem(page, IDC_UNINSTALL_START));
        HWND close = GetDlgItem(page, IDC_UNINSTALL_CLOSE);
        for (int i = 0; i < 300 && !IsWindowVisible(close); ++i)
            Sleep(100);
        ASSERT_TRUE(IsWindowVisible(close)) << "the closing page came";
        EXPECT_EQ(browserAnswer ? 1 : 0, browser.Answered());
        if (picturePrefix) {
            Sleep(300);
            EXPECT_TRUE(test::SaveWindowScreenshot(page, std::wstring(picturePrefix) + L"done"));
        }
        wchar_t text[400] = {};
        GetWindowTextW(GetDlgItem(page, IDC_UNINSTALL_TEXT), text, 400);
        m_closingText = text;
        test::Click(close);
        for (int i = 0; i < 100 && test::ProcessIdOf(L"UnInst.exe"); ++i)
            Sleep(100);
        EXPECT_EQ(0u, test::ProcessIdOf(L"UnInst.exe"));
    }

    std::wstring m_folder, m_dataDir, m_closingText;
};

// Whether a rename or deletion waiting for the next restart names a path in `folder`.
bool PendingAtRestart(std::wstring folder)
{
    wchar_t value[16384] = {};
    DWORD size = sizeof(value) - 2 * sizeof(wchar_t);
    SHGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                L"PendingFileRenameOperations", nullptr, value, &size);
    std::wstring text(value, size / sizeof(wchar_t));
    CharLowerBuffW(&text[0], (DWORD)text.size());
    CharLowerW(&folder[0]);
    return text.find(folder) != std::wstring::npos;
}

TEST_F(Uninstall, AnInstallationUpdatedTwiceGoesWithoutATrace)
{
    Snapshot before = PrefixState();
    for (int run = 0; run < 3; ++run)
        QuickInstall();
    ASSERT_TRUE(test::FileExists(m_folder + L"\\VelmarinSetup.record"));
    RunUninstaller(false, L"uninstall-");
    EXPECT_FALSE(test::DirExists(m_folder));
    EXPECT_EQ("", Differences(before, PrefixState()));
}

// A deployment tool updates an older browser and removes it again, with nobody at the screen:
// nothing shows at any moment, each run ends with its code and logs its steps, and the prefix is
// as it was. While another program holds the uninstaller or the record open without delete
// sharing, a removal is not done: the entry and the record stay for the run that ends it.
TEST_F(Uninstall, SilentUpdateAndRemovalShowNothingAndLeaveNoTrace)
{
    Snapshot before = PrefixState();
    std::wstring logs = test::MakeTempDir(L"logs"), log = logs + L"\\部署 日志.txt";
    ASSERT_TRUE(CreateDirectoryW(m_folder.c_str(), nullptr));
    std::string older = test::ReadFile(test::PlantedBrowser(L"older"));
    test::WriteFile(m_folder + L"\\Velmarin.exe", older);
    test::PlantInstalledBrowser(m_folder + L"\\Velmarin.exe");
    SHCreateDirectoryExW(nullptr, (m_dataDir + L"\\User Data").c_str(), nullptr);
    test::WriteFile(m_dataDir + L"\\User Data\\History", "visited");
    test::WindowWatch watch({L"VelmarinSetup.exe", L"UnInst.exe", L"UnInstData.exe"});

    // Given by its 8.3 names, the folder is recorded and registered by its long ones.
    wchar_t shortFolder[MAX_PATH] = {};
    ASSERT_NE(0u, GetShortPathNameW(m_folder.c_str(), shortFolder, MAX_PATH));
    ASSERT_NE(m_folder, shortFolder);
    // As a package runs it: none of the running account's own parts now, but at its next logon.
    EXPECT_EQ(0u, test::RunToEnd(L"\"" + test::SetupExe() + L"\" /S /UserParts=0 \"/Log=" + log + L"\" /D=" + shortFolder));
    EXPECT_NE(older, test::ReadFile(m_folder + L"\\Velmarin.exe")) << "updated";
    const std::wstring linkBar = test::SpecialFolder(CSIDL_FAVORITES) + L"\\LinkBar",
                       quickLaunch = test::SpecialFolder(CSIDL_APPDATA) + L"\\Microsoft\\Internet Explorer\\Quick Launch\\岚舟 3.lnk";
    EXPECT_FALSE(test::DirExists(linkBar));
    // The logon's program, run as Windows runs it for each user, makes them.
    std::wstring stub = test::ReadRegString(HKEY_LOCAL_MACHINE, kActiveSetupKey, L"StubPath");
    ASSERT_EQ(0u, stub.find(L"\"" + m_folder + L"\\VelmarinUser.exe\"")) << test::Utf8(stub);
    EXPECT_EQ(0u, test::RunToEnd(stub));
    EXPECT_EQ(3u, test::FolderContents(linkBar).size());
    EXPECT_EQ(m_folder + L"\\Velmarin.exe", test::ReadLink(quickLaunch).target);
    for (const std::wstring &file : test::PayloadFileTable())
        EXPECT_TRUE(test::FileExists(m_folder + file)) << test::Utf8(file);
    std::wstring quiet = test::ReadRegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"QuietUninstallString");
    EXPECT_EQ(L"\"" + m_folder + L"\\UnInst.exe\" /S", quiet);
    DeleteFileW((m_folder + L"\\velmarin-starts.log").c_str());
    DeleteFileW((m_folder + L"\\velmarin-parents.log").c_str());

    EXPECT_EQ(110u, test::RunToEnd(quiet + L" /Log=NUL")) << "a device is no log";
    for (const wchar_t *held : {L"\\UnInst.exe", L"\\VelmarinSetup.record"}) {
        HANDLE holder = CreateFileW((m_folder + held).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, holder);
        EXPECT_EQ(1920u, test::RunToEnd(quiet + L" \"/Log=" + log + L"\"")) << test::Utf8(held);
        for (int i = 0; i < 100 && test::ProcessIdOf(L"UnInst.exe"); ++i)
            Sleep(100);
        CloseHandle(holder);
        EXPECT_TRUE(test::RegKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey)) << test::Utf8(held);
        EXPECT_TRUE(test::FileExists(m_folder + L"\\VelmarinSetup.record")) << test::Utf8(held);
        EXPECT_TRUE(test::FileExists(m_folder + L"\\UnInst.exe")) << test::Utf8(held);
    }
    EXPECT_EQ(0u, test::RunToEnd(quiet + L" /RemoveData=1 \"/Log=" + log + L"\""));
    for (int i = 0; i < 100 && test::ProcessIdOf(L"UnInst.exe"); ++i)
        Sleep(100);
    EXPECT_EQ("", watch.Seen()) << "nothing showed";
    EXPECT_FALSE(test::DirExists(m_dataDir));
    // The component goes; the parts each user's logon made stay that user's.
    EXPECT_FALSE(test::RegKeyExists(HKEY_LOCAL_MACHINE, kActiveSetupKey));
    EXPECT_TRUE(test::FileExists(quickLaunch));
    test::RemoveTree(linkBar);
    DeleteFileW(quickLaunch.c_str());
    // The older browser's folder and its own key stay, emptied: the setup found them and did not
    // make them.
    EXPECT_TRUE(test::FolderContents(m_folder).empty());
    EXPECT_EQ("added " + test::Utf8(m_folder) + "\nadded Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Velmarin.exe\n",
              Differences(before, PrefixState()));
    test::RemoveBrowserRegistration();

    std::string text = test::ReadFile(log);
    for (const char *step : {"安装目录：", "与清单一致", "已复制", "已在系统中注册", "已创建快捷方式", "已写入安装记录",
                             "退出代码 0：完成", "已删除浏览数据"})
        EXPECT_NE(std::string::npos, text.find(step)) << step << "\n" << text;
    std::string last = text.substr(text.rfind('\n', text.size() - 2) + 1);
    EXPECT_NE(std::string::npos, last.find("退出代码 0：完成")) << "the removal's code ends the log: " << last;
    test::RemoveTree(logs);
}

TEST_F(Uninstall, KeepsWhatIsNotTheSetupsAndTheDataUnlessAsked)
{
    QuickInstall();
    test::WriteFile(m_folder + L"\\notes.txt", "mine");
    test::WriteFile(m_folder + L"\\WebApp.exe", "replaced by the user");
    const wchar_t changed[] = L"D:\\Another Browser";
    SHSetValueW(HKEY_LOCAL_MACHINE, kAppPathKey, L"Path", REG_SZ, changed, sizeof(changed));
    SHCreateDirectoryExW(nullptr, (m_dataDir + L"\\User Data").c_str(), nullptr);
    test::WriteFile(m_dataDir + L"\\Velmarin.ini", "[option]\r\nHome=1\r\n");
    test::WriteFile(m_dataDir + L"\\User Data\\History", "visited");
    // A plugin folder turned into a link to another program's copy of the same file: the copy
    // is never reached through it.
    std::wstring elsewhere = test::MakeTempDir(L"linked");
    std::wstring plugin = m_folder + L"\\Extensions\\PlgKit";
    CopyFileW((plugin + L"\\PlgKit.dll").c_str(), (elsewhere + L"\\PlgKit.dll").c_str(), FALSE);
    test::RemoveTree(plugin);
    ASSERT_TRUE(test::MakeSymbolicLink(plugin, elsewhere));

    // A plugin held open without delete sharing, as a helper that would not end holds it: it
    // stays, is named, and nothing waits for a restart; the way back stays with it.
    const std::wstring held = m_folder + L"\\Extensions\\PlgStrip\\PlgStrip.dll";
    HANDLE holder = CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);

    RunUninstaller(false);
    EXPECT_TRUE(test::FileExists(elsewhere + L"\\PlgKit.dll"));
    test::RemoveSymbolicLink(plugin);
    test::RemoveTree(elsewhere);
    EXPECT_NE(std::wstring::npos, m_closingText.find(L"PlgStrip.dll")) << test::Utf8(m_closingText);
    EXPECT_TRUE(test::FileExists(held));
    EXPECT_FALSE(PendingAtRestart(m_folder));
    EXPECT_TRUE(test::FileExists(m_folder + L"\\UnInst.exe"));
    EXPECT_TRUE(test::FileExists(m_folder + L"\\VelmarinSetup.record"));
    EXPECT_TRUE(test::RegKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_FALSE(test::FileExists(m_folder + L"\\Velmarin.exe"));
    // Once the plugin is closed, the uninstaller run again takes the rest.
    CloseHandle(holder);
    RunUninstaller(false);
    EXPECT_EQ(std::wstring::npos, m_closingText.find(L"PlgStrip.dll")) << test::Utf8(m_closingText);
    EXPECT_TRUE(test::FileExists(m_folder + L"\\notes.txt"));
    EXPECT_TRUE(test::FileExists(m_folder + L"\\WebApp.exe")) << "changed since the installation";
    EXPECT_FALSE(test::DirExists(m_folder + L"\\Extensions\\PlgStrip"));
    EXPECT_TRUE(test::FileExists(m_dataDir + L"\\User Data\\History")) << "the box was not ticked";
    EXPECT_FALSE(test::RegKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_EQ(changed, test::ReadRegString(HKEY_LOCAL_MACHINE, kAppPathKey, L"Path")) << "changed by another program";
    EXPECT_EQ(L"", test::ReadRegString(HKEY_LOCAL_MACHINE, kAppPathKey, L""));

    // Installed again, with the browser running: it is ended, and the ticked box takes the data,
    // in a helper that the desktop shell starts with the user's own rights. Wine runs every
    // process elevated, so the shell as its parent shows the route. A link in the data folder is
    // never followed.
    QuickInstall();
    HANDLE browser = test::StartProcess(L"\"" + m_folder + L"\\Velmarin.exe\" /stay");
    std::wstring decoy = test::MakeTempDir(L"decoy");
    test::WriteFile(decoy + L"\\Bookmarks", "another program's");
    ASSERT_TRUE(test::MakeSymbolicLink(m_dataDir + L"\\Linked", decoy));
    Sleep(500);
    std::atomic<bool> watching{true};
    std::atomic<DWORD> helperParent{0};
    std::thread watcher([&] {
        for (DWORD parent = 0; watching; Sleep(2)) {
            if (test::ProcessIdOf(L"UnInstData.exe", &parent))
                helperParent = parent;
        }
    });
    RunUninstaller(true, nullptr, IDOK);
    watching = false;
    watcher.join();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(browser, 5000)) << "the browser was ended";
    CloseHandle(browser);
    EXPECT_EQ(test::ProcessIdOf(L"explorer.exe"), helperParent.load()) << "started by the desktop shell";
    // Wine cannot delete a Unix link to a folder, so the link itself may stay here.
    EXPECT_FALSE(test::DirExists(m_dataDir + L"\\User Data"));
    EXPECT_FALSE(test::FileExists(m_dataDir + L"\\Velmarin.ini"));
    EXPECT_TRUE(test::FileExists(decoy + L"\\Bookmarks"));
    test::RemoveTree(m_dataDir);
    test::RemoveTree(decoy);
    EXPECT_TRUE(test::FileExists(m_folder + L"\\notes.txt"));
}

TEST_F(Uninstall, WithoutATrustworthyRecordNothingIsDeleted)
{
    QuickInstall();
    std::wstring record = m_folder + L"\\VelmarinSetup.record";
    std::string good = test::ReadFile(record);
    std::string damaged = good.substr(0, good.size() / 2);
    // A record that names a file of Windows, with a correct end line.
    CInstallRecord windows;
    windows.SetFolder(m_folder.c_str(), true);
    BYTE sha[32] = {};
    windows.AddFile(L"\\..\\..\\windows\\win.ini", 0, sha);
    DWORD length = 0;
    char *text = windows.Serialize(length);
    std::string naming(text, length);
    free(text);
    for (const std::string &contents : {std::string(), damaged, naming}) {
        if (contents.empty())
            DeleteFileW(record.c_str());
        else
            test::WriteFile(record, contents);
        DWORD id = 0;
        HANDLE uninstaller = StartUninstaller(&id);
        test::MessageBoxAnswerer refusal(kRefusalCaption, {IDOK}, id);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(uninstaller, 20000));
        DWORD exitCode = 0;
        GetExitCodeProcess(uninstaller, &exitCode);
        CloseHandle(uninstaller);
        EXPECT_EQ(2u, exitCode);
        EXPECT_EQ(1, refusal.Answered());
        for (const std::wstring &file : test::PayloadFileTable())
            EXPECT_TRUE(test::FileExists(m_folder + file)) << test::Utf8(file);
        EXPECT_TRUE(test::RegKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    }
    EXPECT_TRUE(test::FileExists(L"C:\\windows\\win.ini"));

    // The uninstaller's copy started with handles that are not its starter's own (numbers it was
    // never given, an event, this very process, a pipe that is no pipe): it changes nothing.
    test::WriteFile(record, good);
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    HANDLE event = CreateEventW(&inheritable, TRUE, FALSE, nullptr);
    HANDLE file = CreateFileW((m_folder + L"\\UnInst.exe").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              &inheritable, OPEN_EXISTING, 0, nullptr);
    const std::wstring handed[][2] = {{L"1234", L"5678"},
                                      {std::to_wstring((ULONG_PTR)event), L"0"},
                                      {L"4294967295", L"0"},
                                      {L"0", L"0"},
                                      {std::to_wstring((ULONG_PTR)event), std::to_wstring((ULONG_PTR)file)},
                                      {L"12abc", L"0"}};
    for (const auto &handles : handed) {
        std::wstring line = L"\"" + m_folder + L"\\UnInst.exe\" /removing \"" + m_folder + L"\" " + handles[0] + L" " +
                            handles[1] + L" /S";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION copy = {};
        ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &copy));
        CloseHandle(copy.hThread);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(copy.hProcess, 20000));
        DWORD exitCode = 0;
        GetExitCodeProcess(copy.hProcess, &exitCode);
        CloseHandle(copy.hProcess);
        EXPECT_EQ(87u, exitCode) << test::Utf8(handles[0]) << " " << test::Utf8(handles[1]);
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event, 0)) << "the event was not touched";
    }
    CloseHandle(event);
    CloseHandle(file);
    for (const std::wstring &name : test::PayloadFileTable())
        EXPECT_TRUE(test::FileExists(m_folder + name)) << test::Utf8(name);
    EXPECT_TRUE(test::RegKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
}

// An installation into a folder that was there before: the removal leaves the folder.
TEST_F(Uninstall, AFolderThatWasThereBeforeStays)
{
    const std::wstring folder = L"C:\\先前的文件夹\\Velmarin";
    ASSERT_TRUE(SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr) == ERROR_SUCCESS);
    InstallOverPlantedBrowser(folder);
    ASSERT_TRUE(test::FileExists(folder + L"\\VelmarinSetup.record"));
    // The stand-in browser's own logs of its starts would keep the folder anyway.
    DeleteFileW((folder + L"\\velmarin-starts.log").c_str());
    DeleteFileW((folder + L"\\velmarin-parents.log").c_str());
    RunUninstaller(false);
    EXPECT_FALSE(test::FileExists(folder + L"\\Velmarin.exe"));
    EXPECT_TRUE(test::FolderContents(folder).empty());
    EXPECT_TRUE(test::DirExists(folder));
    test::RemoveInstallation(folder);
    RemoveDirectoryW(folder.c_str());
    RemoveDirectoryW(L"C:\\先前的文件夹");
}

TEST_F(Uninstall, ADriveRootKeepsEverythingElseOnIt)
{
    std::wstring root = test::MakeTempDir(L"drive");
    ASSERT_TRUE(test::MapDrive(L'T', root));
    test::WriteFile(root + L"\\other.txt", "another program's");
    CreateDirectoryW((root + L"\\Extensions").c_str(), nullptr);
    test::WriteFile(root + L"\\Extensions\\Other.dll", "another program's");
    InstallOverPlantedBrowser(L"T:");
    ASSERT_TRUE(test::FileExists(L"T:\\VelmarinSetup.record"));
    RunUninstaller(false);
    EXPECT_TRUE(test::FileExists(root + L"\\other.txt"));
    EXPECT_TRUE(test::FileExists(root + L"\\Extensions\\Other.dll"));
    EXPECT_FALSE(test::FileExists(root + L"\\Velmarin.exe"));
    EXPECT_FALSE(test::DirExists(root + L"\\Extensions\\PlgKit"));
    EXPECT_FALSE(test::FileExists(root + L"\\VelmarinSetup.record"));
    test::UnmapDrive(L'T');
    test::RemoveTree(root);
}

// While the question page waits, a folder above the install folder becomes a link to a decoy
// that holds copies of the installed files and a record, and the favourites folder one to a
// decoy with an empty LinkBar folder of its own: nothing is deleted through either, and the
// closing page says the files stayed.
TEST_F(Uninstall, AFolderAboveSwappedForALinkLeadsNowhere)
{
    std::wstring root = test::MakeTempDir(L"swap drive");
    ASSERT_TRUE(test::MapDrive(L'T', root));
    ASSERT_TRUE(CreateDirectoryW(L"T:\\Apps", nullptr));
    ASSERT_TRUE(CreateDirectoryW(L"T:\\Apps\\Velmarin", nullptr));
    InstallOverPlantedBrowser(L"T:\\Apps\\Velmarin");
    ASSERT_TRUE(test::FileExists(L"T:\\Apps\\Velmarin\\VelmarinSetup.record"));
    std::wstring decoy = test::MakeTempDir(L"decoy"), favouritesDecoy = test::MakeTempDir(L"favourites decoy");
    std::vector<std::wstring> files = test::PayloadFileTable();
    files.push_back(L"\\VelmarinSetup.record");
    const std::wstring favourites = test::SpecialFolder(CSIDL_FAVORITES), linkBar = favourites + L"\\LinkBar";
    std::vector<std::wstring> shortcuts;  // "\\name.url"
    for (const auto &file : test::FolderContents(linkBar))
        shortcuts.push_back(file.first);
    ASSERT_EQ(3u, shortcuts.size());
    ASSERT_TRUE(CreateDirectoryW((favouritesDecoy + L"\\LinkBar").c_str(), nullptr));
    RunUninstaller(false, nullptr, 0, [&] {
        ASSERT_TRUE(MoveFileW(favourites.c_str(), (favourites + L".real").c_str()));
        ASSERT_TRUE(test::MakeSymbolicLink(favourites, favouritesDecoy));
        ASSERT_TRUE(MoveFileW(L"T:\\Apps", L"T:\\Apps.real"));
        for (const std::wstring &file : files) {
            std::wstring copy = decoy + L"\\Velmarin" + file;
            SHCreateDirectoryExW(nullptr, copy.substr(0, copy.rfind(L'\\')).c_str(), nullptr);
            ASSERT_TRUE(CopyFileW((L"T:\\Apps.real\\Velmarin" + file).c_str(), copy.c_str(), FALSE)) << test::Utf8(file);
        }
        ASSERT_TRUE(test::MakeSymbolicLink(L"T:\\Apps", decoy));
    });
    for (const std::wstring &file : files) {
        EXPECT_TRUE(test::FileExists(decoy + L"\\Velmarin" + file)) << test::Utf8(file);
        EXPECT_TRUE(test::FileExists(L"T:\\Apps.real\\Velmarin" + file)) << test::Utf8(file);
    }
    EXPECT_TRUE(test::DirExists(favouritesDecoy + L"\\LinkBar")) << "an empty LinkBar the link led to stays";
    for (const std::wstring &name : shortcuts)
        EXPECT_TRUE(test::FileExists(favourites + L".real\\LinkBar" + name)) << test::Utf8(name);
    EXPECT_NE(std::wstring::npos, m_closingText.find(L"没有删除")) << test::Utf8(m_closingText);
    test::RemoveSymbolicLink(favourites);
    ASSERT_TRUE(MoveFileW((favourites + L".real").c_str(), favourites.c_str()));
    test::RemoveTree(linkBar);
    test::RemoveTree(favouritesDecoy);
    test::RemoveSymbolicLink(L"T:\\Apps");
    test::RemoveInstallation(L"T:\\Apps.real\\Velmarin");
    test::UnmapDrive(L'T');
    test::RemoveTree(decoy);
    test::RemoveTree(root);
}

}
