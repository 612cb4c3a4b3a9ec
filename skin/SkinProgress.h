// The skinned progress bar: a child window of its own class holding one position, painted
// from the skin store's trough and fill images. No timer, no animation.
#pragma once
#include "skin/Accessible.h"

class CSkinProgress : public CAccessibleSource {
public:
    CSkinProgress() : m_hWnd(NULL), m_nPos(0), m_nDpi(96) {}

    HWND Create(HWND parent, const RECT &rect);
    void SetPosition(int position);
    // The bar of a page, at (56, 209)-(543, 255) of its 96-DPI layout: made visible on the first
    // call, moved and redrawn for the page's new DPI on later ones.
    HWND PlaceOnPage(HWND page, int dpi);

    void DescribeForReaders(AccessibleFacts &facts) override;

    HWND m_hWnd;
    int m_nPos;
    int m_nDpi;  // the DPI it is drawn at

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};
