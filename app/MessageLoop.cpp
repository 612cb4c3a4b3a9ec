#include "app/MessageLoop.h"

bool CMessageLoop::AddMessageFilter(CMessageFilter *filter)
{
    if (!filter || m_nFilters >= kMaxFilters)
        return false;
    m_filters[m_nFilters++] = filter;
    return true;
}

BOOL CMessageLoop::PreTranslateMessage(MSG *msg)
{
    for (int i = m_nFilters - 1; i >= 0; --i) {
        if (m_filters[i]->FilterMessage(msg))
            return TRUE;
    }
    return FALSE;
}

// The thread's own ending, asked for with QuitMessageLoop: a value of thread-local storage.
static DWORD QuitSlot()
{
    static volatile LONG slot = (LONG)TLS_OUT_OF_INDEXES;
    if (slot == (LONG)TLS_OUT_OF_INDEXES) {
        DWORD made = TlsAlloc();
        if (InterlockedCompareExchange(&slot, (LONG)made, (LONG)TLS_OUT_OF_INDEXES) != (LONG)TLS_OUT_OF_INDEXES &&
            made != TLS_OUT_OF_INDEXES)
            TlsFree(made);
    }
    return (DWORD)slot;
}

void QuitMessageLoop(int code)
{
    DWORD slot = QuitSlot();
    if (slot != TLS_OUT_OF_INDEXES)
        TlsSetValue(slot, (LPVOID)1);
    PostQuitMessage(code);
}

static bool NeverPosted(const MSG &msg)
{
    switch (msg.message) {
    case WM_NCDESTROY:
    case WM_DESTROY:
    case WM_NCCREATE:
    case WM_CREATE:
    case WM_DPICHANGED:
    case WM_COMMAND:
    case WM_ENDSESSION:
        return true;
    case WM_TIMER:
        return msg.lParam != 0;
    }
    return false;
}

BOOL GetOwnMessage(MSG *msg)
{
    for (;;) {
        BOOL result = GetMessageW(msg, NULL, 0, 0);
        if (result == 0) {
            DWORD slot = QuitSlot();
            if (slot == TLS_OUT_OF_INDEXES || TlsGetValue(slot))
                return 0;
            continue;
        }
        if (result > 0 && NeverPosted(*msg))
            continue;
        return result;
    }
}

int CMessageLoop::Run()
{
    MSG msg;
    for (;;) {
        BOOL result = GetOwnMessage(&msg);
        if (result == -1)
            continue;
        if (result == 0)
            return (int)msg.wParam;
        if (!PreTranslateMessage(&msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

namespace {
struct LoopEntry {
    DWORD threadId;
    CMessageLoop *loop;
};
enum { kMaxLoops = 8 };
CRITICAL_SECTION g_lock;
bool g_initialized = false;
LoopEntry g_loops[kMaxLoops];
}

namespace MessageLoops {

void Initialize()
{
    if (g_initialized)
        return;
    InitializeCriticalSection(&g_lock);
    g_initialized = true;
}

void Terminate()
{
    if (!g_initialized)
        return;
    DeleteCriticalSection(&g_lock);
    g_initialized = false;
}

bool Register(CMessageLoop *loop)
{
    if (!g_initialized)
        return false;
    bool added = false;
    EnterCriticalSection(&g_lock);
    DWORD thread = GetCurrentThreadId();
    for (int i = 0; i < kMaxLoops && !added; ++i) {
        if (!g_loops[i].loop || g_loops[i].threadId == thread) {
            g_loops[i].threadId = thread;
            g_loops[i].loop = loop;
            added = true;
        }
    }
    LeaveCriticalSection(&g_lock);
    return added;
}

void Unregister()
{
    if (!g_initialized)
        return;
    EnterCriticalSection(&g_lock);
    DWORD thread = GetCurrentThreadId();
    for (int i = 0; i < kMaxLoops; ++i) {
        if (g_loops[i].loop && g_loops[i].threadId == thread)
            g_loops[i].loop = NULL;
    }
    LeaveCriticalSection(&g_lock);
}

CMessageLoop *ForCurrentThread()
{
    if (!g_initialized)
        return NULL;
    CMessageLoop *found = NULL;
    EnterCriticalSection(&g_lock);
    DWORD thread = GetCurrentThreadId();
    for (int i = 0; i < kMaxLoops && !found; ++i) {
        if (g_loops[i].loop && g_loops[i].threadId == thread)
            found = g_loops[i].loop;
    }
    LeaveCriticalSection(&g_lock);
    return found;
}

}
