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
    void DescribeControls() override;
    void OnInitPage() override;
    HWND InitialFocus() override;
    void DrawBackground(HDC dc) override;
    HBRUSH StaticBackground(HWND control, HDC dc) override;
    bool OnCommand(int id, int code) override;
};
