// UnInst.exe, the browser's uninstaller. Started from the install folder (the uninstall entry,
// the program group), it checks the installation's record, copies itself into a fresh private
// temporary folder and runs from there, so that it can remove its own file too:
//     UnInst.exe [/S] [/RemoveData=0|1] [/Log=<file>]  checks, copies itself, starts the copy
//     UnInst.exe /removing <install folder> <handle> <pipe> [options]
//                                                       the copy: removes (asking, without /S),
//                                                       and in a silent run hands its exit code
//                                                       back through the inherited pipe
// Without a valid record nothing is deleted. A silent run shows nothing; its exit code is the
// removal's, as the program it was started as waits for its copy.
#include "app/Arguments.h"
#include "app/InstallOptions.h"
#include "app/Outcomes.h"
#include "app/MessageLoop.h"
#include "base/DllSafety.h"
#include "base/SystemEnvironment.h"
#include "base/Format.h"
#include "base/SetupLog.h"
#include "base/SetupText.h"
#include "engine/process/RunningBrowser.h"
#include "base/FileSystem.h"
#include "base/FolderSecurity.h"
#include "engine/folder/InstallFolder.h"
#include "engine/record/InstallRecord.h"
#include "engine/removal/Uninstall.h"
#include "engine/payload/TempFolder.h"
#include "skin/CommonControls.h"
#include "skin/GdiPlus.h"
#include "skin/SkinStore.h"
#include "uninstall/DataRemoval.h"
#include "uninstall/UninstallPage.h"
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
    ShowMessage(NULL, message, kCaption, MB_OK | MB_ICONERROR);
    return result == kRecordMissing ? kOutcomeNotInstalled : kOutcomeRecordRefused;
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
// copy on `folder`, handing it this process to wait for and `options` (see FormUninstallerOptions).
// A silent run also hands it the writing end of a pipe, whose reading end `answer` receives. False
// when that cannot be done. Not the user's own temporary folder: the same user without elevation
// could rename the fresh folder there and put a program of his in its place before the copy
// starts elevated.
static bool StartCopy(const WCHAR *folder, const WCHAR *options, HANDLE *answer)
{
    WCHAR self[MAX_PATH], root[MAX_PATH], copy[MAX_PATH];
    DWORD selfLength = GetModuleFileNameW(NULL, self, MAX_PATH);
    if (selfLength == 0 || selfLength >= MAX_PATH || !CreateFreshWindowsTempRoot(root) ||
        !Format(copy, L"%s\\UnInst.exe", root) || !CopyFileW(self, copy, TRUE))
        return false;
    HANDLE inherited = NULL, reading = NULL, writing = NULL;
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), NULL, TRUE};
    // The copy waits on it, and asks it which process it is before it trusts it.
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &inherited,
                         SYNCHRONIZE | PROCESS_QUERY_INFORMATION, TRUE, 0))
        return false;
    if (answer && !CreatePipe(&reading, &writing, &inheritable, 0)) {
        CloseHandle(inherited);
        return false;
    }
    if (reading)
        SetHandleInformation(reading, HANDLE_FLAG_INHERIT, 0);
    // A drive root's backslash is doubled before the closing quote, or it would escape the quote.
    size_t length = wcslen(folder);
    const WCHAR *doubled = length && folder[length - 1] == L'\\' ? L"\\" : L"";
    WCHAR commandLine[4 * MAX_PATH];
    FormatText(commandLine, 4 * MAX_PATH, L"\"%s\" /removing \"%s%s\" %Iu %Iu%s", copy, folder, doubled,
               (ULONG_PTR)inherited, (ULONG_PTR)writing, options);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    bool started = CreateProcessW(copy, commandLine, NULL, NULL, TRUE, 0, NULL, root, &startup, &process) != FALSE;
    CloseHandle(inherited);
    if (writing)
        CloseHandle(writing);
    if (started) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    if (answer && started)
        *answer = reading;
    else if (reading)
        CloseHandle(reading);
    return started;
}

typedef LONG(NTAPI *QueryInformationProcessFn)(HANDLE, int, void *, ULONG, ULONG *);
typedef BOOL(WINAPI *PipeServerProcessIdFn)(HANDLE, PULONG);

