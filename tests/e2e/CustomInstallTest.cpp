// The custom installation page end to end: the real setup under Xvfb, driven with real mouse
// and keyboard input.
#include <gtest/gtest.h>
#include "engine/folder/InstallFolder.h"
#include "e2e/Screenshot.h"
#include "e2e/SetupProcess.h"
#include "e2e/WizardDriver.h"
#include "app/InstallOptions.h"
#include "engine/Product.h"
#include "support/TestSupport.h"
#include "resource.h"
#include <shlobj.h>
#include <algorithm>

namespace {

using test::Click;
using test::PressKey;
using test::SetupProcess;
using test::TypeAscii;

const DWORD kExitMinusOne = 0xFFFFFFFF;
const wchar_t kBadFolderCaption[] = L"安装错误提示";

class CustomInstall : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::RemoveInstallation(test::DefaultInstallFolder());
        // As on Windows XP and 7, where the quick-launch shortcut goes.
        SHCreateDirectoryExW(nullptr, (test::SpecialFolder(CSIDL_APPDATA) + L"\\Microsoft\\Internet Explorer\\Quick Launch").c_str(),
                             nullptr);
    }
    void TearDown() override
    {
        test::RemoveInstallation(test::DefaultInstallFolder());
        for (const std::wstring &folder : m_cleanUp)
            test::RemoveInstallation(folder);
    }

    // From the welcome page to the custom page; checks the hand-over.
    HWND OpenCustomPage(SetupProcess &setup)
    {
        HWND welcome = setup.PageWithControl(IDC_WELCOME_CUSTOM);
        EXPECT_NE(nullptr, welcome);
        if (!welcome)
            return nullptr;
        Sleep(300);
        RECT before;
        GetWindowRect(welcome, &before);
        Click(GetDlgItem(welcome, IDC_WELCOME_CUSTOM));
        HWND custom = setup.PageWithControl(IDC_CUSTOM_FOLDER, 5000);
        EXPECT_NE(nullptr, custom);
        if (!custom)
            return nullptr;
        EXPECT_TRUE(test::WaitHidden(welcome, 2000));
        RECT after;
        GetWindowRect(custom, &after);
        EXPECT_TRUE(EqualRect(&before, &after)) << "shown at the welcome page's rectangle";
        return custom;
    }

    HWND Item(HWND page, int id) { return GetDlgItem(page, id); }
    std::wstring FolderText(HWND page) { return test::TextOf(Item(page, IDC_CUSTOM_FOLDER)); }

    // Replaces the folder text by typing it key by key.
    void TypeFolder(HWND page, const std::wstring &text)
    {
        test::FocusByClick(Item(page, IDC_CUSTOM_FOLDER));
        test::ClearFocusedEdit();
        TypeAscii(text);
        Sleep(200);
    }

    // Presses "开始安装" expecting a refusal: one box with this caption and text, then the page
    // as it was.
    void ExpectStartRefused(SetupProcess &setup, HWND page, const wchar_t *caption, const wchar_t *text)
    {
        test::MessageBoxAnswerer answerer(caption, {IDOK}, setup.Id());
        Click(Item(page, IDC_CUSTOM_START));
        for (int i = 0; i < 100 && answerer.Answered() == 0; ++i)
            Sleep(50);
        Sleep(300);
        ASSERT_EQ(1, answerer.Answered()) << test::Utf8(FolderText(page));
        EXPECT_EQ(text, answerer.Texts()[0]);
        Sleep(300);
        std::vector<HWND> shown;
        for (HWND window : test::WindowsOf(setup.Id(), test::kSetupTitle))
            if (IsWindowVisible(window))
                shown.push_back(window);
        EXPECT_EQ(std::vector<HWND>{page}, shown) << "no progress page";
    }

    // Finishes with "关 闭" and waits for the setup to end.
    void CloseFinishPage(SetupProcess &setup)
    {
        HWND finish = setup.PageWithControl(IDC_FINISH_CLOSE, 60000);
        ASSERT_NE(nullptr, finish);
        Sleep(300);
        Click(Item(finish, IDC_FINISH_CLOSE));
        EXPECT_EQ(kExitMinusOne, setup.WaitForExit(test::kEndAfterFinishMs));
    }

    std::vector<std::wstring> m_cleanUp;
};

