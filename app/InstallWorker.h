// The worker thread and its hidden message-only window. It runs the engine's long operations
// one at a time, in the order their commands arrive, so the pages stay responsive.
#pragma once
#include <windows.h>

class CInstallWorker {
public:
    CInstallWorker() : m_hWnd(NULL), m_bStopping(false) {}
    virtual ~CInstallWorker() {}

    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    virtual WNDPROC GetWindowProc();
    virtual void OnFinalMessage(HWND) {}

    HWND Create();

    HWND m_hWnd;
    // Set when start-up has asked it to end: its window goes only then.
    bool m_bStopping;
};

// Starts the worker thread (once, from start-up after the first page is shown) with a worker
// object, by default the one that runs the engine. The thread takes the object over.
void StartWorker(CInstallWorker *worker = NULL);
// The worker's window, or null until the worker thread has created it.
HWND GetWorkerWindow();
// The worker's window, waiting for it up to the time-out; null when it never came.
HWND WaitForWorkerWindow(DWORD timeoutMs);
// Asks the worker to end after its current command and waits for it up to the time-out.
void StopWorker(DWORD timeoutMs);
