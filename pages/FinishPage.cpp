#include "pages/FinishPage.h"
#include "pages/PageSet.h"
#include "app/InstallWorker.h"
#include "app/SetupMessages.h"
#include "skin/SkinStore.h"
#include "resource.h"

CFinishPage::CFinishPage() : CSetupPage(IDD_FINISH)
{
}

void CFinishPage::OnInitDialog()
{
    RegisterFilter();
    EnableMenuItem(GetSystemMenu(m_hWnd, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_ENABLED);
    m_close.Attach(Item(IDC_FINISH_CLOSE));
    m_run.Attach(Item(IDC_FINISH_RUN));
    m_question.m_clrText = 0;
    m_question.Attach(Item(IDC_FINISH_QUESTION));
    m_title.m_clrText = 0;
    m_title.Attach(Item(IDC_PAGE_TITLE));
    m_subtitle.m_clrText = 0;
    m_subtitle.Attach(Item(IDC_PAGE_SUBTITLE));
    m_privacyLink.Attach(Item(IDC_FINISH_PRIVACY));

    Place(IDC_PAGE_TITLE, 45, 45);
    Place(IDC_PAGE_SUBTITLE, 45, 77);
    Place(IDC_FINISH_QUESTION, 225, 140);
    Place(IDC_FINISH_RUN, 225, 190, 138, 40);
    Place(IDC_FINISH_CLOSE, 235, 250, 117, 33);
    Place(IDC_FINISH_PRIVACY, 45, 340);

    CSkinStore &skin = CSkinStore::Instance();
    SetItemFont(IDC_FINISH_QUESTION, skin.m_hFontText);
    SetItemFont(IDC_FINISH_RUN, skin.m_hFontBigButton);
    SetItemFont(IDC_FINISH_CLOSE, skin.m_hFontButton);
    SetItemFont(IDC_PAGE_TITLE, skin.m_hFontTitle);
    SetItemFont(IDC_PAGE_SUBTITLE, skin.m_hFontText);
    // Drawn as the welcome page's licence link.
    m_privacyLink.m_clrLinkText = RGB(62, 121, 201);
    m_privacyLink.UseLinkFont(skin.m_hFontLink);
    SetItemFont(IDC_FINISH_PRIVACY, skin.m_hFontLink);
    m_privacyLink.MeasureLink();
    m_privacyLink.m_dwStyle = CLinkLabel::kCommandMode;

    ConfigureButton(m_close, L"关 闭", skin.MediumButtonImages());
    ConfigureButton(m_run, L"立即运行", skin.LargeButtonImages());
}

void CFinishPage::Finish(bool runBrowser)
{
    // Hidden at the first answer, so a second answer cannot be given.
    if (!IsWindowVisible(m_hWnd))
        return;
    // Without a worker nobody would answer: the setup ends here, as the worker's answer would end it.
    HWND worker = GetWorkerWindow();
    if (!worker || !PostMessageW(worker, WM_SETUP_FINISH, runBrowser ? 1 : 0, 0))
        PostMessageW(CPageSet::Instance().Progress()->m_hWnd, WM_SETUP_END, 0, 0);
    ShowWindow(m_hWnd, SW_HIDE);
}

bool CFinishPage::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR &result)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        result = TRUE;
        return true;
    case WM_ERASEBKGND:
        DrawCornerLogo((HDC)wParam);
        result = TRUE;
        return true;
    case WM_CTLCOLORSTATIC:
        result = (INT_PTR)GetStockObject(NULL_BRUSH);
        return true;
    case WM_CLOSE:
        Finish(false);
        return true;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
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
    return false;
}
