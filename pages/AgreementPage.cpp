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

CAgreementPage::CAgreementPage(int templateId, const Layout &layout)
    : CSetupPage(templateId), m_hText(NULL), m_layout(layout)
{
}

PageControl CAgreementPage::TitleRow()
{
    const Layout &at = m_layout;
    PageControl row = at.titleWidth
                          ? LabelControl(IDC_PAGE_TITLE, m_title, at.titleX, at.titleY, at.titleWidth, at.titleHeight,
                                         PageControl::kTitleFont)
                          : LabelControl(IDC_PAGE_TITLE, m_title, at.titleX, at.titleY, PageControl::kTitleFont);
    row.colour = at.titleColour;
    return row;
}

BOOL CAgreementPage::FilterMessage(MSG *msg)
{
    if (m_hText && GetFocus() == m_hText && IsDroppedViewerKey(msg->message))
        return TRUE;
    return CSetupPage::FilterMessage(msg);
}

void CAgreementPage::DescribeControls()
{
    const PageControl controls[] = {
        LabelControl(IDC_VIEWER_HINT, m_hint, m_layout.hintX, m_layout.hintY),
        ButtonControl(IDC_VIEWER_BACK, m_back, 235, 332, 117, 33, PageControl::kMediumImages, L"返回"),
        PlainControl(IDC_VIEWER_TEXT, &m_hText, 40, 110, 500, 210),
        TitleRow(),
    };
    ApplyControls(controls);
}

void CAgreementPage::OnInitPage()
{
    // An agreement is read, not edited: no key or menu command changes the text.
    SendMessageW(m_hText, EM_SETREADONLY, TRUE, 0);
    FillText();
}

HBRUSH CAgreementPage::StaticBackground(HWND control, HDC dc)
{
    // The read-only text box keeps the white of an editable one.
    if (control != m_hText)
        return CSetupPage::StaticBackground(control, dc);
    SetBkColor(dc, RGB(255, 255, 255));
    return (HBRUSH)GetStockObject(WHITE_BRUSH);
}

bool CAgreementPage::OnCommand(int id, int)
{
    if (id != IDC_VIEWER_BACK)
        return false;
    ShowWindow(m_hWnd, SW_HIDE);
    return true;
}

// The viewer's text from its resource.
static void FillFromResource(HWND textBox, int resourceId)
{
    WCHAR *text = LoadTextResource(resourceId, GetModuleHandleW(NULL));
    SetWindowTextW(textBox, text ? text : L"");
    free(text);
}

static const CAgreementPage::Layout kLicenseLayout = {45, 45, 0, 0, 0, 45, 77};
static const CAgreementPage::Layout kPrivacyLayout = {35, 25, 150, 40, RGB(7, 123, 8), 40, 90};

CLicensePage::CLicensePage() : CAgreementPage(IDD_LICENSE, kLicenseLayout)
{
}

void CLicensePage::FillText()
{
    FillFromResource(m_hText, IDB_LICENSE_TEXT);
}

CPrivacyPage::CPrivacyPage() : CAgreementPage(IDD_PRIVACY, kPrivacyLayout)
{
}

void CPrivacyPage::FillText()
{
    FillFromResource(m_hText, IDB_PRIVACY_TEXT);
}
