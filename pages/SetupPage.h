// The common base of the wizard pages: a modeless dialog from one of the program's templates,
// with the skin frame in front of its own message handling, a keyboard filter in the
// user-interface thread's message loop, the hand-over between pages and the exit question.
#pragma once
#include "app/MessageLoop.h"
#include "skin/SkinFrame.h"
#include <windows.h>
#include <commctrl.h>

class CImageButton;

// Esc or Enter pressed or typed: the keys no page acts on.
bool IsEscapeOrEnter(const MSG &msg);


class CSetupPage : public CMessageFilter {
public:
    explicit CSetupPage(int templateId);
    virtual ~CSetupPage() {}

    // Creates the hidden page window; its WM_INITDIALOG set-up runs inside this call.
    HWND Create();

    // Shows this page at the previous page's window rectangle (or where it is, when the previous
    // window is gone) and activates it. Hides nothing.
    void ShowOver(HWND previous);
    // Shows `next` over this page, then hides this page.
    void HandOver(CSetupPage *next);
    // The exit question; any answer but No ends the setup with exit code -1.
    void ConfirmQuit();

    BOOL FilterMessage(MSG *msg) override;

    HWND m_hWnd;
    CSkinFrame m_frame;
    int m_nTemplate;

protected:
    // The page's message map. Returns true when handled, with `result` as the answer.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR &result) = 0;

    // Set-up helpers.
    void RegisterFilter();
    HWND Item(int id) const { return GetDlgItem(m_hWnd, id); }
    void Place(int id, int x, int y);
    void Place(int id, int x, int y, int width, int height);
    void SetItemFont(int id, HFONT font);
    void ConfigureButton(CImageButton &button, const WCHAR *tip, HIMAGELIST images);
    // The 60 x 58 logo in the top right corner, over the white background.
    static void DrawCornerLogo(HDC dc);
    // The illustration at (110, 30), faint: the page's text and buttons lie over it.
    static void DrawWatermark(HDC dc);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};
