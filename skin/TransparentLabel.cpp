#include "skin/TransparentLabel.h"

bool CTransparentLabel::HandleMessage(UINT message, WPARAM, LPARAM, LRESULT &result)
{
    switch (message) {
    case WM_ERASEBKGND:
        // The page's pixels stay visible behind the text.
        result = 1;
        return true;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(m_hWnd, &paint);
        WCHAR text[1024];
        int length = GetWindowTextW(m_hWnd, text, 1024);
        SetBkMode(dc, TRANSPARENT);
        HFONT font = (HFONT)SendMessageW(m_hWnd, WM_GETFONT, 0, 0);
        HGDIOBJ previous = font ? SelectObject(dc, font) : NULL;
        SetTextColor(dc, m_clrText);
        RECT client;
        GetClientRect(m_hWnd, &client);
        LONG style = GetWindowLongW(m_hWnd, GWL_STYLE) & SS_TYPEMASK;
        UINT align = style == SS_CENTER ? DT_CENTER : style == SS_RIGHT ? DT_RIGHT : DT_LEFT;
        DrawTextW(dc, text, length, &client, DT_SINGLELINE | align);
        if (previous)
            SelectObject(dc, previous);
        EndPaint(m_hWnd, &paint);
        result = 0;
        return true;
    }
    }
    return false;
}
