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

// The module's registry of message loops, keyed by thread id and guarded by one lock.
namespace MessageLoops {
void Initialize();
void Terminate();
bool Register(CMessageLoop *loop);
void Unregister();
CMessageLoop *ForCurrentThread();
}