// The process that started this one, as Windows noted it at the start; 0 where it cannot say.
static DWORD StartingProcessId()
{
    struct {
        LONG exitStatus;
        void *peb;
        ULONG_PTR affinity;
        LONG basePriority;
        ULONG_PTR id;
        ULONG_PTR parentId;
    } basic = {};
    QueryInformationProcessFn query = (QueryInformationProcessFn)(void *)GetProcAddress(
        GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess");
    ULONG size = 0;
    return query && query(GetCurrentProcess(), 0, &basic, sizeof(basic), &size) >= 0 ? (DWORD)basic.parentId : 0;
}

// A handle number from the command line: decimal digits only, nothing else.
static bool HandleNumber(const WCHAR *text, HANDLE &handle)
{
    handle = NULL;
    if (!text[0] || wcslen(text) > 20 || wcsspn(text, L"0123456789") != wcslen(text))
        return false;
    handle = (HANDLE)(ULONG_PTR)_wcstoui64(text, NULL, 10);
    return true;
}

// The handles the uninstaller in the install folder hands its copy: a handle of this process to
// that program itself, the one that started this process, and, for a silent run, the writing end
// of a pipe that program made. A copy started with anything else (numbers of handles it never
// got, or of other objects) would close and write to whatever they are: it changes nothing.
static bool HandedHandlesAreTheStartersOwn(HANDLE starter, HANDLE answer)
{
    DWORD parent = StartingProcessId();
    if (!starter || !parent || GetProcessId(starter) != parent)
        return false;
    if (!answer)
        return true;
    DWORD flags = 0;
    if (GetFileType(answer) != FILE_TYPE_PIPE || !GetNamedPipeInfo(answer, &flags, NULL, NULL, NULL) ||
        (flags & PIPE_SERVER_END))
        return false;
    // From Vista on the pipe also tells who made it.
    PipeServerProcessIdFn server = (PipeServerProcessIdFn)(void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                                                                  "GetNamedPipeServerProcessId");
    ULONG maker = 0;
    return !server || !server(answer, &maker) || maker == parent;
}

// What a silent copy hands back: its exit code, or 1603 when it ended without one.
static int ReadAnswer(HANDLE answer)
{
    int code = kOutcomeCopyFailed;
    DWORD read = 0;
    if (!ReadFile(answer, &code, sizeof(code), &read, NULL) || read != sizeof(code))
        code = kOutcomeCopyFailed;
    CloseHandle(answer);
    return code;
}

static void SendAnswer(HANDLE pipe, int code)
{
    if (!pipe)
        return;
    DWORD written = 0;
    WriteFile(pipe, &code, sizeof(code), &written, NULL);
    CloseHandle(pipe);
}

// The removal with nobody at the screen: a running browser is ended, the data goes when asked.
// With `runningUninstaller` the uninstaller's file is the program still waiting for this answer:
// it is held for deletion once that has ended (see RemoveRecordedInstallation). Done (0) only
// when everything went, the entry and the record included, and the uninstaller is gone or held.
static int RemoveSilently(const CInstallRecord &record, const Arguments &arguments, HANDLE *runningUninstaller)
{
    WCHAR browser[MAX_PATH];
    SetSilentRunEndsBrowser(true);
    if (Format(browser, L"%s\\Velmarin.exe", record.Folder()) && IsFileInUse(browser) &&
        ResolveRunningBrowser(browser, L"卸载") == kBrowserCancelled)
        return kOutcomeBrowserRunning;
    UninstallCounts counts = RemoveRecordedInstallation(record, NULL, NULL, runningUninstaller);
    LogStep(L"已删除 %d 项；保留 %d 项（安装后被更改）；%d 个文件正在使用；%d 个文件位于链接之后", counts.removed,
            counts.kept, counts.inUse, counts.unreachable);
    if (counts.inUse)
        LogStep(L"正在使用的文件：%s", counts.firstInUse);
    if (arguments.removeData == 1) {
        const CInstallOptions &options = CInstallOptions::Instance();
        DataOutcome data = RemoveUserBrowserData(options.m_strIniPath, options.m_strDataDir, record.Folder());
        LogStep(data == kDataGone   ? L"已删除浏览数据"
                : data == kDataKept ? L"浏览数据未能全部删除"
                                    : L"找不到桌面的用户，没有删除任何浏览数据");
    }
    return counts.inUse || counts.unreachable ? kOutcomeFilesStayed : kOutcomeDone;
}

// The words after the copy's own four, quoted one by one, for ReadArguments.
static void JoinOptions(LPWSTR *argv, int argc, int first, WCHAR (&options)[kArgumentChars + MAX_PATH])
{
    options[0] = 0;
    for (int i = first; i < argc; ++i) {
        size_t length = wcslen(options);
        FormatText(options + length, kArgumentChars + MAX_PATH - length, L" \"%s\"", argv[i]);
    }
}

static int RunPage(const CInstallRecord &record, bool removeData, int showCommand)
{
    InitCommonControlsClasses(ICC_BAR_CLASSES);
    MessageLoops::Initialize();
    CMessageLoop loop;
    MessageLoops::Register(&loop);
    StartGdiPlus();
    CreateSkinFonts();
    const CInstallOptions &options = CInstallOptions::Instance();
    CUninstallPage page(record, options.m_strIniPath, options.m_strDataDir, removeData);
    int result = 1;
    if (page.Create()) {
        ShowWindow(page.m_hWnd, showCommand);
        result = loop.Run();
    }
    MessageLoops::Unregister();
    MessageLoops::Terminate();
    return result;
}

// A silent run refused before it changed anything: the reason goes to the console of whoever
// started it, as no log holds it.
static void TellUninstallRefusal(int code, const WCHAR *what, const WCHAR *reason)
{
    WCHAR line[900];
    FormatText(line, 900, L"%s：%s：%s（退出代码 %d）", kCaption, what, reason, code);
    TellConsole(line);
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int showCommand)
{
    RestrictDllSearchToSystem();
    EnableDataExecutionPrevention();
    if (!UseTheSystemsOwnVariables())
        return kOutcomeCopyFailed;
    OwnWhatThisProcessMakesAsAdministrators();
    SetErrorMode(SEM_FAILCRITICALERRORS);
    FormatSetupTitle();

    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    bool isCopy = argv && argc >= 5 && lstrcmpiW(argv[1], L"/removing") == 0;
    WCHAR folder[MAX_PATH] = L"";
    WCHAR options[kArgumentChars + MAX_PATH] = L"";
    Arguments arguments;
    // The copy holds its own folder open while it runs, so that nobody can rename or replace it.
    HANDLE ownFolder = INVALID_HANDLE_VALUE, first = NULL, answer = NULL;
    if (isCopy) {
        WCHAR self[MAX_PATH];
        if (GetModuleFileNameW(NULL, self, MAX_PATH) < MAX_PATH && PathRemoveFileSpecW(self))
            ownFolder = LockFolder(self);
        Copy(folder, argv[2]);
        if (!HandleNumber(argv[3], first) || !HandleNumber(argv[4], answer) ||
            !HandedHandlesAreTheStartersOwn(first, answer)) {
            LocalFree(argv);
            TellUninstallRefusal(kOutcomeBadArguments, L"/removing", L"交给卸载程序副本的句柄无效");
            return kOutcomeBadArguments;
        }
        JoinOptions(argv, argc, 5, options);
        ReadArguments(options, kUninstallerArguments, arguments);
        // The program in the install folder has to end first, so that its file can go with the
        // rest; a silent one waits for this copy's answer, and its file goes in a second round.
        if (first && !answer) {
            WaitForSingleObject(first, 10000);
            CloseHandle(first);
            first = NULL;
        }
    } else {
        ReadArguments(SkipProgramName(GetCommandLineW()), kUninstallerArguments, arguments);
        if (GetModuleFileNameW(NULL, folder, MAX_PATH) < MAX_PATH) {
            PathRemoveFileSpecW(folder);
            // Started through an 8.3 or "\\?\" path, a junction or a mapped drive: the record
            // names the folder as Windows names it once opened.
            WCHAR final[MAX_PATH];
            if (FinalFolderPath(folder, final))
                Copy(folder, final);
        }
    }
    LocalFree(argv);

    SetSilentRun(arguments.silent);
    // The log is a file the elevated uninstaller writes into: its path is taken only from a
    // command line that is valid as a whole, and a silent run refused it says why on the console.
    bool acceptable = isCopy || (ArgumentsAcceptable(arguments) && !(arguments.silent && arguments.help));
    if (!acceptable && arguments.silent) {
        TellUninstallRefusal(kOutcomeBadArguments, L"无效的命令行参数", arguments.problem[0] ? arguments.problem : L"/?");
        return kOutcomeBadArguments;
    }
    LogRefusal logRefusal;
    if (acceptable && arguments.log[0] && !OpenSetupLog(arguments.log, &logRefusal) && arguments.silent) {
        TellUninstallRefusal(kOutcomeLogRefused, arguments.log, DescribeLogRefusal(logRefusal));
        return kOutcomeLogRefused;
    }
    if (!isCopy) {
        LogStep(L"%s：%s", kCaption, GetCommandLineW());
        if (arguments.help) {
            MessageBoxW(NULL,
                        L"岚舟浏览器卸载程序的命令行选项：\r\n\r\n"
                        L"/S\t静默卸载：不显示页面和提示，以退出代码报告结果\r\n"
                        L"/RemoveData=0|1\t同时删除浏览数据（默认为 0）\r\n"
                        L"/Log=<文件>\t将卸载过程记录到 UTF-8 日志文件\r\n"
                        L"/?\t显示本说明",
                        kCaption, MB_OK | MB_ICONINFORMATION);
            return EndRun(-1);
        }
        if (arguments.silent && !RunsAsAdministrator())
            return EndRun(kOutcomeNotElevated);
        FormUninstallerOptions(arguments, options, kArgumentChars + MAX_PATH);
    }

    DetectUserFolders(folder);
    // Another user who could change the folder, the record or this program could have written
    // what the elevated uninstaller would act on.
    int outcome = kOutcomeDone;
    CInstallRecord record;
    if (FolderOnNetwork(folder)) {
        // What a share holds its server changes: the elevated uninstaller acts on nothing there.
        LogStep(L"安装目录 %s 位于网络上", folder);
        ShowMessage(NULL, L"岚舟浏览器的安装目录位于网络上的文件夹中。\r\n为了安全，卸载程序没有删除任何文件。", kCaption,
                    MB_OK | MB_ICONERROR);
        outcome = kOutcomeOthersCouldChange;
    } else if (InstallationOthersCouldChange(folder)) {
        ShowMessage(NULL,
                    L"其他用户可以更改岚舟浏览器的安装目录、它上层的文件夹、安装记录或卸载程序。\r\n"
                    L"为了安全，卸载程序没有删除任何文件。",
                    kCaption, MB_OK | MB_ICONERROR);
        outcome = kOutcomeOthersCouldChange;
    } else {
        RecordLoadResult loaded = record.Load(folder, CInstallOptions::Instance().Places());
        if (loaded != kRecordValid)
            outcome = Refuse(loaded);
    }
    if (outcome != kOutcomeDone) {
        // An interactive refusal ends with 2, as it always has.
        if (!arguments.silent)
            outcome = 2;
        SendAnswer(answer, outcome);
        return isCopy ? outcome : EndRun(outcome);
    }
    // Where no copy can run, this one does the work; its own file then stays, in use.
    HANDLE copyAnswer = NULL;
    if (!isCopy && StartCopy(folder, options, arguments.silent ? &copyAnswer : NULL))
        return arguments.silent ? EndRun(ReadAnswer(copyAnswer)) : 0;

    int result = 1;
    if (arguments.silent) {
        // The uninstaller in the install folder runs on until this copy answers: its file, held
        // open for deletion meanwhile, goes once it has ended.
        HANDLE runningUninstaller = NULL;
        result = RemoveSilently(record, arguments, first ? &runningUninstaller : NULL);
        SendAnswer(answer, result);
        if (first) {
            WaitForSingleObject(first, 30000);
            CloseHandle(first);
            if (runningUninstaller && !DeleteUninstallerOnceEnded(runningUninstaller, record))
                LogStep(L"卸载程序的文件未能删除");
        }
    } else {
        result = RunPage(record, arguments.removeData == 1, showCommand);
    }
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
    // The program the user started writes the silent run's last line; this one only its own.
    if (!isCopy)
        return EndRun(result);
    CloseSetupLog();
    return result;
}
