// The skinned progress bar: a child window of its own class holding one position, painted
// from the skin store's trough and fill images. No timer, no animation.
#pragma once
#include <windows.h>

class CSkinProgress {
public:
    CSkinProgress() : m_hWnd(NULL), m_nPos(0) {}

    HWND Create(HWND parent, const RECT &rect);
    void SetPosition(int position);

    HWND m_hWnd;
    int m_nPos;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};
