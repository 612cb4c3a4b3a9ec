#include "skin/SubclassedControl.h"
#include <commctrl.h>

static const WCHAR kControlProperty[] = L"VelmarinSkinControl";

bool CSubclassedControl::Subclass(HWND window)
{
    if (!window)
        return false;
    m_hWnd = window;
    SetPropW(window, kControlProperty, this);
    m_prevProc = (WNDPROC)SetWindowLongPtrW(window, GWLP_WNDPROC, (LONG_PTR)WindowProc);
    if (!m_prevProc) {
        RemovePropW(window, kControlProperty);
        m_hWnd = NULL;
        return false;
    }
    return true;
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
    CSubclassedControl *control = (CSubclassedControl *)GetPropW(window, kControlProperty);
    if (!control)
        return DefWindowProcW(window, message, wParam, lParam);
    LRESULT result = 0;
    if (control->HandleMessage(message, wParam, lParam, result))
        return result;
    result = control->CallPrevious(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        RemovePropW(window, kControlProperty);
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
