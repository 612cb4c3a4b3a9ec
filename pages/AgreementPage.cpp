#include "pages/AgreementPage.h"
#include "skin/SkinStore.h"
#include "resource.h"
#include <stdlib.h>
#include <string.h>

bool IsDroppedViewerKey(UINT message)
{
    return message > WM_KEYDOWN && message < 0x109;
}

WCHAR *LoadTextResource(int id, HMODULE module)
{
    const BYTE *bytes = NULL;
    DWORD size = 0;
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), L"BIN");
    HGLOBAL loaded = found ? LoadResource(module, found) : NULL;
    if (loaded) {
        size = SizeofResource(module, found);
        bytes = (const BYTE *)LockResource(loaded);
    }
    if (!bytes)
        size = 0;
    // Two spare zero bytes keep either encoding terminated.
    BYTE *buffer = (BYTE *)calloc(1, size + 2);
    if (!buffer)
        return (WCHAR *)calloc(1, sizeof(WCHAR));
    if (size)
        memcpy(buffer, bytes, size);
    WCHAR *text = NULL;
    if (size >= 2 && buffer[0] == 0xFF && buffer[1] == 0xFE) {
        size_t chars = (size - 2) / 2;
        text = (WCHAR *)calloc(chars + 1, sizeof(WCHAR));
        if (text)
            memcpy(text, buffer + 2, chars * sizeof(WCHAR));
    } else {
        int chars = MultiByteToWideChar(CP_ACP, 0, (const char *)buffer, -1, NULL, 0);
        text = (WCHAR *)calloc(chars > 0 ? chars : 1, sizeof(WCHAR));
        if (text && chars > 0)
            MultiByteToWideChar(CP_ACP, 0, (const char *)buffer, -1, text, chars);
    }
    free(buffer);
    return text ? text : (WCHAR *)calloc(1, sizeof(WCHAR));
}

CAgreementPage::CAgreementPage(int templateId) : CSetupPage(templateId), m_hText(NULL)
{
}

BOOL CAgreementPage::FilterMessage(MSG *msg)
{
    if (m_hText && GetFocus() == m_hText && IsDroppedViewerKey(msg->message))
        return TRUE;
    return CSetupPage::FilterMessage(msg);
}

bool CAgreementPage::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR &result)
{
    switch (message) {
    case WM_INITDIALOG: {
        RegisterFilter();
        m_hint.m_clrText = 0;
        m_hint.Attach(Item(IDC_VIEWER_HINT));
        m_back.Attach(Item(IDC_VIEWER_BACK));
        m_hText = Item(IDC_VIEWER_TEXT);
        m_title.m_clrText = 0;
        m_title.Attach(Item(IDC_PAGE_TITLE));
        PlaceControls();
        CSkinStore &skin = CSkinStore::Instance();
        SetItemFont(IDC_VIEWER_HINT, skin.m_hFontText);
        SetItemFont(IDC_VIEWER_BACK, skin.m_hFontButton);
        SetItemFont(IDC_PAGE_TITLE, skin.m_hFontTitle);
        SetItemFont(IDC_VIEWER_TEXT, skin.m_hFontText);
        // An agreement is read, not edited: no key or menu command changes the text.
        SendMessageW(m_hText, EM_SETREADONLY, TRUE, 0);
        m_title.m_clrText = TitleColour();
        ConfigureButton(m_back, L"返回", skin.MediumButtonImages());
        FillText();
        result = TRUE;
        return true;
    }
    case WM_ERASEBKGND:
        // The logo sits top right, clear of the title, as on the other pages.
        DrawCornerLogo((HDC)wParam);
        result = TRUE;
        return true;
    case WM_CTLCOLORSTATIC:
        // The read-only text box keeps the white of an editable one.
        if ((HWND)lParam == m_hText) {
            SetBkColor((HDC)wParam, RGB(255, 255, 255));
            result = (INT_PTR)GetStockObject(WHITE_BRUSH);
        } else {
            result = (INT_PTR)GetStockObject(NULL_BRUSH);
        }
        return true;
    case WM_CLOSE:
        ShowWindow(m_hWnd, SW_HIDE);
        return true;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_VIEWER_BACK) {
            ShowWindow(m_hWnd, SW_HIDE);
            return true;
        }
        return false;
    }
    return false;
}

CLicensePage::CLicensePage() : CAgreementPage(IDD_LICENSE)
{
}

void CLicensePage::PlaceControls()
{
    Place(IDC_PAGE_TITLE, 45, 45);
    Place(IDC_VIEWER_HINT, 45, 77);
    Place(IDC_VIEWER_TEXT, 40, 110, 500, 210);
    Place(IDC_VIEWER_BACK, 235, 332, 117, 33);
}

// The viewer's text from its resource.
static void FillFromResource(HWND textBox, int resourceId)
{
    WCHAR *text = LoadTextResource(resourceId, GetModuleHandleW(NULL));
    SetWindowTextW(textBox, text ? text : L"");
    free(text);
}

void CLicensePage::FillText()
{
    FillFromResource(m_hText, IDB_LICENSE_TEXT);
}

CPrivacyPage::CPrivacyPage() : CAgreementPage(IDD_PRIVACY)
{
}

void CPrivacyPage::PlaceControls()
{
    Place(IDC_PAGE_TITLE, 35, 25, 150, 40);
    Place(IDC_VIEWER_HINT, 40, 90);
    Place(IDC_VIEWER_TEXT, 40, 110, 500, 210);
    Place(IDC_VIEWER_BACK, 235, 332, 117, 33);
}

void CPrivacyPage::FillText()
{
    FillFromResource(m_hText, IDB_PRIVACY_TEXT);
}
