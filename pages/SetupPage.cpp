#include "pages/SetupPage.h"
#include "base/SetupText.h"
#include "skin/Accessible.h"
#include <oleacc.h>
#include "skin/ImageButton.h"
#include "skin/LinkLabel.h"
#include "skin/SkinGeometry.h"
#include "skin/SkinStore.h"
#include "skin/TransparentLabel.h"

static CSetupPage *g_creatingPage = NULL;

CSetupPage::CSetupPage(int templateId)
    : m_hWnd(NULL), m_nTemplate(templateId), m_nCheckBoxes(0), m_nEdits(0), m_templateSizes(), m_nTemplateDpi(96),
      m_bControlsAttached(false)
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
        RegisterAccessibleSource(window, page);
    }
    if (!page)
        return FALSE;
    // Destruction is the window's own doing, on its own thread: another program's message of
    // that kind destroys nothing.
    if ((message == WM_NCDESTROY || message == WM_DESTROY) && InSendMessage())
        return TRUE;
    page->m_frame.OnMessage(message, wParam, lParam);
    INT_PTR result = 0;
    bool handled = page->OnMessage(message, wParam, lParam, result);
    if (message == WM_NCDESTROY) {
        RegisterAccessibleSource(window, NULL);
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
        // Moved there first: on another monitor than the one it was made on, the page takes that
        // monitor's DPI before it shows.
        SetWindowPos(m_hWnd, NULL, rect.left, rect.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        int dpi = WindowDpi(m_hWnd);
        if (dpi != Dpi())
            ApplyDpi(dpi);
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

void CSetupPage::ApplyDpi(int dpi, const POINT *at)
{
    if (dpi <= 0)
        return;
    m_frame.ApplyDpi(dpi, at);
    DescribeControls();
    RedrawWindow(m_hWnd, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

int CSetupPage::Scaled(int value) const
{
    return ScaleToDpi(value, Dpi());
}

RECT CSetupPage::Scaled(const RECT &rect) const
{
    return ScaleToDpi(rect, Dpi());
}

CSkinStore &CSetupPage::Skin() const
{
    return CSkinStore::Instance(Dpi());
}

void CSetupPage::ConfirmQuit()
{
    if (MessageBoxW(m_hWnd, g_strExitPrompt, g_strSetupTitle, MB_YESNO | MB_ICONWARNING) == IDNO)
        return;
    DestroyWindow(m_hWnd);
    QuitMessageLoop(-1);
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

bool CSetupPage::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR &result)
{
    switch (message) {
    case WM_INITDIALOG: {
        if (CMessageLoop *loop = MessageLoops::ForCurrentThread())
            loop->AddMessageFilter(this);
        m_nTemplateDpi = WindowDpi(m_hWnd);
        DescribeControls();
        OnInitPage();
        HWND focus = InitialFocus();
        if (focus)
            SetFocus(focus);
        result = focus ? FALSE : TRUE;
        return true;
    }
    case WM_ERASEBKGND:
        DrawBackground((HDC)wParam);
        result = TRUE;
        return true;
    case WM_CTLCOLORSTATIC:
        result = (INT_PTR)StaticBackground((HWND)lParam, (HDC)wParam);
        return true;
    case WM_CLOSE:
        OnClose();
        return true;
    case WM_GETOBJECT:
        result = AnswerAccessibleObject(m_hWnd, wParam, lParam);
        return result != 0;
    case WM_COMMAND: {
        // A button or link of the page acts only when it tells of its own activation: a
        // WM_COMMAND naming one may come from any program that may post or send to the page.
        HWND control = Item(LOWORD(wParam));
        if (CSubclassedControl::Activates(control) &&
            !((HWND)lParam == control && CSubclassedControl::TakeNotification(control)))
            return true;
        return OnCommand(LOWORD(wParam), HIWORD(wParam));
    }
    case WM_DPICHANGED: {
        // Dragged onto a monitor of another scale: laid out anew there, at the place Windows
        // suggests, with the page's own size.
        // The suggested place only from the system, on this thread: another program's pointer
        // is read by nobody.
        const RECT *suggested = InSendMessage() ? NULL : (const RECT *)lParam;
        POINT at = {suggested ? suggested->left : 0, suggested ? suggested->top : 0};
        ApplyDpi(LOWORD(wParam), suggested ? &at : NULL);
        result = 0;
        return true;
    }
    }
    return OnPageMessage(message, wParam, lParam, result);
}

void CSetupPage::DescribeForReaders(AccessibleFacts &facts)
{
    facts.role = ROLE_SYSTEM_DIALOG;
    GetWindowTextW(m_hWnd, facts.name, 256);
}

HBRUSH CSetupPage::StaticBackground(HWND, HDC)
{
    return (HBRUSH)GetStockObject(NULL_BRUSH);
}

bool CSetupPage::OnCommand(int, int)
{
    return false;
}

bool CSetupPage::OnPageMessage(UINT, WPARAM, LPARAM, INT_PTR &)
{
    return false;
}

static HFONT SkinFontFor(CSkinStore &skin, PageControl::Font font)
{
    switch (font) {
    case PageControl::kTextFont:
        return skin.m_hFontText;
    case PageControl::kTitleFont:
        return skin.m_hFontTitle;
    case PageControl::kLinkFont:
        return skin.m_hFontLink;
    case PageControl::kButtonFont:
        return skin.m_hFontButton;
    case PageControl::kBigButtonFont:
        return skin.m_hFontBigButton;
    default:
        return NULL;
    }
}

static HIMAGELIST ButtonImagesFor(CSkinStore &skin, PageControl::Images images)
{
    switch (images) {
    case PageControl::kSmallImages:
        return skin.SmallButtonImages();
    case PageControl::kMediumImages:
        return skin.MediumButtonImages();
    case PageControl::kLargeImages:
        return skin.LargeButtonImages();
    default:
        return NULL;
    }
}

void CSetupPage::ApplyControls(const PageControl *table, size_t count)
{
    CSkinStore &skin = Skin();
    for (size_t i = 0; i < count; ++i) {
        const PageControl &control = table[i];
        HWND window = Item(control.id);
        if (control.handle)
            *control.handle = window;
        HFONT font = SkinFontFor(skin, control.font);
        if (!m_bControlsAttached)
            AttachControl(control, window, font);
        // A control that keeps the template's size is scaled from the DPI its window was made at.
        int width = Scaled(control.width), height = Scaled(control.height);
        if (control.width <= 0 && i < kMaxControls) {
            RECT made;
            if (!m_bControlsAttached && GetWindowRect(window, &made))
                m_templateSizes[i] = SIZE{made.right - made.left, made.bottom - made.top};
            width = MulDiv(m_templateSizes[i].cx, Dpi(), m_nTemplateDpi);
            height = MulDiv(m_templateSizes[i].cy, Dpi(), m_nTemplateDpi);
        }
        UINT keepSize = control.width > 0 || i < kMaxControls ? 0 : SWP_NOSIZE;
        SetWindowPos(window, NULL, Scaled(control.x), Scaled(control.y), width, height, SWP_NOZORDER | keepSize);
        if (font)
            SendMessageW(window, WM_SETFONT, (WPARAM)font, TRUE);
        if (control.kind == PageControl::kLink) {
            CLinkLabel *link = static_cast<CLinkLabel *>(control.skinned);
            // The link measures its text in the font it draws with.
            link->UseLinkFont(font);
            link->MeasureLink();
        } else if (control.kind == PageControl::kButton) {
            CImageButton *button = static_cast<CImageButton *>(control.skinned);
            button->AssignImageList(ButtonImagesFor(skin, control.images));
            button->AssignImages(0, 2, 1, 0);
        }
    }
    m_bControlsAttached = true;
}

void CSetupPage::AttachControl(const PageControl &control, HWND window, HFONT font)
{
    switch (control.kind) {
    case PageControl::kLabel: {
        CTransparentLabel *label = static_cast<CTransparentLabel *>(control.skinned);
        label->m_clrText = control.colour;
        label->Attach(window);
        break;
    }
    case PageControl::kLink: {
        CLinkLabel *link = static_cast<CLinkLabel *>(control.skinned);
        link->Attach(window);
        link->m_clrLinkText = control.colour;
        link->m_dwStyle = CLinkLabel::kCommandMode;
        link->UseLinkFont(font);
        break;
    }
    case PageControl::kButton: {
        CImageButton *button = static_cast<CImageButton *>(control.skinned);
        button->Attach(window);
        button->SetTip(control.tip);
        break;
    }
    case PageControl::kPlain:
        if (IsSystemCheckBox(window) && m_nCheckBoxes < kMaxCheckBoxes)
            m_checkBoxes[m_nCheckBoxes++].Attach(window);
        else if (IsSystemEdit(window) && m_nEdits < kMaxEdits)
            m_edits[m_nEdits++].Attach(window);
        break;
    }
}

static PageControl Row(int id, PageControl::Kind kind, CSubclassedControl *skinned, HWND *handle, int x, int y,
                       int width, int height, PageControl::Font font)
{
    PageControl row = {id, kind, skinned, handle, x, y, width, height, font, 0, PageControl::kNoImages, NULL};
    return row;
}

PageControl PlainControl(int id, HWND *handle, int x, int y, PageControl::Font font)
{
    return Row(id, PageControl::kPlain, NULL, handle, x, y, 0, 0, font);
}

PageControl PlainControl(int id, HWND *handle, int x, int y, int width, int height, PageControl::Font font)
{
    return Row(id, PageControl::kPlain, NULL, handle, x, y, width, height, font);
}

PageControl LabelControl(int id, CTransparentLabel &label, int x, int y, PageControl::Font font)
{
    return Row(id, PageControl::kLabel, &label, NULL, x, y, 0, 0, font);
}

PageControl LabelControl(int id, CTransparentLabel &label, int x, int y, int width, int height, PageControl::Font font)
{
    return Row(id, PageControl::kLabel, &label, NULL, x, y, width, height, font);
}

PageControl LinkControl(int id, CLinkLabel &link, int x, int y, int width, int height)
{
    PageControl row = Row(id, PageControl::kLink, &link, NULL, x, y, width, height, PageControl::kLinkFont);
    row.colour = RGB(62, 121, 201);
    return row;
}

PageControl ButtonControl(int id, CImageButton &button, int x, int y, int width, int height, PageControl::Images images,
                          const WCHAR *tip)
{
    // The caption's size goes with the button's.
    PageControl::Font font = images == PageControl::kLargeImages   ? PageControl::kBigButtonFont
                             : images == PageControl::kSmallImages ? PageControl::kTextFont
                                                                   : PageControl::kButtonFont;
    PageControl row = Row(id, PageControl::kButton, &button, NULL, x, y, width, height, font);
    row.images = images;
    row.tip = tip;
    return row;
}

void CSetupPage::DrawCornerLogo(HDC dc) const
{
    RECT logo = {500, 20, 560, 78};
    Skin().DrawLogo(dc, Scaled(logo));
}

void CSetupPage::DrawWatermark(HDC dc) const
{
    const BYTE opacity = 56;
    POINT at = {Scaled(110), Scaled(30)};
    Skin().DrawIllustration(dc, at, opacity);
}
