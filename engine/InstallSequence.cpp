#include "app/InstallOptions.h"
#include "app/SetupMessages.h"
#include "app/Format.h"
#include "engine/CommandLines.h"
#include "engine/FileSystem.h"
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
static const WCHAR kCopyFailedKeptOld[] =
    L"无法将岚舟浏览器的程序文件复制到安装目录，安装未能完成，原有的浏览器已保留。\r\n"
    L"请关闭正在使用这些文件的程序，然后重新运行安装程序。";

// Copies "<extract>\<relative>" to "<install>\<relative>"; false when the copy failed.
static bool CopyItem(const WCHAR *extractDir, const WCHAR *installDir, const WCHAR *relative)
{
    WCHAR from[MAX_PATH], to[MAX_PATH];
    if (!extractDir[0] || !Format(from, L"%s%s", extractDir, relative) || !Format(to, L"%s%s", installDir, relative))
        return false;
    return CopyFileW(from, to, FALSE) != FALSE;
}

static void EnsureFolder(const WCHAR *base, const WCHAR *relative)
{
    WCHAR folder[MAX_PATH];
    if (Format(folder, L"%s%s", base, relative))
        CreateDirectoryTree(folder);
}

// Copies "\Extensions\<name>\<name>.dll" after making its folder.
static void CopyExtension(const WCHAR *extractDir, const WCHAR *installDir, const WCHAR *name)
{
    WCHAR relative[MAX_PATH];
    Format(relative, L"\\Extensions\\%s", name);
    EnsureFolder(installDir, relative);
    Format(relative, L"\\Extensions\\%s\\%s.dll", name, name);
    CopyItem(extractDir, installDir, relative);
}

static void BackupFile(const WCHAR *folder, const WCHAR *name)
{
    WCHAR path[MAX_PATH], backup[MAX_PATH];
    if (Format(path, L"%s\\%s", folder, name) && Format(backup, L"%s.bak", path))
        CopyFileW(path, backup, FALSE);
}

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

// The three programs. When one cannot be copied, the old browser is put back from its backup
// so that the user is never left without a browser.
bool CInstallOptions::CopyProgramFiles(const WCHAR *browserPath, bool haveBackup)
{
    bool copied = CopyItem(m_strExtractDir, m_strInstallDir, L"\\Velmarin.exe");
    copied = copied && CopyItem(m_strExtractDir, m_strInstallDir, L"\\WebApp.exe");
    copied = copied && CopyItem(m_strExtractDir, m_strInstallDir, L"\\UnInst.exe");
    WCHAR backup[MAX_PATH];
    Format(backup, L"%s.bak", browserPath);
    if (!copied && haveBackup)
        CopyFileW(backup, browserPath, FALSE);
    DeleteFileW(backup);
    return copied;
}

// Runs only after the program files came from the extraction folder, so that folder is known.
void CInstallOptions::CopyExtensionsAndSkin()
{
    WCHAR path[MAX_PATH];
    if (Format(path, L"%s\\Extensions\\GuardHub", m_strExtractDir) && PathFileExistsW(path))
        EnsureFolder(m_strInstallDir, L"\\Extensions\\GuardHub");
    const WCHAR *guardHub[] = {kLongestInstalledFile, L"\\Extensions\\GuardHub\\urlproc.dll"};
    for (const WCHAR *file : guardHub) {
        if (Format(path, L"%s%s", m_strExtractDir, file) && PathFileExistsW(path))
            CopyItem(m_strExtractDir, m_strInstallDir, file);
    }

    PostProgress(50);
    const WCHAR *plugins[] = {L"PlgKit", L"PlgStrip", L"PlgBlock", L"PlgTabs", L"PlgRelay"};
    for (const WCHAR *name : plugins)
        CopyExtension(m_strExtractDir, m_strInstallDir, name);

    PostProgress(60);
    EnsureFolder(m_strInstallDir, L"\\Skin");
    EnsureFolder(m_strInstallDir, L"\\Skin\\Frost_Glass");
    WCHAR from[MAX_PATH], to[MAX_PATH];
    if (Format(from, L"%s\\Skin\\Frost_Glass", m_strExtractDir) && Format(to, L"%s\\Skin\\Frost_Glass", m_strInstallDir))
        CopyFolderTree(from, to);

    PostProgress(70);
    CopyExtension(m_strExtractDir, m_strInstallDir, L"PlgHint");
    CopyExtension(m_strExtractDir, m_strInstallDir, L"PlgFetch");
}

bool CInstallOptions::CopyBrowserFiles(const WCHAR *browserPath, bool haveBackup)
{
    if (!CopyProgramFiles(browserPath, haveBackup))
        return false;
    CopyExtensionsAndSkin();
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

void CInstallOptions::RunInstall(HWND progressWindow)
{
    m_hProgressWnd = progressWindow;

    CreateDirectoryTree(m_strInstallDir);
    if (!IsFolderWritable(m_strInstallDir)) {
        MessageBoxW(NULL, L"无法将文件放入安装目录，请选择其它目录后再安装。", kErrorCaption, MB_OK);
        PostFinished();
        return;
    }

    WCHAR browserPath[MAX_PATH], backupPath[MAX_PATH];
    Format(browserPath, L"%s\\Velmarin.exe", m_strInstallDir);
    Format(backupPath, L"%s.bak", browserPath);
    PostProgress(10);
    if (GetPrivateProfileIntW(kIniSection, kIniKey, 0, m_strIniPath) == 1)
        WritePrivateProfileStringW(kIniSection, kIniKey, L"0", m_strIniPath);

    PostProgress(20);
    bool haveBackup = false;
    if (PathFileExistsW(browserPath)) {
        BackupFile(m_strInstallDir, L"Velmarin.exe");
        haveBackup = PathFileExistsW(backupPath) != FALSE;
    }
    if (PathFileExistsW(browserPath) && !DeleteFileW(browserPath)) {
        if (ResolveRunningBrowser(browserPath) == kBrowserCancelled) {
            DeleteFileW(backupPath);
            PostFinished();
            return;
        }
    }

    // The backup stays until the new browser is in place.
    PostProgress(30);
    PostProgress(40);
    if (!CopyBrowserFiles(browserPath, haveBackup)) {
        MessageBoxW(NULL, haveBackup ? kCopyFailedKeptOld : kCopyFailed, kErrorCaption, MB_OK | MB_ICONERROR);
        PostFinished();
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
