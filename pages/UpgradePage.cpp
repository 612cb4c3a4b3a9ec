#include "pages/UpgradePage.h"
#include "pages/PageSet.h"
#include "base/Format.h"
#include "app/InstallOptions.h"
#include "base/SetupText.h"
#include "skin/SkinStore.h"
#include "resource.h"

CUpgradePage::CUpgradePage() : CSetupPage(IDD_UPGRADE), m_hDefaultBrowser(NULL), m_hCheckBrush(NULL)
{
}

CUpgradePage::~CUpgradePage()
{
    if (m_hCheckBrush)
        DeleteObject(m_hCheckBrush);
}

void CUpgradePage::DescribeControls()
{
    const PageControl controls[] = {
        LabelControl(IDC_UPGRADE_TEXT, m_text, 120, 135, 300, 40, PageControl::kTextFont),
        ButtonControl(IDC_UPGRADE_INSTALL, m_install, 225, 200, 138, 40, PageControl::kLargeImages, L"立即安装"),
        ButtonControl(IDC_UPGRADE_CUSTOM, m_custom, 235, 270, 117, 33, PageControl::kMediumImages, L"自定义..."),
        PlainControl(IDC_UPGRADE_DEFAULT, &m_hDefaultBrowser, 70, 360),
    };
    ApplyControls(controls);
}

void CUpgradePage::OnInitPage()
{
    WCHAR text[128];
    Format(text, L"即将升级到 %s。", kProductDisplayName);
    SetWindowTextW(Item(IDC_UPGRADE_TEXT), text);

    RECT client, check;
    GetClientRect(m_hWnd, &client);
    GetWindowRect(m_hDefaultBrowser, &check);
    MapWindowPoints(NULL, m_hWnd, (POINT *)&check, 2);
    m_hCheckBrush =
        Skin().CreateBackgroundBrush(client, check.left, check.top, check.bottom - check.top);

    SendMessageW(m_hDefaultBrowser, BM_SETCHECK, CInstallOptions::Instance().m_bDefaultBrowser ? BST_CHECKED : BST_UNCHECKED,
                 0);
    // The installed browser is the default browser already: nothing to ask.
    if (CInstallOptions::Instance().ReadDefaultBrowserSetting())
        ShowWindow(m_hDefaultBrowser, SW_HIDE);
}

void CUpgradePage::DrawBackground(HDC dc)
{
    DrawWatermark(dc);
}

HBRUSH CUpgradePage::StaticBackground(HWND control, HDC dc)
{
    // The check box shows the page's background behind its text.
    if (control == m_hDefaultBrowser && m_hCheckBrush)
        return m_hCheckBrush;
    return CSetupPage::StaticBackground(control, dc);
}

bool CUpgradePage::OnCommand(int id, int)
{
    switch (id) {
    case IDC_UPGRADE_INSTALL: {
        CInstallOptions &options = CInstallOptions::Instance();
        if (!options.ReadDefaultBrowserSetting())
            options.m_bDefaultBrowser = SendMessageW(m_hDefaultBrowser, BM_GETCHECK, 0, 0) == BST_CHECKED;
        HandOver(CPageSet::Instance().Progress());
        return true;
    }
    case IDC_UPGRADE_CUSTOM:
        HandOver(CPageSet::Instance().Custom());
        return true;
    }
    return false;
}