// An empty read-only file system at `at` while it lives, or /proc where the tests may not mount.
struct ReadOnlyFolder {
    std::wstring at;
    bool mounted;
    std::wstring path;
    explicit ReadOnlyFolder(const std::wstring &folder)
        : at(folder), mounted(test::MountReadOnlyFolder(folder)), path(mounted ? folder : L"Z:\\proc")
    {
    }
    ~ReadOnlyFolder()
    {
        if (mounted)
            test::UnmountFolder(at);
        RemoveDirectoryW(at.c_str());
    }
};

const wchar_t kNoDrive[] = L"您选择的磁盘不存在！";
const wchar_t kUnwritable[] = L"您的安装目录无法写入，不能继续安装。请选择其它目录再安装。";

TEST_F(CustomInstall, FolderChecksAndTheWayBack)
{
    SetupProcess setup;
    HWND custom = OpenCustomPage(setup);
    ASSERT_NE(nullptr, custom);
    EXPECT_TRUE(test::SaveWindowScreenshot(custom, L"custom"));
    EXPECT_EQ(test::DefaultInstallFolder(), FolderText(custom));
    HWND diskSpace = Item(custom, IDC_CUSTOM_DISK_SPACE);
    EXPECT_EQ(0u, test::TextOf(diskSpace).find(L"所需磁盘空间：3MB （可用磁盘空间: ")) << test::Utf8(test::TextOf(diskSpace));
    for (int id : {IDC_CUSTOM_DESKTOP, IDC_CUSTOM_QUICK_LAUNCH, IDC_CUSTOM_DEFAULT})
        EXPECT_TRUE(test::IsChecked(Item(custom, id))) << id;
    EXPECT_EQ(L"添加到系统任务栏", test::TextOf(Item(custom, IDC_CUSTOM_QUICK_LAUNCH))) << "Wine reports Windows 7";

    // The line follows the text only once it has a drive root.
    SendMessageW(diskSpace, WM_SETTEXT, 0, (LPARAM)L"marker");
    TypeFolder(custom, L"C");
    EXPECT_EQ(L"marker", test::TextOf(diskSpace));
    TypeAscii(L":");
    Sleep(200);
    EXPECT_EQ(L"marker", test::TextOf(diskSpace));
    TypeAscii(L"\\");
    Sleep(200);
    EXPECT_EQ(0u, test::TextOf(diskSpace).find(L"所需磁盘空间")) << "computed at the backslash";
    TypeAscii(L"VmKept");

    // The user's text and ticks survive the way back.
    Click(Item(custom, IDC_CUSTOM_DESKTOP));
    EXPECT_FALSE(test::IsChecked(Item(custom, IDC_CUSTOM_DESKTOP)));
    Click(Item(custom, IDC_CUSTOM_BACK));
    HWND welcome = setup.PageWithControl(IDC_WELCOME_CUSTOM, 5000);
    ASSERT_NE(nullptr, welcome);
    EXPECT_TRUE(test::WaitHidden(custom, 2000));
    Click(Item(welcome, IDC_WELCOME_CUSTOM));
    ASSERT_EQ(custom, setup.PageWithControl(IDC_CUSTOM_FOLDER, 5000));
    EXPECT_EQ(L"C:\\VmKept", FolderText(custom));
    EXPECT_FALSE(test::IsChecked(Item(custom, IDC_CUSTOM_DESKTOP)));
    EXPECT_TRUE(test::IsChecked(Item(custom, IDC_CUSTOM_QUICK_LAUNCH)));

    {
        // A drive that does not exist: one box, and the last good text back.
        test::MessageBoxAnswerer answerer(test::kSetupTitle, {IDOK, IDOK}, setup.Id());
        TypeFolder(custom, L"Q:\\");
        Sleep(500);
        EXPECT_EQ(std::vector<std::wstring>{kNoDrive}, answerer.Texts());
        EXPECT_EQ(L"C:\\VmKept", FolderText(custom));
    }

    TypeFolder(custom, L"VmTest");
    ExpectStartRefused(setup, custom, kBadFolderCaption, L"请输入正确的安装路径");
    // Too long for the engine's paths: refused before anything is made, never cut.
    std::wstring tooLong = L"C:\\VmLong\\" + std::wstring(220, L'a');
    test::FocusByClick(Item(custom, IDC_CUSTOM_FOLDER));
    test::PasteText(tooLong);
    EXPECT_EQ(tooLong, FolderText(custom));
    ExpectStartRefused(setup, custom, kBadFolderCaption, L"安装路径太长，请输入不超过215个字符的安装路径");
    EXPECT_FALSE(test::DirExists(L"C:\\VmLong"));
    TypeFolder(custom, L"\\\\server\\share\\Velmarin");
    ExpectStartRefused(setup, custom, kBadFolderCaption, L"不能安装到网络上的文件夹，请选择本机磁盘上的安装路径");
    // A mapped drive is a network folder too (drive Y: of the prefix is one).
    TypeFolder(custom, L"Y:\\Velmarin");
    ExpectStartRefused(setup, custom, kBadFolderCaption, L"不能安装到网络上的文件夹，请选择本机磁盘上的安装路径");
    EXPECT_FALSE(test::DirExists(L"Y:\\Velmarin"));

    // A read-only file system, and a path that names a file. An empty one of the tests' own where
    // they may mount it: /proc may hold other users' objects, and is then refused for them.
    ReadOnlyFolder readOnly(L"C:\\VmReadOnly");
    TypeFolder(custom, readOnly.path);
    ExpectStartRefused(setup, custom, L"错误", kUnwritable);
    TypeFolder(custom, L"C:\\windows\\win.ini");
    ExpectStartRefused(setup, custom, L"错误", kUnwritable);
    // A new folder on read-only media, then the way back and "立即安装": nothing of the refused
    // folder is kept, and the folder the user made before stays his in the record.
    TypeFolder(custom, readOnly.path + L"\\VmNew");
    ExpectStartRefused(setup, custom, L"错误", kUnwritable);
    const std::wstring install = test::DefaultInstallFolder();
    ASSERT_EQ(0, SHCreateDirectoryExW(nullptr, install.c_str(), nullptr));
    Click(Item(custom, IDC_CUSTOM_BACK));
    welcome = setup.PageWithControl(IDC_WELCOME_INSTALL, 5000);
    ASSERT_NE(nullptr, welcome);
    Sleep(300);
    Click(Item(welcome, IDC_WELCOME_INSTALL));
    CloseFinishPage(setup);
    EXPECT_NE(std::string::npos, test::ReadFile(install + L"\\VelmarinSetup.record").find("\nfolder\t0"))
        << "the setup did not make the install folder";
    EXPECT_EQ(install + L"\\Velmarin.exe", test::ReadRegString(HKEY_LOCAL_MACHINE, kAppPathKey, L""));
}

