#include "pages/FinishPage.h"
#include "pages/PageSet.h"
#include "app/InstallWorker.h"
#include "app/SetupMessages.h"
#include "skin/SkinStore.h"
#include "resource.h"

CFinishPage::CFinishPage() : CSetupPage(IDD_FINISH)
{
}

void CFinishPage::DescribeControls()
{
    const PageControl controls[] = {
        ButtonControl(IDC_FINISH_CLOSE, m_close, 235, 250, 117, 33, PageControl::kMediumImages, L"关 闭"),
        ButtonControl(IDC_FINISH_RUN, m_run, 225, 190, 138, 40, PageControl::kLargeImages, L"立即运行"),
        LabelControl(IDC_FINISH_QUESTION, m_question, 225, 140),
        LabelControl(IDC_PAGE_TITLE, m_title, 45, 45, PageControl::kTitleFont),
        LabelControl(IDC_PAGE_SUBTITLE, m_subtitle, 45, 77),
        LinkControl(IDC_FINISH_PRIVACY, m_privacyLink, 45, 340),
    };
    ApplyControls(controls);
}

void CFinishPage::OnInitPage()
{
    EnableMenuItem(GetSystemMenu(m_hWnd, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_ENABLED);
}

void CFinishPage::Finish(bool runBrowser)
{
    // Hidden at the first answer, so a second answer cannot be given.
    if (!IsWindowVisible(m_hWnd))
        return;
    // Without a worker nobody would answer: the setup ends here, as the worker's answer would end it.
    HWND worker = GetWorkerWindow();
    if (!worker || !PostSetupMessage(worker, WM_SETUP_FINISH, runBrowser ? 1 : 0))
        PostSetupMessage(CPageSet::Instance().Progress()->m_hWnd, WM_SETUP_END, 0);
    ShowWindow(m_hWnd, SW_HIDE);
}

bool CFinishPage::OnCommand(int id, int)
{
    switch (id) {
    case IDC_FINISH_RUN:
        Finish(true);
        return true;
    case IDC_FINISH_CLOSE:
        Finish(false);
        return true;
    case IDC_FINISH_PRIVACY:
        if (CSetupPage *viewer = CPageSet::Instance().Privacy())
            viewer->ShowOver(m_hWnd);
        return true;
    }
    return false;
}
