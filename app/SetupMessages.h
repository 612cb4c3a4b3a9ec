// Private window messages between the user-interface thread and the worker thread.
// All of them are posted, never sent, and each carries this process's key (SetupMessageKey) as
// its lParam: any program that may post to the setup's windows can post a message of these
// numbers, and one without the key is not acted on.
#pragma once
#include <windows.h>

enum : UINT {
    WM_SETUP_EXTRACT  = 0x1401,  // worker -> worker, once at start: unpack the payload
    WM_SETUP_INSTALL  = 0x1402,  // progress page -> worker, wParam = progress page: install
    WM_SETUP_STOP     = 0x1403,  // start-up -> worker: end after the current command, wParam =
                                 // an event it then sets
    WM_SETUP_PROGRESS = 0x3401,  // install sequence -> progress page, wParam = target percentage
    WM_SETUP_END      = 0x3402,  // engine -> progress page: the setup ends
    WM_SETUP_FINISH   = 0x3403,  // finish page -> worker, wParam 1 = start the browser
};

// The key of this process's own private messages: random, made at the first call, never shown
// to any other process. The private messages of the pages (the progress page's, the
// uninstaller's) carry it too.
LPARAM SetupMessageKey();
// Posts one of them with the key; what PostMessageW answers.
BOOL PostSetupMessage(HWND window, UINT message, WPARAM wParam);
// Whether a message carries the key.
inline bool IsSetupMessage(LPARAM lParam)
{
    return lParam == SetupMessageKey();
}
