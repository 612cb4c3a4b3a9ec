#include "skin/ImageButton.h"
#include "base/Format.h"
#include "skin/Accessible.h"
#include "skin/CommonControls.h"
#include <oleacc.h>
#include <stdlib.h>
#include <wchar.h>

CImageButton::CImageButton()
    : m_hImageList(NULL), m_nImageNormal(-1), m_nImagePressed(-1), m_nImageHover(-1),
      m_nImageDisabled(-1), m_hToolTip(NULL), m_pszTip(NULL), m_bHot(0), m_bDown(0), m_bSpaceDown(0)
{
}

CImageButton::~CImageButton()
{
    free(m_pszTip);
}

bool CImageButton::Attach(HWND window)
{
    if (!Subclass(window))
        return false;
    RegisterAccessibleSource(window, this);
    m_bActivates = true;
    LONG style = GetWindowLongW(window, GWL_STYLE);
    if ((style | BS_OWNERDRAW) != style)
        SetWindowLongW(window, GWL_STYLE, style | BS_OWNERDRAW);
    // The tooltip window is made when the pointer first comes over the button: it costs a
    // window per button, and nothing needs it before then.
    return true;
}

void CImageButton::EnsureTooltip()
{
    if (m_hToolTip || !m_hWnd)
        return;
    m_hToolTip = CreateControlTooltip(m_hWnd);
    if (m_pszTip && m_hToolTip) {
        SendMessageW(m_hToolTip, TTM_ACTIVATE, TRUE, 0);
        AddTool();
    }
}

void CImageButton::AddTool()
{
    TOOLINFOW tool = {};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND;
    tool.hwnd = GetParent(m_hWnd);
    tool.uId = (UINT_PTR)m_hWnd;
    tool.hinst = GetModuleHandleW(NULL);
    tool.lpszText = m_pszTip;
    SendMessageW(m_hToolTip, TTM_ADDTOOLW, 0, (LPARAM)&tool);
}

bool CImageButton::SetTip(const WCHAR *text)
{
    free(m_pszTip);
    m_pszTip = NULL;
    if (!text) {
        if (m_hToolTip)
            SendMessageW(m_hToolTip, TTM_ACTIVATE, FALSE, 0);
        return true;
    }
    size_t length = wcslen(text) + 1;
    m_pszTip = (WCHAR *)malloc(length * sizeof(WCHAR));
    if (!m_pszTip)
        return false;
    wmemcpy(m_pszTip, text, length);
    if (m_hToolTip) {
        SendMessageW(m_hToolTip, TTM_ACTIVATE, TRUE, 0);
        AddTool();
    }
    return true;
}

HIMAGELIST CImageButton::AssignImageList(HIMAGELIST list)
{
    HIMAGELIST previous = m_hImageList;
    m_hImageList = list;
    return previous;
}

void CImageButton::AssignImages(int normal, int pressed, int hover, int disabled)
{
    if (normal != -1)
        m_nImageNormal = normal;
    if (pressed != -1)
        m_nImagePressed = pressed;
    if (hover != -1)
        m_nImageHover = hover;
    if (disabled != -1)
        m_nImageDisabled = disabled;
}

int CImageButton::ChooseImage(bool disabled, bool down, bool hot) const
{
    int image = disabled ? m_nImageDisabled : down ? m_nImagePressed : hot ? m_nImageHover : m_nImageNormal;
    return image == -1 ? m_nImageNormal : image;
}