// Drive R: of the prefix is the build's "removable-drive" folder: without it the drive is gone.
TEST_F(CustomInstall, ADriveThatVanishesAsksOnceAndNeverHangs)
{
    std::wstring drive = test::BuildDir() + L"\\removable-drive";
    CreateDirectoryW(drive.c_str(), nullptr);
    SetupProcess setup;
    HWND custom = OpenCustomPage(setup);
    ASSERT_NE(nullptr, custom);
    HWND diskSpace = Item(custom, IDC_CUSTOM_DISK_SPACE);
    SendMessageW(diskSpace, WM_SETTEXT, 0, (LPARAM)L"marker");
    TypeFolder(custom, L"R:\\Vm");
    ASSERT_EQ(0u, test::TextOf(diskSpace).find(L"所需磁盘空间")) << "the drive answers";

    test::RemoveTree(drive);
    {
        test::MessageBoxAnswerer answerer(test::kSetupTitle, {IDOK, IDOK, IDOK}, setup.Id());
        TypeAscii(L"x");
        Sleep(1500);
        EXPECT_EQ(std::vector<std::wstring>{kNoDrive}, answerer.Texts()) << "the restored text is not asked about again";
    }
    EXPECT_EQ(L"R:\\Vm", FolderText(custom));
    DWORD_PTR answer = 0;
    EXPECT_TRUE(SendMessageTimeoutW(custom, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &answer)) << "the page answers";
    CreateDirectoryW(drive.c_str(), nullptr);

    setup.QuitThroughExitQuestion(custom);
    EXPECT_EQ(kExitMinusOne, setup.WaitForExit(10000));
}

