// Private window messages between the user-interface thread and the worker thread.
// All of them are posted, never sent.
#pragma once
#include <windows.h>

enum : UINT {
    WM_SETUP_EXTRACT  = 0x1401,  // worker -> worker, once at start: unpack the payload
    WM_SETUP_INSTALL  = 0x1402,  // progress page -> worker, wParam = progress page: install
    WM_SETUP_PROGRESS = 0x3401,  // install sequence -> progress page, wParam = target percentage
    WM_SETUP_END      = 0x3402,  // engine -> progress page: the setup ends
    WM_SETUP_FINISH   = 0x3403,  // finish page -> worker, wParam 1 = start the browser
};
