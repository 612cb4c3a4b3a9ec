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

void CUpgradePage::OnInitDialog()
{
    RegisterFilter();
    m_text.m_clrText = 0;
    m_text.Attach(Item(IDC_UPGRADE_TEXT));
    m_install.Attach(Item(IDC_UPGRADE_INSTALL));
    m_custom.Attach(Item(IDC_UPGRADE_CUSTOM));
    m_hDefaultBrowser = Item(IDC_UPGRADE_DEFAULT);

    WCHAR text[128];
    Format(text, L"即将升级到 %s。", kProductDisplayName);
    SetWindowTextW(Item(IDC_UPGRADE_TEXT), text);

    Place(IDC_UPGRADE_TEXT, 120, 135, 300, 40);
    Place(IDC_UPGRADE_INSTALL, 225, 200, 138, 40);
    Place(IDC_UPGRADE_CUSTOM, 235, 270, 117, 33);
    Place(IDC_UPGRADE_DEFAULT, 70, 360);

    CSkinStore &skin = CSkinStore::Instance();
    SetItemFont(IDC_UPGRADE_TEXT, skin.m_hFontText);
    SetItemFont(IDC_UPGRADE_INSTALL, skin.m_hFontBigButton);
    SetItemFont(IDC_UPGRADE_CUSTOM, skin.m_hFontButton);
    SetItemFont(IDC_UPGRADE_DEFAULT, skin.m_hFontText);

    ConfigureButton(m_install, L"立即安装", skin.LargeButtonImages());
    ConfigureButton(m_custom, L"自定义...", skin.MediumButtonImages());

    RECT client, check;
    GetClientRect(m_hWnd, &client);
    GetWindowRect(m_hDefaultBrowser, &check);
    MapWindowPoints(NULL, m_hWnd, (POINT *)&check, 2);
    m_hCheckBrush = skin.CreateBackgroundBrush(client, check.left, check.top, check.bottom - check.top);

    SendMessageW(m_hDefaultBrowser, BM_SETCHECK, BST_CHECKED, 0);
    // The installed browser is the default browser already: nothing to ask.
    if (CInstallOptions::Instance().ReadDefaultBrowserSetting())
        ShowWindow(m_hDefaultBrowser, SW_HIDE);
}

bool CUpgradePage::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR &result)
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
        result = (INT_PTR)((HWND)lParam == m_hDefaultBrowser && m_hCheckBrush ? m_hCheckBrush
                                                                             : GetStockObject(NULL_BRUSH));
        return true;
    case WM_CLOSE:
        ConfirmQuit();
        return true;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
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
    return false;
}
