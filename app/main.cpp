// Program entry: single instance, process-wide state, the first page, the worker, the loop.
#include "base/DllSafety.h"
#include "app/InstallOptions.h"
#include "app/InstallWorker.h"
#include "app/MessageLoop.h"
#include "base/SetupText.h"
#include "engine/FileUpdate.h"
#include "pages/PageSet.h"
#include "skin/GdiPlus.h"
#include "skin/SkinStore.h"
#include <commctrl.h>
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

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int showCommand)
{
    RestrictDllSearchToSystem();
    // A folder on a drive without a disk is answered by the setup's own message, never by the
    // system's "there is no disk" box.
    SetErrorMode(SEM_FAILCRITICALERRORS);
    FormatSetupTitle();

    HANDLE mutex = CreateMutexW(NULL, TRUE, g_strSetupTitle);
    if (GetLastError() == ERROR_ALREADY_EXISTS && ActivateRunningCopy()) {
        if (mutex)
            CloseHandle(mutex);
        return -1;
    }

    FormatExitPrompt();
    CoInitialize(NULL);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES | ICC_COOL_CLASSES};
    InitCommonControlsEx(&controls);
    MessageLoops::Initialize();
    CMessageLoop loop;
    MessageLoops::Register(&loop);

    CInstallOptions &options = CInstallOptions::Instance();
    options.DetectFolders();
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
    return result;
}
