#include "pages/SetupPage.h"
#include "base/SetupText.h"
#include "skin/ImageButton.h"
#include "skin/SkinStore.h"

static CSetupPage *g_creatingPage = NULL;

CSetupPage::CSetupPage(int templateId) : m_hWnd(NULL), m_nTemplate(templateId)
{
}

HWND CSetupPage::Create()
{
    // The page is bound before its window exists, so it sees every message from the first on.
    g_creatingPage = this;
    CreateDialogParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(m_nTemplate), NULL, DialogProc, 0);
    g_creatingPage = NULL;
    return m_hWnd;
}

INT_PTR CALLBACK CSetupPage::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CSetupPage *page = (CSetupPage *)GetWindowLongPtrW(window, DWLP_USER);
    if (!page && g_creatingPage) {
        page = g_creatingPage;
        page->m_hWnd = window;
        page->m_frame.Attach(window);
        SetWindowLongPtrW(window, DWLP_USER, (LONG_PTR)page);
    }
    if (!page)
        return FALSE;
    page->m_frame.OnMessage(message, wParam, lParam);
    INT_PTR result = 0;
    bool handled = page->OnMessage(message, wParam, lParam, result);
    if (message == WM_NCDESTROY) {
        page->m_hWnd = NULL;
        return FALSE;
    }
    if (!handled)
        return message == WM_INITDIALOG ? TRUE : FALSE;
    switch (message) {
    case WM_INITDIALOG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORDLG:
        return result;
    }
    SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
}

void CSetupPage::ShowOver(HWND previous)
{
    RECT rect;
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    if (previous && IsIconic(previous) && GetWindowPlacement(previous, &placement)) {
        // A minimised page's window rectangle is its icon's: the next page takes the restored
        // rectangle and stays minimised until the user brings it back.
        placement.flags = 0;
        placement.showCmd = SW_SHOWMINNOACTIVE;
        SetWindowPlacement(m_hWnd, &placement);
    } else if (previous && IsWindow(previous) && GetWindowRect(previous, &rect)) {
        SetWindowPos(m_hWnd, NULL, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                     SWP_SHOWWINDOW | SWP_NOZORDER);
    } else {
        ShowWindow(m_hWnd, SW_SHOW);
    }
}

void CSetupPage::HandOver(CSetupPage *next)
{
    if (!next)
        return;
    HWND self = m_hWnd;
    next->ShowOver(self);
    if (self && IsWindow(self))
        ShowWindow(self, SW_HIDE);
}

void CSetupPage::ConfirmQuit()
{
    if (MessageBoxW(m_hWnd, g_strExitPrompt, g_strSetupTitle, MB_YESNO | MB_ICONWARNING) == IDNO)
        return;
    DestroyWindow(m_hWnd);
    PostQuitMessage(-1);
}

bool IsEscapeOrEnter(const MSG &msg)
{
    bool key = msg.message == WM_KEYDOWN || msg.message == WM_KEYUP || msg.message == WM_CHAR;
    return key && (msg.wParam == VK_ESCAPE || msg.wParam == VK_RETURN);
}

BOOL CSetupPage::FilterMessage(MSG *msg)
{
    if (!m_hWnd)
        return FALSE;
    // Esc and Enter do nothing, wherever the focus is: a multi-line text box would otherwise
    // close its page on Esc.
    if (IsEscapeOrEnter(*msg) && (msg->hwnd == m_hWnd || IsChild(m_hWnd, msg->hwnd)))
        return TRUE;
    return IsDialogMessageW(m_hWnd, msg);
}

void CSetupPage::RegisterFilter()
{
    CMessageLoop *loop = MessageLoops::ForCurrentThread();
    if (loop)
        loop->AddMessageFilter(this);
}

void CSetupPage::Place(int id, int x, int y)
{
    SetWindowPos(Item(id), NULL, x, y, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
}

void CSetupPage::Place(int id, int x, int y, int width, int height)
{
    SetWindowPos(Item(id), NULL, x, y, width, height, SWP_NOZORDER);
}

void CSetupPage::SetItemFont(int id, HFONT font)
{
    SendMessageW(Item(id), WM_SETFONT, (WPARAM)font, TRUE);
}

void CSetupPage::ConfigureButton(CImageButton &button, const WCHAR *tip, HIMAGELIST images)
{
    button.SetTip(tip);
    button.AssignImageList(images);
    button.AssignImages(0, 2, 1, 0);
}

void CSetupPage::DrawCornerLogo(HDC dc)
{
    RECT logo = {500, 20, 560, 78};
    CSkinStore::Instance().DrawLogo(dc, logo);
}

void CSetupPage::DrawWatermark(HDC dc)
{
    const BYTE opacity = 56;
    POINT at = {110, 30};
    CSkinStore::Instance().DrawIllustration(dc, at, opacity);
}
