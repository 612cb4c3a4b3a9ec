#include "uninstall/UninstallPage.h"
#include "uninstall/DataRemoval.h"
#include "app/SetupMessages.h"
#include "base/Format.h"
#include "base/SetupText.h"
#include "engine/record/InstallRecord.h"
#include "engine/process/RunningBrowser.h"
#include "engine/removal/Uninstall.h"
#include "base/FileSystem.h"
#include "resource.h"

static const WCHAR kQuestionText[] = L"您确定要从这台计算机上卸载岚舟浏览器吗？";
static const WCHAR kRemovingText[] = L"正在卸载岚舟浏览器，请稍候...";

CUninstallPage::CUninstallPage(const CInstallRecord &record, const WCHAR *iniPath, const WCHAR *dataDir, bool removeData)
    : CSetupPage(IDD_UNINSTALL), m_nState(kAsking), m_record(record), m_pszIniPath(iniPath), m_pszDataDir(dataDir),
      m_bRemoveData(removeData), m_counts(), m_hData(NULL)
{
}

void CUninstallPage::DescribeControls()
{
    const PageControl controls[] = {
        LabelControl(IDC_PAGE_TITLE, m_title, 45, 45, PageControl::kTitleFont),
        LabelControl(IDC_UNINSTALL_TEXT, m_text, 70, 120, 460, 40, PageControl::kTextFont),
        PlainControl(IDC_UNINSTALL_DATA, &m_hData, 70, 170, 460, 24),
        ButtonControl(IDC_UNINSTALL_START, m_start, 225, 230, 138, 40, PageControl::kLargeImages, L"立即卸载"),
        ButtonControl(IDC_UNINSTALL_CANCEL, m_cancel, 235, 290, 117, 33, PageControl::kMediumImages, L"取 消"),
        ButtonControl(IDC_UNINSTALL_CLOSE, m_close, 235, 290, 117, 33, PageControl::kMediumImages, L"关 闭"),
    };
    ApplyControls(controls);
    m_progress.PlaceOnPage(m_hWnd, Dpi());
}

void CUninstallPage::OnInitPage()
{
    WCHAR title[128];
    Format(title, L"%s 卸载", kProductDisplayName);
    SetWindowTextW(m_hWnd, title);
    SetWindowTextW(Item(IDC_PAGE_TITLE), title);
    // Ticked only when the command line asked for it.
    SendMessageW(m_hData, BM_SETCHECK, m_bRemoveData ? BST_CHECKED : BST_UNCHECKED, 0);
    ShowState(kAsking);
}

void CUninstallPage::ShowState(State state)
{
    m_nState = state;
    WCHAR ended[400];
    DescribeUninstallEnd(m_counts, ended);
    SetWindowTextW(Item(IDC_UNINSTALL_TEXT), state == kAsking ? kQuestionText : state == kRemoving ? kRemovingText : ended);
    struct Visibility {
        HWND window;
        bool shown;
    } controls[] = {
        {m_hData, state == kAsking},
        {m_start.m_hWnd, state == kAsking},
        {m_cancel.m_hWnd, state == kAsking},
        {m_progress.m_hWnd, state == kRemoving},
        {m_close.m_hWnd, state == kDone},
    };
    for (const Visibility &control : controls)
        ShowWindow(control.window, control.shown ? SW_SHOW : SW_HIDE);
    // Nothing closes the page while files go; afterwards its only action is closing.
    EnableMenuItem(GetSystemMenu(m_hWnd, FALSE), SC_CLOSE,
                   MF_BYCOMMAND | (state == kRemoving ? MF_DISABLED | MF_GRAYED : MF_ENABLED));
    if (state == kDone)
        SetFocus(m_close.m_hWnd);
    InvalidateRect(m_hWnd, NULL, TRUE);
}

HBRUSH CUninstallPage::StaticBackground(HWND, HDC)
{
    return (HBRUSH)GetStockObject(WHITE_BRUSH);
}

void CUninstallPage::OnClose()
{
    if (m_nState == kRemoving)
        return;
    DestroyWindow(m_hWnd);
    QuitMessageLoop(m_nState == kDone ? 0 : 1);
}

bool CUninstallPage::OnCommand(int id, int)
{
    switch (id) {
    case IDC_UNINSTALL_START: {
        if (m_nState != kAsking)
            return true;
        m_bRemoveData = SendMessageW(m_hData, BM_GETCHECK, 0, 0) == BST_CHECKED;
        ShowState(kRemoving);
        m_progress.SetPosition(0);
        HANDLE thread = CreateThread(NULL, 0, RemovalThread, this, 0, NULL);
        if (thread)
            CloseHandle(thread);
        else
            ShowState(kAsking);
        return true;
    }
    case IDC_UNINSTALL_CANCEL:
    case IDC_UNINSTALL_CLOSE:
        OnClose();
        return true;
    }
    return false;
}

bool CUninstallPage::OnPageMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR &)
{
    switch (message) {
    case kRemovalProgress:
    case kRemovalEnded:
        // Only the removal's own: another program's message of these numbers moves nothing.
        if (!IsSetupMessage(lParam))
            return true;
        break;
    }
    switch (message) {
    case kRemovalProgress:
        m_progress.SetPosition((int)wParam);
        return true;
    case kRemovalEnded:
        ShowState(wParam ? kDone : kAsking);
        return true;
    }
    return false;
}

void CUninstallPage::ReportProgress(void *context, int percent)
{
    PostSetupMessage(((CUninstallPage *)context)->m_hWnd, kRemovalProgress, (WPARAM)percent);
}

DWORD WINAPI CUninstallPage::RemovalThread(LPVOID param)
{
    CUninstallPage *page = (CUninstallPage *)param;
    WCHAR browser[MAX_PATH];
    // A browser running from the folder would keep its files: it is ended first, or nothing goes.
    if (Format(browser, L"%s\\Velmarin.exe", page->m_record.Folder()) && IsFileInUse(browser) &&
        ResolveRunningBrowser(browser, L"卸载") == kBrowserCancelled) {
        PostSetupMessage(page->m_hWnd, kRemovalEnded, 0);
        return 0;
    }
    page->m_counts = RemoveRecordedInstallation(page->m_record, ReportProgress, page);
    if (page->m_bRemoveData)
        page->m_counts.data = RemoveUserBrowserData(page->m_pszIniPath, page->m_pszDataDir, page->m_record.Folder());
    PostSetupMessage(page->m_hWnd, kRemovalEnded, 1);
    return 0;
}
