// Program entry: single instance, process-wide state, the first page, the worker, the loop.
#include "base/DllSafety.h"
#include "base/SystemEnvironment.h"
#include "app/InstallOptions.h"
#include "app/InstallWorker.h"
#include "app/MessageLoop.h"
#include "app/Outcomes.h"
#include "app/SilentInstall.h"
#include "app/Versions.h"
#include "base/Format.h"
#include "base/SetupLog.h"
#include "base/SetupText.h"
#include "engine/update/FileUpdate.h"
#include "base/FolderSecurity.h"
#include "engine/shortcuts/Shortcuts.h"
#include "pages/PageSet.h"
#include "skin/CommonControls.h"
#include "skin/GdiPlus.h"
#include "skin/SkinStore.h"
#include <objbase.h>

// A second copy gives way when the first one already shows a page: that page is brought to
// the front. False when no such page exists (the first copy is still starting up).
static bool ActivateRunningCopy()
{
    HWND window = FindWindowW(NULL, g_strSetupTitle);
    if (!window)
        return false;
    if (IsIconic(window))
        ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
    BringWindowToTop(window);
    return true;
}

// A silent run refused before it changed anything: the reason goes to the console of whoever
// started it, as no log holds it.
static int TellRefusal(int code, const WCHAR *pattern, const WCHAR *first, const WCHAR *second = L"")
{
    WCHAR reason[600], line[700];
    FormatText(reason, 600, pattern, first, second);
    FormatText(line, 700, L"%s：%s（退出代码 %d）", g_strSetupTitle, reason, code);
    TellConsole(line);
    return code;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int showCommand)
{
    RestrictDllSearchToSystem();
    EnableDataExecutionPrevention();
    if (!UseTheSystemsOwnVariables())
        return kOutcomeCopyFailed;
    OwnWhatThisProcessMakesAsAdministrators();
    // A folder on a drive without a disk is answered by the setup's own message, never by the
    // system's "there is no disk" box.
    SetErrorMode(SEM_FAILCRITICALERRORS);
    FormatSetupTitle();

    Arguments arguments;
    ReadArguments(SkipProgramName(GetCommandLineW()), kSetupArguments, arguments);
    SetSilentRun(arguments.silent);
    // The log is a file the elevated setup writes into: its path is taken only from a command
    // line that is valid as a whole. Without /S a wrong option is passed over, as an unknown word
    // always was, and the run goes on without a log.
    bool acceptable = ArgumentsAcceptable(arguments) && !(arguments.silent && arguments.help);
    if (!acceptable && arguments.silent)
        return TellRefusal(kOutcomeBadArguments, L"无效的命令行参数：%s",
                           arguments.problem[0] ? arguments.problem : L"/?");
    LogRefusal logRefusal;
    if (acceptable && arguments.log[0] && !OpenSetupLog(arguments.log, &logRefusal) && arguments.silent)
        return TellRefusal(kOutcomeLogRefused, L"无法使用日志文件 %s：%s", arguments.log, DescribeLogRefusal(logRefusal));
    LogStep(L"%s %s：%s", g_strSetupTitle, SetupVersion(), GetCommandLineW());
    if (arguments.help) {
        ShowCommandLineHelp();
        return EndRun(-1);
    }

    if (arguments.silent) {
        SilentRunLock lock;
        // A silent run gives way to any other setup, and shows nothing for it.
        if (!TakeSilentRunLock(lock))
            return EndRun(kOutcomeAnotherSetup);
        int outcome;
        {
            // Only the link files need COM, and they are written on threads of their own:
            // starting it, with the link objects, waits on nothing the run does before them.
            CLinkObjectsThread linkObjects;
            outcome = RunSilentInstall(arguments);
        }
        WaitForFileUpdates();
        CInstallOptions::Instance().ScheduleTempCleanup();
        ReleaseSilentRunLock(lock);
        return EndRun(outcome);
    }

    HANDLE mutex = CreateMutexW(NULL, TRUE, g_strSetupTitle);
    if (GetLastError() == ERROR_ALREADY_EXISTS && ActivateRunningCopy()) {
        if (mutex)
            CloseHandle(mutex);
        return EndRun(-1);
    }

    FormatExitPrompt();
    CoInitialize(NULL);
    InitCommonControlsClasses(ICC_BAR_CLASSES | ICC_COOL_CLASSES);
    MessageLoops::Initialize();
    CMessageLoop loop;
    MessageLoops::Register(&loop);

    CInstallOptions &options = CInstallOptions::Instance();
    options.DetectFolders();
    WCHAR refusal[256];
    if (!ApplyArguments(arguments, options, refusal))
        LogStep(L"未采用命令行中的安装目录：%s", refusal);
    StartGdiPlus();
    WarmUpPngDecoder();
    int state = options.m_nState;
    CreateSkinFonts();

    CSetupPage *first = CPageSet::Instance().FirstPage(state);
    if (first) {
        ShowWindow(first->m_hWnd, showCommand);
        // The page is painted before the worker starts writing and unpacking the payload: the
        // two would compete for the processor while the user waits for the first picture.
        UpdateWindow(first->m_hWnd);
    }
    StartWorker();

    int result = loop.Run();

    // Whatever way the setup ends, its temporary folder goes (or, where still in use, is
    // scheduled to go at restart) once the worker is done with it.
    StopWorker(60000);
    // Never end in the middle of replacing the browser's files, however long the wait.
    WaitForFileUpdates();
    options.ScheduleTempCleanup();

    MessageLoops::Unregister();
    MessageLoops::Terminate();
    CoUninitialize();
    if (mutex)
        CloseHandle(mutex);
    return EndRun(result);
}
