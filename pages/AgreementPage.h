// The two agreement viewers (licence and privacy): a scrolling text shown over the page that
// opened it, which stays visible underneath. Closing only hides the viewer. Their keyboard
// filter lets navigation keys through but drops typed characters.
#pragma once
#include "pages/SetupPage.h"
#include "skin/ImageButton.h"
#include "skin/TransparentLabel.h"

class CAgreementPage : public CSetupPage {
public:
    BOOL FilterMessage(MSG *msg) override;

    CTransparentLabel m_hint;
    CTransparentLabel m_title;
    CImageButton m_back;
    HWND m_hText;

protected:
    explicit CAgreementPage(int templateId);
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR &result) override;
    virtual void PlaceControls() = 0;
    virtual void FillText() = 0;
    virtual COLORREF TitleColour() const { return 0; }
};

class CLicensePage : public CAgreementPage {
public:
    CLicensePage();

protected:
    void PlaceControls() override;
    void FillText() override;
};

class CPrivacyPage : public CAgreementPage {
public:
    CPrivacyPage();

protected:
    void PlaceControls() override;
    void FillText() override;
    COLORREF TitleColour() const override { return RGB(7, 123, 8); }
};

// True for the keyboard messages the viewers drop while their text box has the focus.
bool IsDroppedViewerKey(UINT message);

// Text resource BIN `id`: UTF-16LE after a byte-order mark, else ANSI text. The caller frees
// the result with free(); it is an empty string when the resource is missing.
WCHAR *LoadTextResource(int id, HMODULE module);
