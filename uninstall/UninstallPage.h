// The uninstaller's page, in the setup's skinned look: the question (remove the browser, and the
// user's data too?), then a progress bar while the removal runs on a thread of its own, then
// the closing text. A running browser gets the setup's dialogue first.
#pragma once
#include "engine/removal/Uninstall.h"
#include "pages/SetupPage.h"
#include "skin/ImageButton.h"
#include "skin/SkinProgress.h"
#include "skin/TransparentLabel.h"

class CInstallRecord;

class CUninstallPage : public CSetupPage {
public:
    enum State { kAsking, kRemoving, kDone };
    // Posted by the removal thread: the percentage done; the end (wParam 1 when removed, 0
    // when the user kept the running browser).
    enum : UINT { kRemovalProgress = WM_APP + 10, kRemovalEnded = WM_APP + 11 };

    // `record` (loaded and checked) and the user's folders stay the caller's; `removeData`
    // ticks the data box at the start.
    CUninstallPage(const CInstallRecord &record, const WCHAR *iniPath, const WCHAR *dataDir, bool removeData);

    State m_nState;

protected:
    void DescribeControls() override;
    void OnInitPage() override;
    HWND InitialFocus() override { return m_start.m_hWnd; }
    HBRUSH StaticBackground(HWND control, HDC dc) override;
    void OnClose() override;
    bool OnCommand(int id, int code) override;
    bool OnPageMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR &result) override;

private:
    void ShowState(State state);
    static DWORD WINAPI RemovalThread(LPVOID param);
    static void ReportProgress(void *context, int percent);

    const CInstallRecord &m_record;
    const WCHAR *m_pszIniPath;
    const WCHAR *m_pszDataDir;
    bool m_bRemoveData;
    UninstallCounts m_counts;  // written by the removal thread before it posts its end
    CTransparentLabel m_title;
    CTransparentLabel m_text;
    CImageButton m_start;
    CImageButton m_cancel;
    CImageButton m_close;
    HWND m_hData;
    CSkinProgress m_progress;
};
