// The user-interface thread's message loop with its ordered list of message filters. Each page
// adds its keyboard filter when it is initialised; the newest filter sees a message first.
#pragma once
#include <windows.h>

class CMessageFilter {
public:
    // Nonzero when the message is consumed and must not be translated or dispatched.
    virtual BOOL FilterMessage(MSG *msg) = 0;

protected:
    ~CMessageFilter() {}
};

class CMessageLoop {
public:
    enum { kMaxFilters = 16 };

    CMessageLoop() : m_nFilters(0) {}

    bool AddMessageFilter(CMessageFilter *filter);
    BOOL PreTranslateMessage(MSG *msg);
    // Runs until the quit message; returns its wParam.
    int Run();

private:
    CMessageFilter *m_filters[kMaxFilters];
    int m_nFilters;
};

// Ends the calling thread's message loop with `code`, as PostQuitMessage does; only a loop's own
// ending ends it.
void QuitMessageLoop(int code);
// GetMessageW for a thread's loop: 0 (with the code in wParam) only for the thread's own
// QuitMessageLoop, never for a quit message another program posted to the thread. Messages the
// system only ever sends, never posts (destruction, a new DPI, a command, a timer with a callback
// of its own), are dropped when they come posted: another program put them in the queue.
BOOL GetOwnMessage(MSG *msg);

// The module's registry of message loops, keyed by thread id and guarded by one lock.
namespace MessageLoops {
void Initialize();
void Terminate();
bool Register(CMessageLoop *loop);
void Unregister();
CMessageLoop *ForCurrentThread();
}
