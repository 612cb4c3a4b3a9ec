// A static text turned into a link: link colour and underlined font, hand cursor and tooltip
// over the text, focus on click, and activation (a click, Enter or Space, from the system's own
// input; or a screen reader's) reported to the parent as WM_COMMAND with the control's ID when in
// command mode.
#pragma once
#include "skin/Accessible.h"
#include "skin/SubclassedControl.h"

class CLinkLabel : public CSubclassedControl, public CAccessibleSource {
public:
    enum { kCommandMode = 0x04 };

    CLinkLabel();
    ~CLinkLabel() override;

    bool Attach(HWND window);
    void UseLinkFont(HFONT font);
    void MeasureLink();

    DWORD m_dwStyle;
    HCURSOR m_hHandCursor;
    HFONT m_hLinkFont;
    unsigned m_bOwnLinkFont : 1;
    HFONT m_hPlainFont;
    WCHAR *m_pszText;  // also the tooltip's
    COLORREF m_clrLinkText;
    unsigned m_bDrawsText : 1;
    RECT m_rcText;
    HWND m_hToolTip;

    void DescribeForReaders(AccessibleFacts &facts) override;
    bool DoDefaultAction() override;

protected:
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result) override;

private:
    UINT Alignment() const;
    void Paint(HDC dc) override;
    void ReportActivation();
    void EnsureTooltip();
    bool PointInText(LPARAM lParam) const;
};

// How far a measured text moves right to honour its alignment within the client width.
int LinkAlignmentShift(LONG staticType, int clientRight, int measuredRight);
