// Base of the skinned controls: attaches to a control that a dialog template already created
// by replacing its window procedure; what the control does not handle goes to the previous one.
#pragma once
#include <windows.h>

class CSubclassedControl {
public:
    CSubclassedControl() : m_hWnd(NULL), m_prevProc(NULL), m_bActivates(false), m_bPressPending(false) {}
    virtual ~CSubclassedControl() {}

    bool Subclass(HWND window);

    // Whether `control` is a skinned control that tells its parent of activations (a button, a
    // link), and whether its own handler is doing so right now (NotifyParent): what a page acts
    // on, unlike a WM_COMMAND naming it that any program may post or send to the page. Taken once:
    // a command that arrives while the page acts on the first (in a message box's loop) is not it.
    static bool Activates(HWND control);
    static bool TakeNotification(HWND control);

    HWND m_hWnd;
    WNDPROC m_prevProc;

protected:
    // Tells the parent of an activation: WM_COMMAND with the control's ID and `code`, sent. A
    // control that does so says it at Attach (m_bActivates).
    void NotifyParent(WORD code);
    bool m_bActivates;
    // A press asked for by a screen reader: carried out a moment later, from this control's own
    // timer (TakePendingPress), so that the reader's call returns at once.
    enum { kPressTimer = 0x5645 };
    void PressLater();
    // For WM_TIMER: whether `timer` is the press timer and a press was asked for.
    bool TakePendingPress(WPARAM timer);

    // Returns true when the message is handled and `result` is the answer; false passes it on.
    virtual bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result) = 0;
    LRESULT CallPrevious(UINT message, WPARAM wParam, LPARAM lParam);
    // WM_PAINT and WM_PRINTCLIENT: paints into the context in wParam, or between BeginPaint
    // and EndPaint when there is none.
    void PaintClient(WPARAM wParam);
    virtual void Paint(HDC) {}

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool m_bPressPending;
};

// Whether the system's own input holds `key` (a virtual key, or VK_LBUTTON) down, as the input
// messages read so far left it: a mouse or key message that any program may post to a window
// changes no such state, and presses nothing.
bool IsRealKeyDown(int key);

// Relays a mouse message of `window` to its tooltip.
void RelayToTooltip(HWND tooltip, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Creates the tooltip window of a control.
HWND CreateControlTooltip(HWND parent);
// Destroys a control's tooltip window, if it has one.
void DestroyControlTooltip(HWND &tooltip);
// InvalidateRect with erase, then UpdateWindow.
void Repaint(HWND window);
