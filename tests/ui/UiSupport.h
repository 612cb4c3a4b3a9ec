// What the wizard's windows need in a test process: the setup texts, the message loop of the
// thread, GDI+ and the skin fonts, as start-up prepares them.
#pragma once
#include "app/MessageLoop.h"
#include <windows.h>
#include <vector>

namespace test {

void PrepareUserInterface();
// A worker thread that takes the pages' commands and does nothing with them.
void StartIdleWorker();
// The loop the pages register their filters with.
CMessageLoop &UiLoop();

// Runs the thread's loop the way the setup does (filters first) until the condition holds or
// the time is up. Returns true when WM_QUIT arrived; its wParam goes to *quitCode.
template <class Condition>
bool RunLoopUntil(Condition done, DWORD timeoutMs, int *quitCode = nullptr)
{
    DWORD start = GetTickCount();
    MSG msg;
    while (!done() && GetTickCount() - start < timeoutMs) {
        // The condition is looked at after every message: a slow paint can let two timer
        // ticks through in one go.
        while (!done() && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                if (quitCode)
                    *quitCode = (int)msg.wParam;
                return true;
            }
            if (!UiLoop().PreTranslateMessage(&msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return false;
}

// A plain top-level window that records the WM_COMMAND messages its children send, and
// whether the sender held the mouse capture at that moment.
class CommandRecorder {
public:
    CommandRecorder();
    ~CommandRecorder();
    HWND Window() const { return m_window; }

    struct Command {
        WORD id, code;
        HWND sender;
        bool senderHadCapture;
    };
    std::vector<Command> commands;

private:
    static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
    HWND m_window;
};

// Sets how this thread's input state holds `key` (a virtual key, VK_LBUTTON included), as the
// system's own input would have left it before the message it makes.
void HoldKey(int key, bool down);

// Activates a skinned button or link as the system's own input does: a click inside a button,
// Enter typed on a link.
void PressLikeTheUser(HWND control);

// Client pixels of a window drawn through WM_PRINTCLIENT into a 32-bit surface.
std::vector<DWORD> RenderClient(HWND window, int &width, int &height);

}
