// The frame every page shares: setup title as caption, a 587 x 396 client area at 96 DPI (scaled
// with the page's DPI), the program icon, centred on the work area, body font, white
// background. It sees each page message before the page's own handlers and never consumes one.
#pragma once
#include <windows.h>

enum { kPageClientWidth = 587, kPageClientHeight = 396 };

class CSkinFrame {
public:
    CSkinFrame() : m_hPage(NULL), m_nDpi(96) {}
    void Attach(HWND page) { m_hPage = page; }
    void OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Sizes the client area and sets the body font for `dpi`, with the window's top-left corner
    // at `at`, or where it is.
    void ApplyDpi(int dpi, const POINT *at = NULL);

    HWND m_hPage;
    int m_nDpi;  // the DPI the page is laid out at
};

// The DPI a window is drawn at: its monitor's where Windows tells it per window (Windows 10
// from version 1607), else the system's.
int WindowDpi(HWND window);

// Centres a window over a reference window (its parent or owner when none is given; the work
// area for a top-level window without either), keeping it inside the bounding area.
void CenterOnOwner(HWND window, HWND reference);