// The keyboard's focus in the setup's user-interface thread.
HWND FocusOf(HWND page)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    return GetGUIThreadInfo(GetWindowThreadProcessId(page, nullptr), &info) ? info.hwndFocus : nullptr;
}

// Presses Tab until `control` has the focus; false when it never comes.
bool TabTo(HWND page, HWND control)
{
    for (int press = 0; press < 12; ++press) {
        for (int i = 0; i < 20 && FocusOf(page) != control; ++i)
            Sleep(20);
        if (FocusOf(page) == control)
            return true;
        PressKey(VK_TAB);
    }
    return false;
}

// A whole installation by keyboard alone: Tab and Space through welcome, custom page,
// installation and finish.
TEST_F(CustomInstall, ByKeyboardAlone)
{
    SetupProcess setup;
    HWND welcome = setup.PageWithControl(IDC_WELCOME_CUSTOM);
    ASSERT_NE(nullptr, welcome);
    ASSERT_TRUE(TabTo(welcome, Item(welcome, IDC_WELCOME_CUSTOM)));
    PressKey(VK_SPACE);
    HWND custom = setup.PageWithControl(IDC_CUSTOM_FOLDER, 5000);
    ASSERT_NE(nullptr, custom);
    // Reading order: the folder, "浏览", the three boxes, "开始安装".
    std::vector<HWND> visited;
    for (int press = 0; press < 6 && FocusOf(custom) != Item(custom, IDC_CUSTOM_START); ++press) {
        visited.push_back(FocusOf(custom));
        PressKey(VK_TAB);
        Sleep(100);
    }
    EXPECT_EQ((std::vector<HWND>{Item(custom, IDC_CUSTOM_FOLDER), Item(custom, IDC_CUSTOM_BROWSE), Item(custom, IDC_CUSTOM_DESKTOP),
                                 Item(custom, IDC_CUSTOM_QUICK_LAUNCH), Item(custom, IDC_CUSTOM_DEFAULT)}),
              visited);
    ASSERT_TRUE(TabTo(custom, Item(custom, IDC_CUSTOM_START)));
    PressKey(VK_SPACE);
    HWND finish = setup.PageWithControl(IDC_FINISH_CLOSE, 60000);
    ASSERT_NE(nullptr, finish);
    ASSERT_TRUE(TabTo(finish, Item(finish, IDC_FINISH_CLOSE)));
    PressKey(VK_SPACE);
    EXPECT_EQ(kExitMinusOne, setup.WaitForExit(test::kEndAfterFinishMs));
    EXPECT_TRUE(test::FileExists(test::DefaultInstallFolder() + L"\\Velmarin.exe"));
}

// The installation's traces: registration, shortcuts and the browser's own runs.
struct InstallTraces {
    std::wstring appPath, installLocation, groupLinkTarget;
    bool desktopLink, quickLaunchLink;
    std::vector<std::string> starts;
};