void CImageButton::Paint(HDC dc)
{
    int image = ChooseImage(!IsWindowEnabled(m_hWnd), m_bDown, m_bHot);
    if (m_hImageList && image >= 0)
        DrawFromImageList(m_hImageList, image, dc, 0, 0, ILD_NORMAL);
    WCHAR caption[1024];
    int length = GetWindowTextW(m_hWnd, caption, 1024);
    if (length <= 0)
        return;
    SetBkMode(dc, TRANSPARENT);
    HFONT font = (HFONT)SendMessageW(m_hWnd, WM_GETFONT, 0, 0);
    HGDIOBJ previous = font ? SelectObject(dc, font) : NULL;
    SetTextColor(dc, RGB(255, 255, 255));
    RECT rect;
    GetClientRect(m_hWnd, &rect);
    if (m_bDown)
        OffsetRect(&rect, 1, 1);
    DrawTextW(dc, caption, length, &rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    if (previous)
        SelectObject(dc, previous);
    // The focus cue, inside the cell, as Windows draws it, while keyboard cues are shown.
    if (GetFocus() == m_hWnd && !(SendMessageW(m_hWnd, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS)) {
        GetClientRect(m_hWnd, &rect);
        InflateRect(&rect, -4, -4);
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkColor(dc, RGB(255, 255, 255));
        DrawFocusRect(dc, &rect);
    }
}

bool CImageButton::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result)
{
    if (message >= WM_MOUSEFIRST && message <= WM_XBUTTONDBLCLK) {
        EnsureTooltip();
        RelayToTooltip(m_hToolTip, m_hWnd, message, wParam, lParam);
    }
    result = 0;
    switch (message) {
    case WM_MOUSEMOVE:
        if (GetCapture() == m_hWnd) {
            POINT point = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
            ClientToScreen(m_hWnd, &point);
            RECT window;
            GetWindowRect(m_hWnd, &window);
            bool inside = PtInRect(&window, point) != FALSE;
            if (inside != (m_bDown != 0)) {
                m_bDown = inside;
                Repaint(m_hWnd);
            }
        } else if (!m_bHot) {
            m_bHot = 1;
            Repaint(m_hWnd);
            TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, m_hWnd, 0};
            TrackMouseEvent(&track);
        }
        return false;
    case WM_LBUTTONDOWN:
        if (!IsRealKeyDown(VK_LBUTTON))
            return true;
        SetCapture(m_hWnd);
        if (GetCapture() == m_hWnd) {
            m_bDown = 1;
            Repaint(m_hWnd);
        }
        return true;
    case WM_LBUTTONDBLCLK:
        if (!IsRealKeyDown(VK_LBUTTON))
            return true;
        if (GetCapture() != m_hWnd)
            SetCapture(m_hWnd);
        if (!m_bDown) {
            m_bDown = 1;
            Repaint(m_hWnd);
        }
        return true;
    case WM_LBUTTONUP:
        if (GetCapture() == m_hWnd && !IsRealKeyDown(VK_LBUTTON)) {
            if (m_bDown)
                NotifyParent(BN_CLICKED);
            // The parent's handler may have destroyed the button.
            if (IsWindow(m_hWnd) && GetCapture() == m_hWnd)
                ReleaseCapture();
        }
        return true;
    case WM_CAPTURECHANGED:
        if (m_bDown) {
            m_bDown = 0;
            Repaint(m_hWnd);
        }
        return false;
    case WM_MOUSELEAVE:
        if (m_bHot) {
            m_bHot = 0;
            Repaint(m_hWnd);
        }
        return true;
    case WM_KILLFOCUS:
        // Focus gone while the space bar held the button: no click.
        if (m_bSpaceDown) {
            m_bSpaceDown = 0;
            m_bDown = 0;
        }
        Repaint(m_hWnd);
        return false;
    case WM_SETFOCUS:
        AnnounceFocus(m_hWnd);
        Repaint(m_hWnd);
        return false;
    case WM_ENABLE:
        Repaint(m_hWnd);
        return false;
    case WM_GETOBJECT:
        result = AnswerAccessibleObject(m_hWnd, wParam, lParam);
        return result != 0;
    case WM_TIMER:
        if (!TakePendingPress(wParam))
            return false;
        if (IsWindowEnabled(m_hWnd))
            NotifyParent(BN_CLICKED);
        return true;
    case WM_KEYDOWN:
        // The space bar presses the button as a click does, for whoever cannot use a mouse.
        // Enter and Esc stay with the page, which ignores them.
        if (wParam != VK_SPACE)
            return false;
        if (!m_bSpaceDown && GetCapture() != m_hWnd && IsRealKeyDown(VK_SPACE)) {
            m_bSpaceDown = 1;
            m_bDown = 1;
            Repaint(m_hWnd);
        }
        return true;
    case WM_KEYUP:
        if (wParam != VK_SPACE)
            return false;
        // A release while the key is still held is no release of the system's.
        if (m_bSpaceDown && !IsRealKeyDown(VK_SPACE)) {
            m_bSpaceDown = 0;
            m_bDown = 0;
            Repaint(m_hWnd);
            NotifyParent(BN_CLICKED);
        }
        return true;
    case WM_PAINT:
    case WM_PRINTCLIENT:
        PaintClient(wParam);
        return true;
    case WM_ERASEBKGND:
        result = 1;
        return true;
    case WM_UPDATEUISTATE:
        // Keyboard cues shown or hidden: the state is kept as Windows keeps it, the focus cue
        // follows it.
        result = DefWindowProcW(m_hWnd, message, wParam, lParam);
        InvalidateRect(m_hWnd, NULL, FALSE);
        return true;
    case WM_DESTROY:
        DestroyControlTooltip(m_hToolTip);
        return false;
    }
    return false;
}

void CImageButton::DescribeForReaders(AccessibleFacts &facts)
{
    facts.role = ROLE_SYSTEM_PUSHBUTTON;
    facts.state = m_bDown ? STATE_SYSTEM_PRESSED : 0;
    GetWindowTextW(m_hWnd, facts.name, 256);
    Copy(facts.action, L"按下");
}

bool CImageButton::DoDefaultAction()
{
    PressLater();
    return true;
}
