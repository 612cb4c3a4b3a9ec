// The frame every page shares: setup title as caption, a 587 x 396 client area, the program
// icon, centred on the work area, body font, white background. It sees each page message
// before the page's own handlers and never consumes one.
#pragma once
#include <windows.h>

enum { kPageClientWidth = 587, kPageClientHeight = 396 };

class CSkinFrame {
public:
    CSkinFrame() : m_hPage(NULL) {}
    void Attach(HWND page) { m_hPage = page; }
    void OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_hPage;
};

// Centres a window over a reference window (its parent or owner when none is given; the work
// area for a top-level window without either), keeping it inside the bounding area.
void CenterOnOwner(HWND window, HWND reference);
