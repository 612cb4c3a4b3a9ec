#include "pages/DowngradePage.h"
#include "pages/PageSet.h"
#include "skin/SkinStore.h"
#include "resource.h"

CDowngradePage::CDowngradePage() : CSetupPage(IDD_DOWNGRADE)
{
}

void CDowngradePage::OnInitDialog()
{
    RegisterFilter();
    m_warning.m_clrText = 0;
    m_warning.Attach(Item(IDC_DOWNGRADE_TEXT));
    m_question.m_clrText = 0;
    m_question.Attach(Item(IDC_DOWNGRADE_QUESTION));
    m_quit.Attach(Item(IDC_DOWNGRADE_QUIT));
    m_continue.Attach(Item(IDC_DOWNGRADE_CONTINUE));

    Place(IDC_DOWNGRADE_TEXT, 120, 115);
    Place(IDC_DOWNGRADE_QUESTION, 120, 137);
    Place(IDC_DOWNGRADE_QUIT, 225, 200, 138, 40);
    Place(IDC_DOWNGRADE_CONTINUE, 235, 270, 117, 33);

    CSkinStore &skin = CSkinStore::Instance();
    SetItemFont(IDC_DOWNGRADE_TEXT, skin.m_hFontText);
    SetItemFont(IDC_DOWNGRADE_QUESTION, skin.m_hFontText);
    SetItemFont(IDC_DOWNGRADE_QUIT, skin.m_hFontBigButton);
    SetItemFont(IDC_DOWNGRADE_CONTINUE, skin.m_hFontButton);

    ConfigureButton(m_quit, L"立即退出", skin.LargeButtonImages());
    ConfigureButton(m_continue, L"仍然继续", skin.MediumButtonImages());
}

bool CDowngradePage::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR &result)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        result = TRUE;
        return true;
    case WM_ERASEBKGND:
        DrawWatermark((HDC)wParam);
        result = TRUE;
        return true;
    case WM_CTLCOLORSTATIC:
        result = (INT_PTR)GetStockObject(NULL_BRUSH);
        return true;
    case WM_CLOSE:
        ConfirmQuit();
        return true;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
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
    return false;
}
