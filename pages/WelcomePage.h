// The first page of a fresh installation: quick install, the way to the custom page, the
// licence link and the default-browser choice.
#pragma once
#include "pages/SetupPage.h"
#include "skin/ImageButton.h"
#include "skin/LinkLabel.h"
#include "skin/TransparentLabel.h"

class CWelcomePage : public CSetupPage {
public:
    CWelcomePage();

    CTransparentLabel m_title;
    CTransparentLabel m_acceptBefore;
    CTransparentLabel m_acceptAfter;
    CLinkLabel m_licenseLink;
    CImageButton m_install;
    CImageButton m_custom;
    HWND m_hDefaultBrowser;

protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR &result) override;

private:
    void OnInitDialog();
};
