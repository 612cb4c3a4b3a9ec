#include "skin/SkinFrame.h"
#include "skin/SkinGeometry.h"
#include "skin/SkinStore.h"
#include "base/SetupText.h"
#include "resource.h"

void CenterOnOwner(HWND window, HWND reference)
{
    LONG style = GetWindowLongW(window, GWL_STYLE);
    if (!reference)
        reference = (style & WS_CHILD) ? GetParent(window) : GetWindow(window, GW_OWNER);
    RECT area, referenceRect;
    if (style & WS_CHILD) {
        HWND parent = GetParent(window);
        GetClientRect(parent, &area);
        GetClientRect(reference, &referenceRect);
        MapWindowPoints(reference, parent, (POINT *)&referenceRect, 2);
    } else {
        if (reference) {
            LONG referenceStyle = GetWindowLongW(reference, GWL_STYLE);
            if (!(referenceStyle & WS_VISIBLE) || (referenceStyle & WS_MINIMIZE))
                reference = NULL;
        }
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
        if (reference)
            GetWindowRect(reference, &referenceRect);
        else
            referenceRect = area;
    }
    RECT windowRect;
    GetWindowRect(window, &windowRect);
    POINT at = CenterInArea(referenceRect, area, windowRect.right - windowRect.left,
                            windowRect.bottom - windowRect.top);
    SetWindowPos(window, NULL, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

static HICON LoadSetupIcon(int widthMetric, int heightMetric)
{
    return (HICON)LoadImageW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDI_SETUP), IMAGE_ICON,
                             GetSystemMetrics(widthMetric), GetSystemMetrics(heightMetric), LR_DEFAULTCOLOR);
}

// The two sizes of the program icon, loaded once and shared by every page.
static HICON SetupIcon(bool big)
{
    static HICON bigIcon = LoadSetupIcon(SM_CXICON, SM_CYICON);
    static HICON smallIcon = LoadSetupIcon(SM_CXSMICON, SM_CYSMICON);
    return big ? bigIcon : smallIcon;
}

typedef UINT(WINAPI *GetDpiForWindowFn)(HWND);

int WindowDpi(HWND window)
{
    static GetDpiForWindowFn perWindow =
        (GetDpiForWindowFn)(void *)GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow");
    int dpi = perWindow && window ? (int)perWindow(window) : 0;
    if (dpi <= 0) {
        HDC screen = GetDC(NULL);
        dpi = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(NULL, screen);
    }
    return dpi > 0 ? dpi : 96;
}

typedef BOOL(WINAPI *SetDialogDpiChangeBehaviorFn)(HWND, int, int);

// Windows 10 (from version 1703) would move and re-font a dialog's controls itself when its
// DPI changes; the page lays itself out instead.
static void KeepLayoutToThePage(HWND page)
{
    const int disableAll = 1;
    static SetDialogDpiChangeBehaviorFn keep = (SetDialogDpiChangeBehaviorFn)(void *)GetProcAddress(
        GetModuleHandleW(L"user32.dll"), "SetDialogDpiChangeBehavior");
    if (keep)
        keep(page, disableAll, disableAll);
}

void CSkinFrame::ApplyDpi(int dpi, const POINT *at)
{
    m_nDpi = dpi;
    RECT window, client;
    GetWindowRect(m_hPage, &window);
    GetClientRect(m_hPage, &client);
    int width = (window.right - window.left) - (client.right - client.left) + ScaleToDpi(kPageClientWidth, dpi);
    int height = (window.bottom - window.top) - (client.bottom - client.top) + ScaleToDpi(kPageClientHeight, dpi);
    SetWindowPos(m_hPage, NULL, at ? at->x : 0, at ? at->y : 0, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE | (at ? 0 : SWP_NOMOVE));
    SendMessageW(m_hPage, WM_SETFONT, (WPARAM)CSkinStore::Instance(dpi).m_hFontText, TRUE);
}

void CSkinFrame::OnMessage(UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowTextW(m_hPage, g_strSetupTitle);
        KeepLayoutToThePage(m_hPage);
        ApplyDpi(WindowDpi(m_hPage));
        SendMessageW(m_hPage, WM_SETICON, ICON_BIG, (LPARAM)SetupIcon(true));
        SendMessageW(m_hPage, WM_SETICON, ICON_SMALL, (LPARAM)SetupIcon(false));
        CenterOnOwner(m_hPage, NULL);
        break;
    }
    case WM_ERASEBKGND: {
        RECT client;
        GetClientRect(m_hPage, &client);
        FillRect((HDC)wParam, &client, (HBRUSH)GetStockObject(WHITE_BRUSH));
        break;
    }
    }
}
