// Base of the skinned controls: attaches to a control that a dialog template already created
// by replacing its window procedure; what the control does not handle goes to the previous one.
#pragma once
#include <windows.h>

class CSubclassedControl {
public:
    CSubclassedControl() : m_hWnd(NULL), m_prevProc(NULL) {}
    virtual ~CSubclassedControl() {}

    bool Subclass(HWND window);

    HWND m_hWnd;
    WNDPROC m_prevProc;

protected:
    // Returns true when the message is handled and `result` is the answer; false passes it on.
    virtual bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result) = 0;
    LRESULT CallPrevious(UINT message, WPARAM wParam, LPARAM lParam);
    // WM_PAINT and WM_PRINTCLIENT: paints into the context in wParam, or between BeginPaint
    // and EndPaint when there is none.
    void PaintClient(WPARAM wParam);
    virtual void Paint(HDC) {}

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

// Relays a mouse message of `window` to its tooltip.
void RelayToTooltip(HWND tooltip, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Creates the tooltip window of a control.
HWND CreateControlTooltip(HWND parent);
// Destroys a control's tooltip window, if it has one.
void DestroyControlTooltip(HWND &tooltip);
// InvalidateRect with erase, then UpdateWindow.
void Repaint(HWND window);
