// The two agreement viewers (licence and privacy): a scrolling text shown over the page that
// opened it, which stays visible underneath. Closing only hides the viewer. Their keyboard
// filter lets navigation keys through but drops typed characters.
#pragma once
#include "pages/SetupPage.h"
#include "skin/ImageButton.h"
#include "skin/TransparentLabel.h"

class CAgreementPage : public CSetupPage {
public:
    // Where the two viewers differ: the title's place (a width of 0 keeps the template's size)
    // and colour, and the hint's place.
    struct Layout {
        int titleX, titleY, titleWidth, titleHeight;
        COLORREF titleColour;
        int hintX, hintY;
    };

    BOOL FilterMessage(MSG *msg) override;

    CTransparentLabel m_hint;
    CTransparentLabel m_title;
    CImageButton m_back;
    HWND m_hText;

protected:
    CAgreementPage(int templateId, const Layout &layout);
    void DescribeControls() override;
    void OnInitPage() override;
    HBRUSH StaticBackground(HWND control, HDC dc) override;
    void OnClose() override { ShowWindow(m_hWnd, SW_HIDE); }
    bool OnCommand(int id, int code) override;
    virtual void FillText() = 0;

private:
    PageControl TitleRow();

    Layout m_layout;
};

class CLicensePage : public CAgreementPage {
public:
    CLicensePage();

protected:
    void FillText() override;
};

class CPrivacyPage : public CAgreementPage {
public:
    CPrivacyPage();

protected:
    void FillText() override;
};

// True for the keyboard messages the viewers drop while their text box has the focus.
bool IsDroppedViewerKey(UINT message);

// Text resource BIN `id`: UTF-16LE after a byte-order mark, else ANSI text. The caller frees
// the result with free(); it is an empty string when the resource is missing.
WCHAR *LoadTextResource(int id, HMODULE module);
