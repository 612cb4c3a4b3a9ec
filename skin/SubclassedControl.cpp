#include "skin/SubclassedControl.h"
#include "skin/Accessible.h"
#include "skin/WindowTable.h"
#include <commctrl.h>

// The skinned controls, by window: only the pages' thread makes and uses them.
static CWindowTable g_controls;
// The control whose own handler is telling its parent of an activation right now.
static HWND g_hNotifying = NULL;

bool CSubclassedControl::Subclass(HWND window)
{
    if (!window || !g_controls.Set(window, this))
        return false;
    m_hWnd = window;
    m_prevProc = (WNDPROC)SetWindowLongPtrW(window, GWLP_WNDPROC, (LONG_PTR)WindowProc);
    if (!m_prevProc) {
        g_controls.Set(window, NULL);
        m_hWnd = NULL;
        return false;
    }
    return true;
}

void CSubclassedControl::NotifyParent(WORD code)
{
    HWND previous = g_hNotifying;
    g_hNotifying = m_hWnd;
    SendMessageW(GetParent(m_hWnd), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(m_hWnd), code), (LPARAM)m_hWnd);
    g_hNotifying = previous;
}

bool CSubclassedControl::Activates(HWND control)
{
    CSubclassedControl *found = (CSubclassedControl *)g_controls.Find(control);
    return found && found->m_bActivates;
}

bool CSubclassedControl::TakeNotification(HWND control)
{
    if (!control || control != g_hNotifying)
        return false;
    g_hNotifying = NULL;
    return true;
}

void CSubclassedControl::PressLater()
{
    m_bPressPending = true;
    if (!SetTimer(m_hWnd, kPressTimer, 0, NULL))
        m_bPressPending = false;
}

bool CSubclassedControl::TakePendingPress(WPARAM timer)
{
    if (timer != kPressTimer)
        return false;
    KillTimer(m_hWnd, kPressTimer);
    bool pending = m_bPressPending;
    m_bPressPending = false;
    return pending;
}

bool IsRealKeyDown(int key)
{
    return GetKeyState(key) < 0;
}

LRESULT CSubclassedControl::CallPrevious(UINT message, WPARAM wParam, LPARAM lParam)
{
    return CallWindowProcW(m_prevProc, m_hWnd, message, wParam, lParam);
}

void CSubclassedControl::PaintClient(WPARAM wParam)
{
    if (wParam) {
        Paint((HDC)wParam);
        return;
    }
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    Paint(dc);
    EndPaint(m_hWnd, &paint);
}

LRESULT CALLBACK CSubclassedControl::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CSubclassedControl *control = (CSubclassedControl *)g_controls.Find(window);
    if (!control)
        return DefWindowProcW(window, message, wParam, lParam);
    // Destruction is the window's own doing, on its own thread.
    if ((message == WM_NCDESTROY || message == WM_DESTROY) && InSendMessage())
        return 0;
    LRESULT result = 0;
    if (control->HandleMessage(message, wParam, lParam, result))
        return result;
    result = control->CallPrevious(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        g_controls.Set(window, NULL);
        RegisterAccessibleSource(window, NULL);
        control->m_hWnd = NULL;
    }
    return result;
}

void RelayToTooltip(HWND tooltip, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!tooltip)
        return;
    MSG msg = {window, message, wParam, lParam, 0, {0, 0}};
    SendMessageW(tooltip, TTM_RELAYEVENT, 0, (LPARAM)&msg);
}

HWND CreateControlTooltip(HWND parent)
{
    return CreateWindowExW(0, TOOLTIPS_CLASSW, NULL, 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, parent, NULL, GetModuleHandleW(NULL), NULL);
}

void DestroyControlTooltip(HWND &tooltip)
{
    if (tooltip)
        DestroyWindow(tooltip);
    tooltip = NULL;
}

void Repaint(HWND window)
{
    InvalidateRect(window, NULL, TRUE);
    UpdateWindow(window);
}
