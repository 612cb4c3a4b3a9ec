#include "engine/Process.h"
#include "base/DllSafety.h"
#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlobj.h>

HANDLE StartCommandLine(WCHAR *commandLine, int showMode)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_FORCEOFFFEEDBACK;
    startup.wShowWindow = (WORD)showMode;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return NULL;
    CloseHandle(process.hThread);
    return process.hProcess;
}

BOOL ExecCommandLine(WCHAR *commandLine, int showMode, DWORD waitMilliseconds)
{
    HANDLE process = StartCommandLine(commandLine, showMode);
    if (!process)
        return FALSE;
    DWORD waited = waitMilliseconds == 0 ? WAIT_OBJECT_0 : WaitForSingleObject(process, waitMilliseconds);
    CloseHandle(process);
    return waited == WAIT_OBJECT_0;
}

namespace {

// A VT_BSTR variant that frees its string.
struct BstrVariant {
    VARIANT value;
    explicit BstrVariant(const WCHAR *text)
    {
        Clear();
        if (text) {
            value.vt = VT_BSTR;
            value.bstrVal = AllocateBstr(text);
        }
    }
    ~BstrVariant()
    {
        if (value.vt == VT_BSTR)
            FreeBstr(value.bstrVal);
    }
    void Clear()
    {
        ZeroMemory(&value, sizeof(value));
        value.vt = VT_EMPTY;
    }
};

template <class Interface> void Release(Interface *&pointer)
{
    if (pointer)
        pointer->Release();
    pointer = NULL;
}

// The desktop's folder view, through which the shell starts programs as the user.
IShellDispatch2 *DesktopShellDispatch()
{
    IShellWindows *windows = NULL;
    IDispatch *desktop = NULL;
    IServiceProvider *services = NULL;
    IShellBrowser *browser = NULL;
    IShellView *view = NULL;
    IDispatch *background = NULL;
    IShellFolderViewDual *folderView = NULL;
    IDispatch *application = NULL;
    IShellDispatch2 *shell = NULL;
    VARIANT location, root;
    ZeroMemory(&location, sizeof(location));
    ZeroMemory(&root, sizeof(root));
    location.vt = root.vt = VT_EMPTY;
    long window = 0;
    // Each step must answer S_OK: S_FALSE means it found nothing.
    if (CoCreateInstance(CLSID_ShellWindows, NULL, CLSCTX_LOCAL_SERVER, IID_IShellWindows, (void **)&windows) == S_OK &&
        windows->FindWindowSW(&location, &root, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, &desktop) == S_OK && desktop &&
        desktop->QueryInterface(IID_IServiceProvider, (void **)&services) == S_OK &&
        services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, (void **)&browser) == S_OK &&
        browser->QueryActiveShellView(&view) == S_OK &&
        view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, (void **)&background) == S_OK &&
        background->QueryInterface(IID_IShellFolderViewDual, (void **)&folderView) == S_OK &&
        folderView->get_Application(&application) == S_OK && application)
        application->QueryInterface(IID_IShellDispatch2, (void **)&shell);
    Release(application);
    Release(folderView);
    Release(background);
    Release(view);
    Release(browser);
    Release(services);
    Release(desktop);
    Release(windows);
    return shell;
}

}

bool ShellExecuteAsDesktopUser(const WCHAR *file, const WCHAR *arguments, const WCHAR *folder, int showMode)
{
    BSTR fileText = file ? AllocateBstr(file) : NULL;
    IShellDispatch2 *shell = fileText ? DesktopShellDispatch() : NULL;
    if (!shell) {
        FreeBstr(fileText);
        return false;
    }
    BstrVariant args(arguments ? arguments : L""), directory(folder ? folder : L""), operation(L"open");
    VARIANT show;
    ZeroMemory(&show, sizeof(show));
    show.vt = VT_I4;
    show.lVal = showMode;
    bool started = shell->ShellExecute(fileText, args.value, directory.value, operation.value, show) == S_OK;
    FreeBstr(fileText);
    shell->Release();
    return started;
}
