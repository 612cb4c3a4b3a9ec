#include "app/InstallOptions.h"
#include "app/SetupMessages.h"
#include "app/Format.h"
#include "engine/CommandLines.h"
#include "engine/FileSystem.h"
#include "engine/FileUpdate.h"
#include "engine/Process.h"
#include "engine/Product.h"
#include "engine/RunningBrowser.h"
#include "engine/Shortcuts.h"
#include <shlwapi.h>

const WCHAR kLongestInstalledFile[] = L"\\Extensions\\GuardHub\\GuardHub.dll";

static const WCHAR kIniSection[] = L"AddUnstall";
static const WCHAR kIniKey[] = L"IsSave";
static const WCHAR kErrorCaption[] = L"错误";
static const WCHAR kCopyFailed[] =
    L"无法将岚舟浏览器的程序文件复制到安装目录，安装未能完成。\r\n"
    L"请关闭正在使用这些文件的程序，然后重新运行安装程序。";
static const WCHAR kNoTempFolder[] =
    L"无法创建安装所需的临时文件夹，安装未能完成。\r\n"
    L"请检查临时文件夹的磁盘空间和权限，然后重新运行安装程序。";
static const WCHAR kPayloadBroken[] =
    L"无法解压岚舟浏览器的安装文件，安装未能完成。\r\n"
    L"安装程序可能已损坏，请重新下载安装程序后再安装。";
static const WCHAR kCopyFailedKeptOld[] =
    L"无法将岚舟浏览器的程序文件复制到安装目录，安装未能完成，原有的浏览器已保留。\r\n"
    L"请关闭正在使用这些文件的程序，然后重新运行安装程序。";

static DWORD WINAPI BroadcastThread(LPVOID)
{
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, SPI_SETNONCLIENTMETRICS, 0, SMTO_ABORTIFHUNG, 5000, NULL);
    return 0;
}

static void BroadcastSettingChange()
{
    HANDLE thread = CreateThread(NULL, 0, BroadcastThread, NULL, 0, NULL);
    if (thread)
        CloseHandle(thread);
}

void CInstallOptions::PostProgress(int percentage)
{
    PostMessageW(m_hProgressWnd, WM_SETUP_PROGRESS, (WPARAM)percentage, 0);
}

void CInstallOptions::PostFinished()
{
    PostMessageW(m_hProgressWnd, WM_SETUP_END, 0, 0);
}

bool CInstallOptions::RunBrowser(const WCHAR *arguments)
{
    WCHAR commandLine[kCommandLineChars];
    if (!FormBrowserCommandLine(commandLine, kCommandLineChars, m_strInstallDir, arguments))
        return false;
    return ExecCommandLine(commandLine, SW_HIDE, 10000) != FALSE;
}

void CInstallOptions::RunBrowserSetup()
{
    RunBrowser(L"/tp:3 /v:1 /tb:0");
}

void CInstallOptions::RunBrowserSetDefault()
{
    RunBrowser(L"/tp:2 /v:1");
}

void CInstallOptions::RunBrowserTaskbar()
{
    RunBrowser(L"/tp:11 /v:1");
}

// The file set, staged beside the installed files in the order the progress reports it, then
// swapped in as one. Nothing of an existing installation changes unless every file is ready.
bool CInstallOptions::CopyBrowserFiles()
{
    CFileUpdate update(m_strExtractDir, m_strInstallDir);
    const WCHAR *programs[] = {L"\\Velmarin.exe", L"\\WebApp.exe", L"\\UnInst.exe"};
    bool staged = true;
    for (const WCHAR *program : programs)
        staged = staged && update.Stage(program);

    WCHAR path[MAX_PATH];
    const WCHAR *guardHub[] = {kLongestInstalledFile, L"\\Extensions\\GuardHub\\urlproc.dll"};
    for (const WCHAR *file : guardHub) {
        if (staged && Format(path, L"%s%s", m_strExtractDir, file) && PathFileExistsW(path))
            staged = update.Stage(file);
    }

    PostProgress(50);
    const WCHAR *plugins[] = {L"PlgKit", L"PlgStrip", L"PlgBlock", L"PlgTabs", L"PlgRelay"};
    for (const WCHAR *name : plugins)
        staged = staged && StageExtension(update, name);

    PostProgress(60);
    staged = staged && update.StageTree(L"\\Skin\\Frost_Glass");

    PostProgress(70);
    staged = staged && StageExtension(update, L"PlgHint") && StageExtension(update, L"PlgFetch");

    if (!staged) {
        update.Abandon();
        return false;
    }
    return update.Commit();
}

