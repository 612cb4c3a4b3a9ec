// The first page when the browser is installed already (same version, older or unknown):
// announces the upgrade and offers the quick installation into the installed browser's folder,
// or the custom page.
#pragma once
#include "pages/SetupPage.h"
#include "skin/ImageButton.h"
#include "skin/TransparentLabel.h"

class CUpgradePage : public CSetupPage {
public:
    CUpgradePage();
    ~CUpgradePage() override;

    CTransparentLabel m_text;
    CImageButton m_install;
    CImageButton m_custom;
    HWND m_hDefaultBrowser;
    HBRUSH m_hCheckBrush;

protected:
    void DescribeControls() override;
    void OnInitPage() override;
    void DrawBackground(HDC dc) override;
    HBRUSH StaticBackground(HWND control, HDC dc) override;
    bool OnCommand(int id, int code) override;
};
