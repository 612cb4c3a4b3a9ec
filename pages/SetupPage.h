// The common base of the wizard pages: a modeless dialog from one of the program's templates,
// with the skin frame in front of its own message handling, a keyboard filter in the
// user-interface thread's message loop, the hand-over between pages and the exit question. It
// sets up each page's controls from the page's table and answers the messages every page
// answers alike; a page says what differs through small hooks.
#pragma once
#include "app/MessageLoop.h"
#include "skin/Accessible.h"
#include "skin/CheckBox.h"
#include "skin/GuardedEdit.h"
#include "skin/SkinFrame.h"
#include <windows.h>
#include <commctrl.h>

class CImageButton;
class CSkinStore;
class CLinkLabel;
class CSubclassedControl;
class CTransparentLabel;

// One control of a page's template, as the page base sets it up when the page is created.
struct PageControl {
    enum Kind { kPlain, kLabel, kLink, kButton };
    enum Font { kNoFont, kTextFont, kTitleFont, kLinkFont, kButtonFont, kBigButtonFont };
    enum Images { kNoImages, kSmallImages, kMediumImages, kLargeImages };

    int id;
    Kind kind;
    CSubclassedControl *skinned;  // the skinned control attached to it; none for a plain one
    HWND *handle;                 // where a plain control's window is kept, if anywhere
    int x, y, width, height;      // pixels at 96 DPI; a width of 0 keeps the template's size
    Font font;
    COLORREF colour;              // a label's text colour; a link's colour
    Images images;
    const WCHAR *tip;
};

// The rows of a control table.
PageControl PlainControl(int id, HWND *handle, int x, int y, PageControl::Font font = PageControl::kTextFont);
PageControl PlainControl(int id, HWND *handle, int x, int y, int width, int height,
                         PageControl::Font font = PageControl::kTextFont);
PageControl LabelControl(int id, CTransparentLabel &label, int x, int y, PageControl::Font font = PageControl::kTextFont);
PageControl LabelControl(int id, CTransparentLabel &label, int x, int y, int width, int height,
                         PageControl::Font font = PageControl::kTextFont);
// A link drawn as the welcome page's licence link, reported to the page as a command.
PageControl LinkControl(int id, CLinkLabel &link, int x, int y, int width = 0, int height = 0);
PageControl ButtonControl(int id, CImageButton &button, int x, int y, int width, int height, PageControl::Images images,
                          const WCHAR *tip);

// Esc or Enter pressed or typed: the keys no page acts on.
bool IsEscapeOrEnter(const MSG &msg);


class CSetupPage : public CMessageFilter, public CAccessibleSource {
public:
    explicit CSetupPage(int templateId);
    virtual ~CSetupPage() {}

    // Creates the hidden page window; its WM_INITDIALOG set-up runs inside this call.
    HWND Create();

    // Shows this page at the previous page's window rectangle (or where it is, when the previous
    // window is gone) and activates it, laid out for the DPI it lands on. Hides nothing.
    void ShowOver(HWND previous);
    // Lays the page out for `dpi`: its size (its top-left corner at `at`, or where it is), every
    // control's place, size, font and images.
    void ApplyDpi(int dpi, const POINT *at = NULL);
    int Dpi() const { return m_frame.m_nDpi; }
    // Shows `next` over this page, then hides this page.
    void HandOver(CSetupPage *next);
    // The exit question; any answer but No ends the setup with exit code -1.
    void ConfirmQuit();

    BOOL FilterMessage(MSG *msg) override;
    // A dialog named by its caption: the setup's title, or the uninstaller's.
    void DescribeForReaders(AccessibleFacts &facts) override;

    HWND m_hWnd;
    CSkinFrame m_frame;
    int m_nTemplate;
    // The page's check boxes, which tell screen readers their state.
    enum { kMaxCheckBoxes = 4 };
    CAccessibleCheckBox m_checkBoxes[kMaxCheckBoxes];
    int m_nCheckBoxes;
    // Its edit controls, which take no callback from another program.
    enum { kMaxEdits = 2 };
    CGuardedEdit m_edits[kMaxEdits];
    int m_nEdits;
    // The template's sizes of the controls that keep them, at the DPI the window was made at.
    enum { kMaxControls = 16 };
    SIZE m_templateSizes[kMaxControls];
    int m_nTemplateDpi;
    bool m_bControlsAttached;

protected:
    // What every page does the same way is handled here; a page says what differs through
    // these hooks.

    // Called while the window is created, and again when its DPI changes: the page hands its
    // control table to ApplyControls and places whatever else it made at the page's DPI.
    virtual void DescribeControls() = 0;
    template <size_t N> void ApplyControls(const PageControl (&table)[N]) { ApplyControls(table, N); }
    // After the controls are set up: what else the page shows at first.
    virtual void OnInitPage() {}
    // The control that starts with the focus; none leaves it to the dialog manager.
    virtual HWND InitialFocus() { return NULL; }
    // The page's background under its controls; the corner logo unless the page says otherwise.
    virtual void DrawBackground(HDC dc) { DrawCornerLogo(dc); }
    // The brush behind a static or check box; none of their own by default, so the page shows.
    virtual HBRUSH StaticBackground(HWND control, HDC dc);
    // The caption's close button, Alt+F4, the taskbar: the exit question unless the page says
    // otherwise.
    virtual void OnClose() { ConfirmQuit(); }
    // WM_COMMAND from control `id`; true when the page acted on it.
    virtual bool OnCommand(int id, int code);
    // Any other message. Returns true when handled, with `result` as the answer.
    virtual bool OnPageMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR &result);

    HWND Item(int id) const { return GetDlgItem(m_hWnd, id); }
    // 96-DPI pixels at the page's DPI, and the skin for it.
    int Scaled(int value) const;
    RECT Scaled(const RECT &rect) const;
    CSkinStore &Skin() const;
    // The 60 x 58 logo in the top right corner, over the white background.
    void DrawCornerLogo(HDC dc) const;
    // The illustration at (110, 30), faint: the page's text and buttons lie over it.
    void DrawWatermark(HDC dc) const;

private:
    void ApplyControls(const PageControl *table, size_t count);
    void AttachControl(const PageControl &control, HWND window, HFONT font);
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR &result);
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};