InstallTraces ReadTraces(const std::wstring &folder)
{
    InstallTraces traces;
    traces.appPath = test::ReadRegString(HKEY_LOCAL_MACHINE, kAppPathKey, L"");
    traces.installLocation = test::ReadRegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation");
    traces.groupLinkTarget = test::ReadLink(test::SpecialFolder(CSIDL_COMMON_PROGRAMS) + L"\\岚舟浏览器\\岚舟 3.lnk").target;
    traces.desktopLink = test::FileExists(test::SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\岚舟 3.lnk");
    traces.quickLaunchLink = test::FileExists(test::SpecialFolder(CSIDL_APPDATA) +
                                              L"\\Microsoft\\Internet Explorer\\Quick Launch\\岚舟 3.lnk");
    traces.starts = test::BrowserStarts(folder);
    return traces;
}

// Into the root of a drive that holds much else (drive R: of the prefix): stored as "R:", done
// as fast as any folder, the uninstall entry's size the browser's and not the drive's.
TEST_F(CustomInstall, IntoATypedFolderWithoutTheDesktopShortcut)
{
    const std::wstring folder = L"R:", drive = test::BuildDir() + L"\\removable-drive";
    m_cleanUp.push_back(drive);
    test::RemoveInstallation(drive);
    CreateDirectoryW(drive.c_str(), nullptr);
    CreateDirectoryW(L"R:\\other", nullptr);
    for (int i = 0; i < 2000; ++i)
        test::WriteFile(L"R:\\other\\file" + std::to_wstring(i) + L".txt", "someone else's");
    HANDLE big = CreateFileW(L"R:\\big.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    LARGE_INTEGER size = {};
    size.QuadPart = 512ll << 20;
    SetFilePointerEx(big, size, nullptr, FILE_BEGIN);
    SetEndOfFile(big);
    CloseHandle(big);
    SetupProcess setup;
    HWND custom = OpenCustomPage(setup);
    ASSERT_NE(nullptr, custom);
    // Surrounding spaces and the trailing backslash are not part of the folder.
    TypeFolder(custom, L"  R:\\  ");
    Click(Item(custom, IDC_CUSTOM_DESKTOP));
    EXPECT_FALSE(test::IsChecked(Item(custom, IDC_CUSTOM_DESKTOP)));
    DWORD started = GetTickCount();
    Click(Item(custom, IDC_CUSTOM_START));
    CloseFinishPage(setup);
    EXPECT_LT(GetTickCount() - started, 20000u);

    InstallTraces traces = ReadTraces(folder);
    EXPECT_EQ(folder + L"\\Velmarin.exe", traces.appPath);
    EXPECT_EQ(folder, traces.installLocation);
    EXPECT_EQ(folder + L"\\Velmarin.exe", traces.groupLinkTarget);
    EXPECT_FALSE(traces.desktopLink);
    EXPECT_TRUE(traces.quickLaunchLink);
    EXPECT_EQ((std::vector<std::string>{test::QuotedBrowser(folder, "/tp:3 /v:1 /tb:0"),
                                        test::QuotedBrowser(folder, "/tp:2 /v:1"),
                                        test::QuotedBrowser(folder, "/tp:11 /v:1")}),
              traces.starts);
    EXPECT_FALSE(test::DirExists(test::DefaultInstallFolder()));
    EXPECT_EQ((DWORD)((test::FolderBytes(test::StandInFiles()) + 1023) / 1024),
              test::ReadRegDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize"));
    EXPECT_EQ("someone else's", test::ReadFile(L"R:\\other\\file1999.txt"));
}

// On Windows 10, which reports itself to the setup as version 6.2 (code -1000): the quick-launch
// choice keeps its name and brings no taskbar run, the browser's ini file is the one in the
// install folder, and Default apps lists the browser.
TEST_F(CustomInstall, OnWindows10AsOnOlderSystemsButListedInDefaultApps)
{
    if (!test::RunsOnWin64Road())
        GTEST_SKIP() << "runs on the roads of the 64-bit prefix";
    const std::wstring folder = test::DefaultInstallFolder(), roaming = test::SpecialFolder(CSIDL_APPDATA) + L"\\Velmarin";
    m_cleanUp.push_back(roaming);
    for (const std::wstring &data : {folder, roaming}) {
        SHCreateDirectoryExW(nullptr, data.c_str(), nullptr);
        test::WriteFile(data + L"\\Velmarin.ini", "[AddUnstall]\r\nIsSave=1\r\n");
    }
    {
        test::ReportedWindowsVersion windows10(L"VelmarinSetup.exe", L"win10");
        SetupProcess setup;
        HWND custom = OpenCustomPage(setup);
        ASSERT_NE(nullptr, custom);
        EXPECT_EQ(L"添加到快速启动栏", test::TextOf(Item(custom, IDC_CUSTOM_QUICK_LAUNCH)));
        Click(Item(custom, IDC_CUSTOM_START));
        CloseFinishPage(setup);
    }
    InstallTraces traces = ReadTraces(folder);
    EXPECT_TRUE(traces.desktopLink && traces.quickLaunchLink);
    EXPECT_EQ((std::vector<std::string>{test::QuotedBrowser(folder, "/tp:3 /v:1 /tb:0"), test::QuotedBrowser(folder, "/tp:2 /v:1")}),
              traces.starts);
    EXPECT_EQ(kCapabilitiesKey, test::ReadRegString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\RegisteredApplications", L"Velmarin.exe"));
    EXPECT_EQ(-1, (int)GetPrivateProfileIntW(L"AddUnstall", L"IsSave", -1, (folder + L"\\Velmarin.ini").c_str()));
    EXPECT_EQ(1u, GetPrivateProfileIntW(L"AddUnstall", L"IsSave", -1, (roaming + L"\\Velmarin.ini").c_str()));
}

TEST_F(CustomInstall, IntoABrowsedFolderWithoutQuickLaunchOrDefaultBrowser)
{
    const std::wstring folder = test::SpecialFolder(CSIDL_DESKTOPDIRECTORY) + L"\\0 Velmarin picked";
    m_cleanUp.push_back(folder);
    test::RemoveInstallation(folder);
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    SetupProcess setup;
    HWND custom = OpenCustomPage(setup);
    ASSERT_NE(nullptr, custom);

    auto openDialog = [&]() -> HWND {
        Click(Item(custom, IDC_CUSTOM_BROWSE));
        HWND dialog = test::WaitForWindow(L"Browse for Folder", 20000, setup.Id());
        EXPECT_NE(nullptr, dialog);
        EXPECT_FALSE(IsWindowEnabled(custom)) << "nothing else starts while the dialog is open";
        Sleep(300);
        return dialog;
    };
    HWND dialog = openDialog();
    ASSERT_NE(nullptr, dialog);
    Click(GetDlgItem(dialog, IDCANCEL));
    EXPECT_TRUE(test::WaitHidden(dialog, 5000));
    EXPECT_EQ(test::DefaultInstallFolder(), FolderText(custom)) << "Cancel changes nothing";
    EXPECT_TRUE(IsWindowEnabled(custom));

    dialog = openDialog();
    ASSERT_NE(nullptr, dialog);
    HWND tree = FindWindowExW(dialog, nullptr, L"SysTreeView32", nullptr);
    ASSERT_NE(nullptr, tree);
    // The folder is on the desktop, the tree's first level: its first letter selects it.
    Click(tree, 40, 8);
    TypeAscii(L"0");
    Sleep(300);
    Click(GetDlgItem(dialog, IDOK));
    EXPECT_TRUE(test::WaitHidden(dialog, 5000));
    Sleep(300);
    ASSERT_EQ(folder, FolderText(custom)) << "the picked folder itself, nothing appended";

    // By keyboard: Tab from the folder box over "浏览" and the desktop box, Space on the next two.
    test::FocusByClick(Item(custom, IDC_CUSTOM_FOLDER));
    PressKey(VK_TAB);
    PressKey(VK_TAB);
    PressKey(VK_TAB);
    PressKey(VK_SPACE);
    PressKey(VK_TAB);
    PressKey(VK_SPACE);
    EXPECT_TRUE(test::IsChecked(Item(custom, IDC_CUSTOM_DESKTOP)));
    EXPECT_FALSE(test::IsChecked(Item(custom, IDC_CUSTOM_QUICK_LAUNCH)));
    EXPECT_FALSE(test::IsChecked(Item(custom, IDC_CUSTOM_DEFAULT)));
    Click(Item(custom, IDC_CUSTOM_START));
    CloseFinishPage(setup);

    // Recorded as Windows names the opened folder: Wine's desktop is a link to the home folder.
    wchar_t real[MAX_PATH];
    ASSERT_TRUE(FinalFolderPath(folder.c_str(), real));
    InstallTraces traces = ReadTraces(folder);
    EXPECT_EQ(std::wstring(real) + L"\\Velmarin.exe", traces.appPath);
    EXPECT_TRUE(traces.desktopLink);
    EXPECT_FALSE(traces.quickLaunchLink);
    EXPECT_EQ(std::vector<std::string>{test::QuotedBrowser(real, "/tp:3 /v:1 /tb:0")}, traces.starts)
        << "no default-browser run, no taskbar run";
}

// A setup built from a vendor's file set instead of the stand-in (tests/release/foreign-payload.sh
// builds it and names the set in VELMARIN_PAYLOAD_SET): a browser of its own version, a skin far
// deeper than the stand-in's, hundreds of files. The version, the folder limit and the size in
// the uninstall entry all follow the set.
TEST_F(CustomInstall, AForeignFileSetDecidesVersionDepthAndSize)
{
    const std::wstring set = test::PathFromEnvironment("VELMARIN_PAYLOAD_SET");
    if (set.empty())
        GTEST_SKIP() << "run by the release check that builds a setup from a foreign file set";
    size_t longest = 0;
    for (const auto &file : test::FolderContents(set))
        longest = std::max(longest, file.first.size());
    const size_t limit = (MAX_PATH - 1) - longest - wcslen(L".0000.vmold");
    ASSERT_LT(limit + 60, 215u) << "the set's deepest file is 60 characters deeper than the stand-in's";
    {
        // A folder the stand-in's limit would take, too long for this set.
        SetupProcess setup;
        HWND custom = OpenCustomPage(setup);
        ASSERT_NE(nullptr, custom);
        std::wstring deep = L"C:\\" + std::wstring(limit + 1 - 3, L'd');
        test::FocusByClick(Item(custom, IDC_CUSTOM_FOLDER));
        test::PasteText(deep);
        ExpectStartRefused(setup, custom, kBadFolderCaption,
                           (L"安装路径太长，请输入不超过" + std::to_wstring(limit) + L"个字符的安装路径").c_str());
        EXPECT_FALSE(test::DirExists(deep));
        setup.QuitThroughExitQuestion(custom);
        EXPECT_EQ(kExitMinusOne, setup.WaitForExit(10000));
    }
    const std::wstring install = test::DefaultInstallFolder();
    {
        SetupProcess setup;
        HWND finish = test::QuickInstallToFinish(setup, false, false);
        ASSERT_NE(nullptr, finish);
        Click(Item(finish, IDC_FINISH_CLOSE));
        EXPECT_EQ(kExitMinusOne, setup.WaitForExit(test::kEndAfterFinishMs));
    }
    EXPECT_EQ(L"3.2.0.1021", test::ReadRegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion"));
    EXPECT_EQ((DWORD)((test::FolderBytes(set) + 1023) / 1024), test::ReadRegDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize"));
    {
        SetupProcess second;
        HWND upgrade = second.PageWithControl(IDC_UPGRADE_DEFAULT);
        EXPECT_NE(nullptr, upgrade) << "the same setup again is a reinstall, not a downgrade";
        if (upgrade)
            second.QuitThroughExitQuestion(upgrade);
        EXPECT_EQ(kExitMinusOne, second.WaitForExit(30000));
    }
}

}
