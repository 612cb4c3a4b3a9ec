// The page shown while the browser is installed. Creating it starts the installation; it
// moves its bar one percent per 10 ms tick toward the latest reported target, hands over to
// the finish page at 100, and stays alive, hidden, to end the setup on WM_SETUP_END.
#pragma once
#include "pages/SetupPage.h"
#include "skin/SkinProgress.h"
#include "skin/TransparentLabel.h"

// One tick of the animation: the next shown position for a current position and a target.
int NextProgressPosition(int current, int target);

class CProgressPage : public CSetupPage {
public:
    enum { kTimerId = 1, kTickMilliseconds = 10, kWorkerWaitMilliseconds = 10000 };
    // Posted to itself when the worker cannot be reached.
    enum : UINT { kWorkerUnreachable = WM_APP + 1 };

    CProgressPage();

    CTransparentLabel m_title;
    CTransparentLabel m_subtitle;
    CTransparentLabel m_status;
    CSkinProgress m_progress;
    int m_nTarget;
    int m_nCurrent;
    // Closed while installing: the setup ends when the worker says it has stopped.
    bool m_bClosing;

protected:
    void DescribeControls() override;
    void OnInitPage() override;
    void OnClose() override;
    bool OnPageMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR &result) override;

private:
    void OnTick();
    void EndSetup();
};
