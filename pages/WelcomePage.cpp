#include "pages/WelcomePage.h"
#include "pages/PageSet.h"
#include "app/InstallOptions.h"
#include "skin/SkinStore.h"
#include "resource.h"

CWelcomePage::CWelcomePage() : CSetupPage(IDD_WELCOME), m_hDefaultBrowser(NULL)
{
}

void CWelcomePage::OnInitDialog()
{
    RegisterFilter();
    m_title.m_clrText = 0;
    m_title.Attach(Item(IDC_WELCOME_TITLE));
    m_acceptBefore.m_clrText = 0;
    m_acceptBefore.Attach(Item(IDC_WELCOME_ACCEPT_BEFORE));
    m_licenseLink.Attach(Item(IDC_WELCOME_LICENSE_LINK));
    m_acceptAfter.m_clrText = 0;
    m_acceptAfter.Attach(Item(IDC_WELCOME_ACCEPT_AFTER));
    m_install.Attach(Item(IDC_WELCOME_INSTALL));
    m_custom.Attach(Item(IDC_WELCOME_CUSTOM));
    m_hDefaultBrowser = Item(IDC_WELCOME_DEFAULT);

    Place(IDC_WELCOME_TITLE, 45, 45);
    Place(IDC_WELCOME_ACCEPT_BEFORE, 45, 77);
    Place(IDC_WELCOME_LICENSE_LINK, 252, 77, 100, 30);
    Place(IDC_WELCOME_ACCEPT_AFTER, 352, 77);
    Place(IDC_WELCOME_INSTALL, 70, 180, 138, 40);
    Place(IDC_WELCOME_CUSTOM, 70, 250, 115, 35);
    Place(IDC_WELCOME_DEFAULT, 45, 340);

    m_licenseLink.m_clrLinkText = RGB(62, 121, 201);

    CSkinStore &skin = CSkinStore::Instance();
    SetItemFont(IDC_WELCOME_TITLE, skin.m_hFontTitle);
    SetItemFont(IDC_WELCOME_ACCEPT_BEFORE, skin.m_hFontText);
    m_licenseLink.UseLinkFont(skin.m_hFontLink);
    SetItemFont(IDC_WELCOME_LICENSE_LINK, skin.m_hFontLink);
    m_licenseLink.MeasureLink();
    SetItemFont(IDC_WELCOME_ACCEPT_AFTER, skin.m_hFontText);
    SetItemFont(IDC_WELCOME_INSTALL, skin.m_hFontBigButton);
    SetItemFont(IDC_WELCOME_CUSTOM, skin.m_hFontButton);
    SetItemFont(IDC_WELCOME_DEFAULT, skin.m_hFontText);

    m_licenseLink.m_dwStyle = CLinkLabel::kCommandMode;
    SendMessageW(m_hDefaultBrowser, BM_SETCHECK, BST_CHECKED, 0);
    ConfigureButton(m_install, L"立即安装", skin.LargeButtonImages());
    ConfigureButton(m_custom, L"自定义", skin.MediumButtonImages());
}

bool CWelcomePage::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR &result)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        // The focus starts on the page's first action; the licence link before it in the tab
        // order stays where it is read.
        SetFocus(Item(IDC_WELCOME_INSTALL));
        result = FALSE;
        return true;
    case WM_ERASEBKGND: {
        POINT at = {310, 140};
        CSkinStore::Instance().DrawIllustration((HDC)wParam, at);
        result = TRUE;
        return true;
    }
    case WM_CTLCOLORSTATIC:
        result = (INT_PTR)GetStockObject(WHITE_BRUSH);
        return true;
    case WM_CLOSE:
        ConfirmQuit();
        return true;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_WELCOME_INSTALL: {
            // The choice is stored before the progress page exists: creating it starts the
            // installation.
            CInstallOptions::Instance().m_bDefaultBrowser =
                SendMessageW(m_hDefaultBrowser, BM_GETCHECK, 0, 0) == BST_CHECKED;
            HandOver(CPageSet::Instance().Progress());
            return true;
        }
        case IDC_WELCOME_CUSTOM:
            HandOver(CPageSet::Instance().Custom());
            return true;
        case IDC_WELCOME_LICENSE_LINK:
            if (CSetupPage *viewer = CPageSet::Instance().License())
                viewer->ShowOver(m_hWnd);
            return true;
        }
        return false;
    }
    return false;
}
