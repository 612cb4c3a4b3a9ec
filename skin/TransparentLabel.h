// A static text drawn straight onto the page: no background of its own, its own text colour.
#pragma once
#include "skin/SubclassedControl.h"

class CTransparentLabel : public CSubclassedControl {
public:
    CTransparentLabel() : m_clrText(0) {}
    bool Attach(HWND window) { return Subclass(window); }

    COLORREF m_clrText;

protected:
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result) override;
};
