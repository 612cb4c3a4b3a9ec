#include "skin/LinkLabel.h"
#include "base/Format.h"
#include "skin/Accessible.h"
#include <oleacc.h>
#include <commctrl.h>
#include <stdlib.h>
#include <wchar.h>

int LinkAlignmentShift(LONG staticType, int clientRight, int measuredRight)
{
    if (staticType == SS_CENTER)
        return (clientRight - measuredRight) / 2;
    if (staticType == SS_RIGHT)
        return clientRight - measuredRight;
    return 0;
}

CLinkLabel::CLinkLabel()
    : m_dwStyle(0), m_hHandCursor(NULL), m_hLinkFont(NULL), m_bOwnLinkFont(0), m_hPlainFont(NULL),
      m_pszText(NULL), m_clrLinkText(RGB(0, 0, 255)), m_bDrawsText(1), m_hToolTip(NULL)
{
    SetRectEmpty(&m_rcText);
}

CLinkLabel::~CLinkLabel()
{
    free(m_pszText);
    UseLinkFont(NULL);
}

bool CLinkLabel::Attach(HWND window)
{
    if (!Subclass(window))
        return false;
    RegisterAccessibleSource(window, this);
    m_bActivates = true;
    WCHAR className[8];
    GetClassNameW(window, className, 8);
    if (lstrcmpiW(className, L"static") == 0) {
        LONG style = GetWindowLongW(window, GWL_STYLE);
        if (!(style & SS_NOTIFY))
            SetWindowLongW(window, GWL_STYLE, style | SS_NOTIFY);
        LONG type = style & 0xFF;
        if ((type >= 3 && type <= 9) || (type >= 13 && type <= 15))
            m_bDrawsText = 0;
    }
    m_hHandCursor = LoadCursorW(NULL, (LPCWSTR)IDC_HAND);
    if (m_bDrawsText) {
        HFONT parentFont = (HFONT)SendMessageW(GetParent(window), WM_GETFONT, 0, 0);
        m_hPlainFont = parentFont ? parentFont : (HFONT)GetStockObject(SYSTEM_FONT);
        if (!m_hLinkFont) {
            LOGFONTW logFont;
            if (GetObjectW(m_hPlainFont, sizeof(logFont), &logFont)) {
                logFont.lfUnderline = TRUE;
                m_hLinkFont = CreateFontIndirectW(&logFont);
                m_bOwnLinkFont = m_hLinkFont != NULL;
            }
        }
    }
    if ((!m_pszText || !m_pszText[0]) && GetWindowTextLengthW(window) > 0) {
        int length = GetWindowTextLengthW(window) + 1;
        free(m_pszText);
        m_pszText = (WCHAR *)malloc(length * sizeof(WCHAR));
        if (m_pszText) {
            GetWindowTextW(window, m_pszText, length);
            MeasureLink();
            SetWindowTextW(window, m_pszText);
        }
    }
    MeasureLink();
    // The tooltip window is made when the pointer first comes over the link, with the text
    // rectangle as it is measured then.
    return true;
}

void CLinkLabel::EnsureTooltip()
{
    if (m_hToolTip || !m_hWnd)
        return;
    m_hToolTip = CreateControlTooltip(m_hWnd);
    if (!m_hToolTip)
        return;
    SendMessageW(m_hToolTip, TTM_ACTIVATE, TRUE, 0);
    TOOLINFOW tool = {};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = m_hWnd;
    tool.uId = 1;
    tool.rect = m_rcText;
    tool.hinst = GetModuleHandleW(NULL);
    tool.lpszText = m_pszText;
    SendMessageW(m_hToolTip, TTM_ADDTOOLW, 0, (LPARAM)&tool);
}

void CLinkLabel::UseLinkFont(HFONT font)
{
    if (m_bOwnLinkFont && m_hLinkFont)
        DeleteObject(m_hLinkFont);
    m_bOwnLinkFont = 0;
    m_hLinkFont = font;
}

UINT CLinkLabel::Alignment() const
{
    LONG type = GetWindowLongW(m_hWnd, GWL_STYLE) & SS_TYPEMASK;
    return type == SS_CENTER ? DT_CENTER : type == SS_RIGHT ? DT_RIGHT : DT_LEFT;
}

void CLinkLabel::MeasureLink()
{
    if (!m_hWnd || !IsWindow(m_hWnd) || !m_pszText)
        return;
    RECT client;
    GetClientRect(m_hWnd, &client);
    m_rcText = client;
    if (m_bDrawsText) {
        HDC dc = GetDC(m_hWnd);
        HGDIOBJ previous = m_hLinkFont ? SelectObject(dc, m_hLinkFont) : NULL;
        DrawTextW(dc, m_pszText, -1, &m_rcText, Alignment() | DT_WORDBREAK | DT_CALCRECT);
        if (previous)
            SelectObject(dc, previous);
        ReleaseDC(m_hWnd, dc);
        LONG type = GetWindowLongW(m_hWnd, GWL_STYLE) & SS_TYPEMASK;
        OffsetRect(&m_rcText, LinkAlignmentShift(type, client.right, m_rcText.right), 0);
    }
    // Measured again at another DPI: the tooltip follows the text.
    if (m_hToolTip) {
        TOOLINFOW tool = {};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.hwnd = m_hWnd;
        tool.uId = 1;
        tool.rect = m_rcText;
        SendMessageW(m_hToolTip, TTM_NEWTOOLRECTW, 0, (LPARAM)&tool);
    }
}

