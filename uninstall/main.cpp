// UnInst.exe, the browser's uninstaller. Started from the install folder (the uninstall entry,
// the program group), it checks the installation's record, copies itself into a fresh private
// temporary folder and runs from there, so that it can remove its own file too:
//     UnInst.exe                                        checks, copies itself, starts the copy
//     UnInst.exe /removing <install folder> <handle>    the copy: waits for the process behind
//                                                       the inherited handle, then asks and removes
// Without a valid record nothing is deleted.
#include "app/InstallOptions.h"
#include "app/MessageLoop.h"
#include "base/DllSafety.h"
#include "base/Format.h"
#include "base/SetupText.h"
#include "engine/FolderSecurity.h"
#include "engine/InstallRecord.h"
#include "engine/Uninstall.h"
#include "engine/TempFolder.h"
#include "skin/GdiPlus.h"
#include "skin/SkinStore.h"
#include "uninstall/UninstallPage.h"
#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <stdlib.h>

static const WCHAR kCaption[] = L"岚舟浏览器卸载程序";

static int Refuse(RecordLoadResult result)
{
    const WCHAR *reason =
        result == kRecordMissing ? L"找不到岚舟浏览器的安装记录。"
        : result == kRecordRefused ? L"岚舟浏览器的安装记录指向了安装目录以外的位置，已拒绝使用。"
                                   : L"岚舟浏览器的安装记录已损坏。";
    WCHAR message[256];
    Format(message, L"%s\r\n为了安全，卸载程序没有删除任何文件。请重新运行岚舟浏览器安装程序后再卸载。", reason);
    MessageBoxW(NULL, message, kCaption, MB_OK | MB_ICONERROR);
    return 2;
}

// The folders of the installing user, with the install folder's own where older systems keep
// the browser's data in it.
static void DetectUserFolders(const WCHAR *installDir)
{
    CInstallOptions &options = CInstallOptions::Instance();
    options.DetectFolders();
    if (options.m_nOsVersion <= kOsWindowsServer2003) {
        Copy(options.m_strDataDir, installDir);
        Format(options.m_strIniPath, L"%s\\Velmarin.ini", installDir);
    }
}

// Copies this program into a fresh protected folder in the Windows folder's Temp and starts the
// copy on `folder`, handing it this process to wait for. False when that cannot be done. Not the
// user's own temporary folder: the same user without elevation could rename the fresh folder
// there and put a program of his in its place before the copy starts elevated.
static bool StartCopy(const WCHAR *folder)
{
    WCHAR self[MAX_PATH], windows[MAX_PATH], tempPath[MAX_PATH], root[MAX_PATH], copy[MAX_PATH];
    DWORD selfLength = GetModuleFileNameW(NULL, self, MAX_PATH);
    UINT windowsLength = GetWindowsDirectoryW(windows, MAX_PATH);
    if (selfLength == 0 || selfLength >= MAX_PATH || windowsLength == 0 || windowsLength >= MAX_PATH ||
        !Format(tempPath, L"%s\\Temp\\", windows) ||
        !CreateFreshTempRoot(tempPath, (int)GetTickCount(), root) || !Format(copy, L"%s\\UnInst.exe", root) ||
        !CopyFileW(self, copy, TRUE))
        return false;
    HANDLE inherited = NULL;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &inherited, SYNCHRONIZE, TRUE, 0))
        return false;
    // A drive root's backslash is doubled before the closing quote, or it would escape the quote.
    size_t length = wcslen(folder);
    const WCHAR *doubled = length && folder[length - 1] == L'\\' ? L"\\" : L"";
    WCHAR commandLine[3 * MAX_PATH];
    FormatText(commandLine, 3 * MAX_PATH, L"\"%s\" /removing \"%s%s\" %Iu", copy, folder, doubled, (ULONG_PTR)inherited);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    bool started = CreateProcessW(copy, commandLine, NULL, NULL, TRUE, 0, NULL, root, &startup, &process) != FALSE;
    CloseHandle(inherited);
    if (started) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    return started;
}

static int RunPage(const CInstallRecord &record, int showCommand)
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    MessageLoops::Initialize();
    CMessageLoop loop;
    MessageLoops::Register(&loop);
    StartGdiPlus();
    CreateSkinFonts();
    const CInstallOptions &options = CInstallOptions::Instance();
    CUninstallPage page(record, options.m_strIniPath, options.m_strDataDir);
    int result = 1;
    if (page.Create()) {
        ShowWindow(page.m_hWnd, showCommand);
        result = loop.Run();
    }
    MessageLoops::Unregister();
    MessageLoops::Terminate();
    return result;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int showCommand)
{
    RestrictDllSearchToSystem();
    SetErrorMode(SEM_FAILCRITICALERRORS);
    FormatSetupTitle();

    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    bool isCopy = argv && argc == 4 && lstrcmpiW(argv[1], L"/removing") == 0;
    WCHAR folder[MAX_PATH] = L"";
    // The copy holds its own folder open while it runs, so that nobody can rename or replace it.
    HANDLE ownFolder = INVALID_HANDLE_VALUE;
    if (isCopy) {
        WCHAR self[MAX_PATH];
        if (GetModuleFileNameW(NULL, self, MAX_PATH) < MAX_PATH && PathRemoveFileSpecW(self))
            ownFolder = LockFolder(self);
        Copy(folder, argv[2]);
        // The program in the install folder has to end first, so that its file can go with the rest.
        HANDLE first = (HANDLE)(ULONG_PTR)_wcstoui64(argv[3], NULL, 10);
        if (first) {
            WaitForSingleObject(first, 10000);
            CloseHandle(first);
        }
    } else if (GetModuleFileNameW(NULL, folder, MAX_PATH) < MAX_PATH) {
        PathRemoveFileSpecW(folder);
        // Started through an 8.3 or "\\?\" path: the record names the folder by its long names.
        WCHAR spelled[MAX_PATH];
        if (LongFolderSpelling(folder, spelled))
            Copy(folder, spelled);
    }
    LocalFree(argv);

    DetectUserFolders(folder);
    // Another user who could change the folder, the record or this program could have written
    // what the elevated uninstaller would act on.
    if (InstallationOthersCouldChange(folder)) {
        MessageBoxW(NULL,
                    L"其他用户可以更改岚舟浏览器的安装目录、它上层的文件夹、安装记录或卸载程序。\r\n"
                    L"为了安全，卸载程序没有删除任何文件。",
                    kCaption, MB_OK | MB_ICONERROR);
        return 2;
    }
    CInstallRecord record;
    RecordLoadResult loaded = record.Load(folder, CInstallOptions::Instance().Places());
    if (loaded != kRecordValid)
        return Refuse(loaded);
    // Where no copy can run, this one does the work: its own file goes at the next restart.
    if (!isCopy && StartCopy(folder))
        return 0;

    int result = RunPage(record, showCommand);
    if (ownFolder != INVALID_HANDLE_VALUE)
        CloseHandle(ownFolder);
    if (isCopy) {
        // The copy and its folder go at the next restart: a running program cannot delete itself.
        WCHAR self[MAX_PATH];
        if (GetModuleFileNameW(NULL, self, MAX_PATH) < MAX_PATH) {
            MoveFileExW(self, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
            PathRemoveFileSpecW(self);
            MoveFileExW(self, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
        }
    }
    return result;
}
