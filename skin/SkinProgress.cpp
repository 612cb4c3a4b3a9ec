#include "skin/SkinProgress.h"
#include "skin/SkinGeometry.h"
#include "skin/SkinStore.h"
#include "base/Format.h"
#include "skin/Accessible.h"
#include <oleacc.h>

static const WCHAR kProgressClass[] = L"Kavex_ProgressCtrl";

HWND CSkinProgress::Create(HWND parent, const RECT &rect)
{
    static bool registered = false;
    HINSTANCE instance = GetModuleHandleW(NULL);
    if (!registered) {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(NULL, (LPCWSTR)IDC_ARROW);
        wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
        wc.lpszClassName = kProgressClass;
        registered = RegisterClassExW(&wc) != 0;
    }
    m_nPos = 0;
    m_hWnd = CreateWindowExW(0, kProgressClass, NULL, WS_CHILD | WS_VISIBLE, rect.left, rect.top,
                             rect.right - rect.left, rect.bottom - rect.top, parent, NULL, instance, this);
    if (m_hWnd)
        RegisterAccessibleSource(m_hWnd, this);
    return m_hWnd;
}

HWND CSkinProgress::PlaceOnPage(HWND page, int dpi)
{
    m_nDpi = dpi;
    RECT bar = ScaleToDpi(RECT{56, 209, 543, 255}, dpi);
    if (!m_hWnd)
        return Create(page, bar);
    SetWindowPos(m_hWnd, NULL, bar.left, bar.top, bar.right - bar.left, bar.bottom - bar.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(m_hWnd, NULL, TRUE);
    return m_hWnd;
}

void CSkinProgress::DescribeForReaders(AccessibleFacts &facts)
{
    facts.role = ROLE_SYSTEM_PROGRESSBAR;
    facts.state = STATE_SYSTEM_READONLY;
    Copy(facts.name, L"进度");
    Format(facts.value, L"%d%%", m_nPos);
}

void CSkinProgress::SetPosition(int position)
{
    m_nPos = position;
    InvalidateRect(m_hWnd, NULL, TRUE);
    AnnounceValueChange(m_hWnd);
}

LRESULT CALLBACK CSkinProgress::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
        SetWindowLongPtrW(window, GWLP_USERDATA, (LONG_PTR)((CREATESTRUCTW *)lParam)->lpCreateParams);
    CSkinProgress *control = (CSkinProgress *)GetWindowLongPtrW(window, GWLP_USERDATA);
    switch (message) {
    case WM_ERASEBKGND:
        return 1;
    case WM_GETOBJECT:
        return AnswerAccessibleObject(window, wParam, lParam);
    case WM_NCDESTROY:
        RegisterAccessibleSource(window, NULL);
        break;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT client;
        GetClientRect(window, &client);
        SetBkMode(dc, TRANSPARENT);
        POINT origin = {client.left, client.top};
        if (control)
            CSkinStore::Instance(control->m_nDpi).DrawProgress(dc, origin, control->m_nPos);
        EndPaint(window, &paint);
        return 0;
    }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