void CLinkLabel::Paint(HDC dc)
{
    RECT client;
    GetClientRect(m_hWnd, &client);
    HBRUSH background = (HBRUSH)SendMessageW(GetParent(m_hWnd), WM_CTLCOLORSTATIC, (WPARAM)dc, (LPARAM)m_hWnd);
    if (background)
        FillRect(dc, &client, background);
    SetBkMode(dc, TRANSPARENT);
    COLORREF previousColour =
        SetTextColor(dc, IsWindowEnabled(m_hWnd) ? m_clrLinkText : GetSysColor(COLOR_GRAYTEXT));
    HFONT font = m_hLinkFont ? m_hLinkFont : m_hPlainFont;
    HGDIOBJ previousFont = font ? SelectObject(dc, font) : NULL;
    if (m_pszText) {
        RECT rect = m_rcText;
        DrawTextW(dc, m_pszText, -1, &rect, Alignment() | DT_WORDBREAK);
    }
    if (GetFocus() == m_hWnd && !(SendMessageW(m_hWnd, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS))
        DrawFocusRect(dc, &m_rcText);
    SetTextColor(dc, previousColour);
    if (previousFont)
        SelectObject(dc, previousFont);
}

void CLinkLabel::ReportActivation()
{
    if (m_dwStyle & kCommandMode)
        NotifyParent(0);
}

bool CLinkLabel::PointInText(LPARAM lParam) const
{
    POINT point = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
    return PtInRect(&m_rcText, point) != FALSE;
}

bool CLinkLabel::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result)
{
    if (message >= WM_MOUSEFIRST && message <= WM_XBUTTONDBLCLK) {
        EnsureTooltip();
        RelayToTooltip(m_hToolTip, m_hWnd, message, wParam, lParam);
    }
    result = 0;
    switch (message) {
    case WM_MOUSEMOVE:
        if (PointInText(lParam)) {
            SetCursor(m_hHandCursor);
            return true;
        }
        return false;
    case WM_SETCURSOR: {
        POINT point;
        GetCursorPos(&point);
        ScreenToClient(m_hWnd, &point);
        if (PtInRect(&m_rcText, point)) {
            SetCursor(m_hHandCursor);
            result = TRUE;
            return true;
        }
        return false;
    }
    case WM_LBUTTONDOWN:
        if (PointInText(lParam) && IsRealKeyDown(VK_LBUTTON)) {
            SetFocus(m_hWnd);
            SetCapture(m_hWnd);
        }
        return true;
    case WM_LBUTTONUP:
        if (GetCapture() == m_hWnd && !IsRealKeyDown(VK_LBUTTON)) {
            ReleaseCapture();
            if (PointInText(lParam))
                ReportActivation();
        }
        return true;
    case WM_CHAR:
        // Typed: the key that makes the character is down.
        if ((wParam == VK_RETURN || wParam == VK_SPACE) && IsRealKeyDown((int)wParam))
            ReportActivation();
        return true;
    case WM_GETDLGCODE:
        result = DLGC_WANTCHARS;
        return true;
    case WM_GETOBJECT:
        result = AnswerAccessibleObject(m_hWnd, wParam, lParam);
        return result != 0;
    case WM_TIMER:
        if (!TakePendingPress(wParam))
            return false;
        ReportActivation();
        return true;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        if (message == WM_SETFOCUS)
            AnnounceFocus(m_hWnd);
        if (!m_bDrawsText)
            return false;
        InvalidateRect(m_hWnd, NULL, TRUE);
        return true;
    case WM_ENABLE:
        Repaint(m_hWnd);
        return true;
    case WM_SIZE:
        MeasureLink();
        InvalidateRect(m_hWnd, NULL, TRUE);
        return true;
    case WM_SETFONT:
        m_hPlainFont = (HFONT)wParam;
        if (lParam)
            Repaint(m_hWnd);
        return true;
    case WM_GETFONT:
        result = (LRESULT)m_hPlainFont;
        return true;
    case WM_PAINT:
    case WM_PRINTCLIENT:
        if (!m_bDrawsText)
            return false;
        PaintClient(wParam);
        return true;
    case WM_ERASEBKGND:
        result = 1;
        return true;
    case WM_UPDATEUISTATE:
        return true;
    case WM_DESTROY:
        DestroyControlTooltip(m_hToolTip);
        return false;
    }
    return false;
}

void CLinkLabel::DescribeForReaders(AccessibleFacts &facts)
{
    facts.role = ROLE_SYSTEM_LINK;
    facts.state = STATE_SYSTEM_LINKED | STATE_SYSTEM_FOCUSABLE;
    GetWindowTextW(m_hWnd, facts.name, 256);
    Copy(facts.action, L"跳转");
}

bool CLinkLabel::DoDefaultAction()
{
    PressLater();
    return true;
}
