// The worker thread and its hidden message-only window. It runs the engine's long operations
// one at a time, in the order their commands arrive, so the pages stay responsive.
#pragma once
#include <windows.h>

class CInstallWorker {
public:
    CInstallWorker() : m_hWnd(NULL) {}
    virtual ~CInstallWorker() {}

    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    virtual WNDPROC GetWindowProc();
    virtual void OnFinalMessage(HWND) {}

    HWND Create();

    HWND m_hWnd;
};

// Starts the worker thread (once, from start-up after the first page is shown).
void StartWorker();
// The worker's window, or null until the worker thread has created it.
HWND GetWorkerWindow();