// "\Extensions\<name>\<name>.dll", where the payload has it.
bool CInstallOptions::StageExtension(CFileUpdate &update, const WCHAR *name)
{
    WCHAR relative[MAX_PATH], path[MAX_PATH];
    if (!Format(relative, L"\\Extensions\\%s\\%s.dll", name, name) || !Format(path, L"%s%s", m_strExtractDir, relative))
        return false;
    return !PathFileExistsW(path) || update.Stage(relative);
}

// The payload unpacked completely: at least the three programs are there.
bool CInstallOptions::PayloadIsComplete() const
{
    const WCHAR *programs[] = {L"Velmarin.exe", L"WebApp.exe", L"UnInst.exe"};
    for (const WCHAR *program : programs) {
        WCHAR path[MAX_PATH];
        if (!m_strExtractDir[0] || !Format(path, L"%s\\%s", m_strExtractDir, program) || !PathFileExistsW(path))
            return false;
    }
    return true;
}

void CInstallOptions::CreateLinkBarShortcuts()
{
    WCHAR folder[MAX_PATH];
    if (!Format(folder, L"%s\\LinkBar", m_strFavorites))
        return;
    CreateDirectoryTree(folder);
    struct UrlShortcut {
        const WCHAR *file;
        const WCHAR *path;
    } shortcuts[] = {
        {L"新手上路.url", L"/vm3/beginner/"},
        {L"新特性.url", L"/vm3/feature/"},
        {L"如何使用收藏栏.url", L"/vm3/beginner/favoritebar.htm"},
    };
    for (const UrlShortcut &shortcut : shortcuts) {
        WCHAR file[MAX_PATH], url[MAX_PATH];
        if (Format(file, L"%s\\%s", folder, shortcut.file) && Format(url, L"http://%s%s", kProductWebHost, shortcut.path))
            CreateUrlShortcut(url, file);
    }
}

void CInstallOptions::StopInstall(const WCHAR *message)
{
    if (message)
        MessageBoxW(NULL, message, kErrorCaption, MB_OK | MB_ICONERROR);
    PostFinished();
    ScheduleTempCleanup();
}

void CInstallOptions::RunInstall(HWND progressWindow)
{
    m_hProgressWnd = progressWindow;

    CreateDirectoryTree(m_strInstallDir);
    if (!IsFolderWritable(m_strInstallDir)) {
        MessageBoxW(NULL, L"无法将文件放入安装目录，请选择其它目录后再安装。", kErrorCaption, MB_OK);
        StopInstall(NULL);
        return;
    }
    if (!m_strTempRoot[0]) {
        StopInstall(kNoTempFolder);
        return;
    }
    if (!PayloadIsComplete()) {
        StopInstall(kPayloadBroken);
        return;
    }

    WCHAR browserPath[MAX_PATH];
    Format(browserPath, L"%s\\Velmarin.exe", m_strInstallDir);
    PostProgress(10);
    if (GetPrivateProfileIntW(kIniSection, kIniKey, 0, m_strIniPath) == 1)
        WritePrivateProfileStringW(kIniSection, kIniKey, L"0", m_strIniPath);

    PostProgress(20);
    // What a stopped earlier run left is resolved first, towards a complete installation.
    if (!RecoverInterruptedUpdate(m_strInstallDir)) {
        StopInstall(kCopyFailedKeptOld);
        return;
    }
    bool hadBrowser = PathFileExistsW(browserPath) != FALSE;
    if (hadBrowser && IsFileInUse(browserPath) && ResolveRunningBrowser(browserPath) == kBrowserCancelled) {
        StopInstall(NULL);
        return;
    }

    PostProgress(30);
    PostProgress(40);
    if (!CopyBrowserFiles()) {
        StopInstall(hadBrowser ? kCopyFailedKeptOld : kCopyFailed);
        return;
    }

    PostProgress(80);
    WritePrivateProfileStringW(L"addunstall", kIniKey, NULL, m_strIniPath);

    PostProgress(90);
    CreateLinkBarShortcuts();

    PostProgress(100);
    RegisterWithSystem();
    CreateShortcuts();
    RunBrowserSetup();
    if (m_bDefaultBrowser)
        RunBrowserSetDefault();
    if (m_bQuickLaunch && m_nOsVersion == kOsWindows7)
        RunBrowserTaskbar();
    BroadcastSettingChange();
    ScheduleTempCleanup();
}
