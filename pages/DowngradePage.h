// The first page when a newer browser is installed: warns that the installation would be a
// downgrade and offers to quit or to go on with the defaults.
#pragma once
#include "pages/SetupPage.h"
#include "skin/ImageButton.h"
#include "skin/TransparentLabel.h"

class CDowngradePage : public CSetupPage {
public:
    CDowngradePage();

    CTransparentLabel m_warning;
    CTransparentLabel m_question;
    CImageButton m_quit;
    CImageButton m_continue;

protected:
    void DescribeControls() override;
    void DrawBackground(HDC dc) override;
    bool OnCommand(int id, int code) override;
};
