#include "pages/DowngradePage.h"
#include "pages/PageSet.h"
#include "skin/SkinStore.h"
#include "resource.h"

CDowngradePage::CDowngradePage() : CSetupPage(IDD_DOWNGRADE)
{
}

void CDowngradePage::DescribeControls()
{
    const PageControl controls[] = {
        LabelControl(IDC_DOWNGRADE_TEXT, m_warning, 120, 115),
        LabelControl(IDC_DOWNGRADE_QUESTION, m_question, 120, 137),
        ButtonControl(IDC_DOWNGRADE_QUIT, m_quit, 225, 200, 138, 40, PageControl::kLargeImages, L"立即退出"),
        ButtonControl(IDC_DOWNGRADE_CONTINUE, m_continue, 235, 270, 117, 33, PageControl::kMediumImages, L"仍然继续"),
    };
    ApplyControls(controls);
}

void CDowngradePage::DrawBackground(HDC dc)
{
    DrawWatermark(dc);
}

bool CDowngradePage::OnCommand(int id, int)
{
    switch (id) {
    case IDC_DOWNGRADE_QUIT:
        ConfirmQuit();
        return true;
    case IDC_DOWNGRADE_CONTINUE:
        // The installation goes on with the detected folder and every choice at its default.
        HandOver(CPageSet::Instance().Progress());
        return true;
    }
    return false;
}
