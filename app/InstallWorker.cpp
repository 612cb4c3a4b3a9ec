#include "app/InstallWorker.h"
#include "app/InstallOptions.h"
#include "app/MessageLoop.h"
#include "app/SetupMessages.h"
#include "base/Format.h"
#include <objbase.h>

static CInstallWorker *volatile g_pWorker = NULL;

static LRESULT CALLBACK WorkerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CInstallWorker *worker = (CInstallWorker *)GetWindowLongPtrW(window, GWLP_USERDATA);
    if (message == WM_NCCREATE) {
        worker = (CInstallWorker *)((CREATESTRUCTW *)lParam)->lpCreateParams;
        // Read by the user-interface thread: published whole, after everything before it.
        InterlockedExchangePointer((PVOID volatile *)&worker->m_hWnd, window);
        SetWindowLongPtrW(window, GWLP_USERDATA, (LONG_PTR)worker);
    }
    if (!worker)
        return DefWindowProcW(window, message, wParam, lParam);
    // Only its own destruction, which start-up asks for, lets go of the window.
    if ((message == WM_NCDESTROY || message == WM_DESTROY) && !worker->m_bStopping)
        return 0;
    LRESULT result = worker->HandleMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        InterlockedExchangePointer((PVOID volatile *)&worker->m_hWnd, NULL);
        worker->OnFinalMessage(window);
    }
    return result;
}

WNDPROC CInstallWorker::GetWindowProc()
{
    return WorkerWindowProc;
}

LRESULT CInstallWorker::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    CInstallOptions &options = CInstallOptions::Instance();
    switch (message) {
    case WM_CLOSE:
        // The worker ends only when start-up asks (WM_SETUP_STOP), not when another program does.
        return 0;
    case WM_SETUP_STOP:
    case WM_SETUP_EXTRACT:
    case WM_SETUP_INSTALL:
    case WM_SETUP_FINISH:
        if (!IsSetupMessage(lParam))
            return 0;
        break;
    }
    switch (message) {
    case WM_SETUP_STOP:
        m_bStopping = true;
        DestroyWindow(m_hWnd);
        QuitMessageLoop(-1);
        if (wParam)
            SetEvent((HANDLE)wParam);
        return 0;
    case WM_SETUP_EXTRACT:
        options.ExtractPayload();
        return 0;
    case WM_SETUP_INSTALL:
        options.RunInstall((HWND)wParam);
        return 0;
    case WM_SETUP_FINISH:
        options.LaunchBrowser(wParam == 1);
        return 0;
    }
    return DefWindowProcW(m_hWnd, message, wParam, lParam);
}

HWND CInstallWorker::Create()
{
    // A private class under a name no other module can have taken, for a message-only window:
    // nothing to show, nothing to paint.
    WCHAR className[64];
    Format(className, L"VelmarinSetupWorker:%p:%lu", (void *)this, GetCurrentProcessId());
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = GetWindowProc();
    wc.hInstance = GetModuleHandleW(NULL);
    wc.lpszClassName = className;
    RegisterClassExW(&wc);
    return CreateWindowExW(0, className, NULL, 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, wc.hInstance, this);
}

struct WorkerStart {
    CInstallWorker *worker;
    HANDLE windowReady;
};

static DWORD WINAPI WorkerThread(LPVOID param)
{
    WorkerStart *start = (WorkerStart *)param;
    CInstallWorker *worker = start->worker;
    HANDLE windowReady = start->windowReady;
    delete start;
    CoInitialize(NULL);
    InterlockedExchangePointer((PVOID volatile *)&g_pWorker, worker);
    HWND window = worker->Create();
    // The extraction is the first command in the queue, so an install posted by the progress
    // page always finds the payload unpacked.
    PostSetupMessage(window, WM_SETUP_EXTRACT, 0);
    SetEvent((HANDLE)windowReady);
    MSG msg;
    while (GetOwnMessage(&msg) > 0)
        DispatchMessageW(&msg);
    CoUninitialize();
    return 0;
}

void StartWorker(CInstallWorker *worker)
{
    // Wait until the worker's window exists: a command posted to a window that is not there
    // yet would be lost, and the user may reach the progress page quickly.
    HANDLE windowReady = CreateEventW(NULL, TRUE, FALSE, NULL);
    WorkerStart *start = new WorkerStart;
    start->worker = worker ? worker : new CInstallWorker();
    start->windowReady = windowReady;
    HANDLE thread = CreateThread(NULL, 0, WorkerThread, start, 0, NULL);
    if (!thread)
        delete start;
    if (thread) {
        // After a time-out the worker may still signal the event, so it is kept then.
        if (windowReady && WaitForSingleObject(windowReady, 10000) == WAIT_OBJECT_0)
            CloseHandle(windowReady);
        CloseHandle(thread);
    } else if (windowReady) {
        CloseHandle(windowReady);
    }
}

HWND GetWorkerWindow()
{
    CInstallWorker *worker = (CInstallWorker *)InterlockedCompareExchangePointer((PVOID volatile *)&g_pWorker, NULL, NULL);
    return worker ? (HWND)InterlockedCompareExchangePointer((PVOID volatile *)&worker->m_hWnd, NULL, NULL) : NULL;
}

HWND WaitForWorkerWindow(DWORD timeoutMs)
{
    DWORD started = GetTickCount();
    HWND window = GetWorkerWindow();
    while (!window && GetTickCount() - started < timeoutMs) {
        Sleep(50);
        window = GetWorkerWindow();
    }
    return window;
}

void StopWorker(DWORD timeoutMs)
{
    HWND window = GetWorkerWindow();
    HANDLE stopped = window ? CreateEventW(NULL, TRUE, FALSE, NULL) : NULL;
    if (!stopped)
        return;
    // The worker ends once its current command is done: a payload that is still unpacking is
    // waited for, never stopped.
    if (!PostSetupMessage(window, WM_SETUP_STOP, (WPARAM)stopped)) {
        CloseHandle(stopped);
        return;
    }
    // After a time-out the worker may still signal the event, so it is kept then.
    if (WaitForSingleObject(stopped, timeoutMs) == WAIT_OBJECT_0)
        CloseHandle(stopped);
}
