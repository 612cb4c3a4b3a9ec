#include "pages/WelcomePage.h"
#include "pages/PageSet.h"
#include "app/InstallOptions.h"
#include "skin/SkinStore.h"
#include "resource.h"

CWelcomePage::CWelcomePage() : CSetupPage(IDD_WELCOME), m_hDefaultBrowser(NULL)
{
}

void CWelcomePage::DescribeControls()
{
    const PageControl controls[] = {
        LabelControl(IDC_WELCOME_TITLE, m_title, 45, 45, PageControl::kTitleFont),
        LabelControl(IDC_WELCOME_ACCEPT_BEFORE, m_acceptBefore, 45, 77),
        LinkControl(IDC_WELCOME_LICENSE_LINK, m_licenseLink, 252, 77, 100, 30),
        LabelControl(IDC_WELCOME_ACCEPT_AFTER, m_acceptAfter, 352, 77),
        ButtonControl(IDC_WELCOME_INSTALL, m_install, 70, 180, 138, 40, PageControl::kLargeImages, L"立即安装"),
        ButtonControl(IDC_WELCOME_CUSTOM, m_custom, 70, 250, 115, 35, PageControl::kMediumImages, L"自定义"),
        PlainControl(IDC_WELCOME_DEFAULT, &m_hDefaultBrowser, 45, 340),
    };
    ApplyControls(controls);
}

void CWelcomePage::OnInitPage()
{
    SendMessageW(m_hDefaultBrowser, BM_SETCHECK, CInstallOptions::Instance().m_bDefaultBrowser ? BST_CHECKED : BST_UNCHECKED,
                 0);
}

HWND CWelcomePage::InitialFocus()
{
    // The page's first action; the licence link before it in the tab order stays where it is read.
    return m_install.m_hWnd;
}

void CWelcomePage::DrawBackground(HDC dc)
{
    POINT at = {Scaled(310), Scaled(140)};
    Skin().DrawIllustration(dc, at);
}

HBRUSH CWelcomePage::StaticBackground(HWND, HDC)
{
    return (HBRUSH)GetStockObject(WHITE_BRUSH);
}

bool CWelcomePage::OnCommand(int id, int)
{
    switch (id) {
    case IDC_WELCOME_INSTALL:
        // The choice is stored before the progress page exists: creating it starts the installation.
        CInstallOptions::Instance().m_bDefaultBrowser = SendMessageW(m_hDefaultBrowser, BM_GETCHECK, 0, 0) == BST_CHECKED;
        HandOver(CPageSet::Instance().Progress());
        return true;
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
