// A push button painted from a three-cell image strip with a white caption, lit while the
// pointer is over it, with its own tooltip. A click, or the space bar released over it, is
// reported to the parent as WM_COMMAND (BN_CLICKED), a click while the button still holds the
// capture; so is a screen reader's press. Only the system's own input presses it: a mouse or key
// message another program posts does not. It shows a focus cue while keyboard cues are shown.
#pragma once
#include "skin/Accessible.h"
#include "skin/SubclassedControl.h"
#include <commctrl.h>

class CImageButton : public CSubclassedControl, public CAccessibleSource {
public:
    CImageButton();
    ~CImageButton() override;

    bool Attach(HWND window);
    bool SetTip(const WCHAR *text);
    HIMAGELIST AssignImageList(HIMAGELIST list);
    void AssignImages(int normal, int pressed, int hover, int disabled);

    // The cell to paint for a state; -1 falls back to the normal cell.
    int ChooseImage(bool disabled, bool down, bool hot) const;

    HIMAGELIST m_hImageList;
    int m_nImageNormal;
    int m_nImagePressed;
    int m_nImageHover;
    int m_nImageDisabled;
    HWND m_hToolTip;
    WCHAR *m_pszTip;
    unsigned m_bHot : 1;
    unsigned m_bDown : 1;
    unsigned m_bSpaceDown : 1;  // pressed by the space bar, not the mouse

    void DescribeForReaders(AccessibleFacts &facts) override;
    bool DoDefaultAction() override;

protected:
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result) override;

private:
    void AddTool();
    void EnsureTooltip();
    void Paint(HDC dc) override;
};
