#include "pages/ProgressPage.h"
#include "pages/PageSet.h"
#include "app/InstallWorker.h"
#include "app/InstallOptions.h"
#include "app/SetupMessages.h"
#include "engine/update/FileUpdate.h"
#include "skin/SkinStore.h"
#include "resource.h"

int NextProgressPosition(int current, int target)
{
    return current < target ? current + 1 : current;
}

CProgressPage::CProgressPage() : CSetupPage(IDD_PROGRESS), m_nTarget(0), m_nCurrent(0), m_bClosing(false)
{
}

void CProgressPage::DescribeControls()
{
    const PageControl controls[] = {
        LabelControl(IDC_PAGE_TITLE, m_title, 45, 45, PageControl::kTitleFont),
        LabelControl(IDC_PAGE_SUBTITLE, m_subtitle, 45, 77),
        LabelControl(IDC_PROGRESS_STATUS, m_status, 77, 170),
    };
    ApplyControls(controls);
    m_progress.PlaceOnPage(m_hWnd, Dpi());
}

void CProgressPage::OnInitPage()
{
    EnableMenuItem(GetSystemMenu(m_hWnd, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_DISABLED | MF_GRAYED);
    ShowWindow(m_progress.m_hWnd, SW_SHOW);
    m_nCurrent = 0;
    SetTimer(m_hWnd, kTimerId, kTickMilliseconds, NULL);
    // Without the worker nothing would ever move the bar: the user is told, and the setup ends.
    HWND worker = WaitForWorkerWindow(kWorkerWaitMilliseconds);
    if (!worker || !PostSetupMessage(worker, WM_SETUP_INSTALL, (WPARAM)m_hWnd))
        PostSetupMessage(m_hWnd, kWorkerUnreachable, 0);
}

void CProgressPage::OnTick()
{
    int next = NextProgressPosition(m_nCurrent, m_nTarget);
    if (next != m_nCurrent) {
        m_nCurrent = next;
        m_progress.SetPosition(m_nCurrent);
    }
    if (m_nCurrent < 100)
        return;
    m_progress.SetPosition(100);
    KillTimer(m_hWnd, kTimerId);
    if (m_bClosing) {
        // Closed during the installation: it is complete now; the setup ends without asking
        // anything more, once the worker has finished.
        HWND worker = GetWorkerWindow();
        if (!worker || !PostSetupMessage(worker, WM_SETUP_FINISH, 0))
            EndSetup();
        return;
    }
    // Let the full bar be seen before the finish page covers it.
    UpdateWindow(m_progress.m_hWnd);
    Sleep(200);
    HandOver(CPageSet::Instance().Finish());
}

void CProgressPage::EndSetup()
{
    DestroyWindow(m_hWnd);
    QuitMessageLoop(-1);
}

void CProgressPage::OnClose()
{
    // From the taskbar or End task: the worker is never cut off in the middle of replacing the
    // browser's files. It stops at the next point where the folder is whole, and its end
    // message ends the setup.
    if (!IsWindowVisible(m_hWnd)) {
        EndSetup();
    } else if (!m_bClosing) {
        m_bClosing = true;
        CInstallOptions::Instance().RequestClose();
    }
}

bool CProgressPage::OnPageMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR &)
{
    switch (message) {
    case WM_SETUP_PROGRESS:
    case WM_SETUP_END:
    case kWorkerUnreachable:
        // Another program's message of these numbers moves nothing and ends nothing.
        if (!IsSetupMessage(lParam))
            return true;
        break;
    }
    switch (message) {
    case WM_TIMER:
        if (wParam == kTimerId)
            OnTick();
        return true;
    case WM_SETUP_PROGRESS:
        m_nTarget = (int)wParam;
        return true;
    case kWorkerUnreachable:
        MessageBoxW(m_hWnd, L"安装程序的安装进程没有响应，无法开始安装。\r\n请重新运行安装程序。", L"错误",
                    MB_OK | MB_ICONERROR);
        EndSetup();
        return true;
    case WM_ENDSESSION:
        // Logging off: the process ends once this returns, so any update finishes first.
        if (wParam) {
            CInstallOptions::Instance().RequestClose();
            WaitForFileUpdates();
        }
        return true;
    case WM_SETUP_END:
        EndSetup();
        return true;
    }
    return false;
}
