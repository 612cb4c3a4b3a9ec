// The last page: the installation is complete; start the browser now or close. Either answer
// is posted to the worker, which starts the browser if asked and then ends the setup. Its link
// opens the privacy notice over it.
#pragma once
#include "pages/SetupPage.h"
#include "skin/ImageButton.h"
#include "skin/LinkLabel.h"
#include "skin/TransparentLabel.h"

class CFinishPage : public CSetupPage {
public:
    CFinishPage();

    CImageButton m_close;
    CImageButton m_run;
    CTransparentLabel m_question;
    CTransparentLabel m_title;
    CTransparentLabel m_subtitle;
    CLinkLabel m_privacyLink;

protected:
    void DescribeControls() override;
    void OnInitPage() override;
    void OnClose() override { Finish(false); }
    bool OnCommand(int id, int code) override;

private:
    void Finish(bool runBrowser);
};
