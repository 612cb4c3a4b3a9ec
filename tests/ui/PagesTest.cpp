// The wizard's pages in this process, created through the page set as the setup creates them.
// (The worker here is idle: the progress page's install command changes nothing.) The page set lives as
// long as the process, so every case needs a process of its own, as CTest runs them.
#include <gtest/gtest.h>
#include "app/InstallOptions.h"
#include "app/SetupMessages.h"
#include "base/SetupText.h"
#include "pages/PageSet.h"
#include "support/TestSupport.h"
#include "ui/UiSupport.h"
#include "e2e/Screenshot.h"
#include "resource.h"
#include <oleacc.h>
#include <algorithm>

namespace {

// The setup has ended as it always does: the page's window is gone and the quit message with
// exit code -1 is waiting.
void ExpectSetupEnded(HWND window)
{
    int code = 0;
    EXPECT_TRUE(test::RunLoopUntil([] { return false; }, 2000, &code)) << "no quit message";
    EXPECT_EQ(-1, code);
    EXPECT_FALSE(IsWindow(window));
}

class Pages : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::PrepareUserInterface();
        test::StartIdleWorker();
    }
    CPageSet &pages = CPageSet::Instance();
};

BOOL CALLBACK CollectChild(HWND child, LPARAM list);

// Each control's window rectangle in its page's client area, and the visible labels, links,
// buttons and check boxes whose text, in the control's own font on one line, is wider or taller
// than the control (a check box less its box at `dpi`).
std::vector<RECT> ControlPlaces(HWND page, int dpi, std::vector<std::wstring> &misfits)
{
    std::vector<HWND> children;
    EnumChildWindows(page, CollectChild, (LPARAM)&children);
    std::vector<RECT> places;
    for (HWND child : children) {
        RECT rect, measured = {0, 0, 0, 0};
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, page, (POINT *)&rect, 2);
        places.push_back(rect);
        wchar_t className[32] = {}, text[256] = {};
        GetClassNameW(child, className, 32);
        LONG type = GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK;
        bool button = lstrcmpiW(className, L"Button") == 0, box = button && (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX);
        if (!IsWindowVisible(child) || (!button && lstrcmpiW(className, L"Static") != 0) || !GetWindowTextW(child, text, 256))
            continue;
        HDC dc = GetDC(child);
        HGDIOBJ previous = SelectObject(dc, (HFONT)SendMessageW(child, WM_GETFONT, 0, 0));
        DrawTextW(dc, text, -1, &measured, DT_SINGLELINE | DT_CALCRECT);
        SelectObject(dc, previous);
        ReleaseDC(child, dc);
        if (measured.right > rect.right - rect.left - (box ? MulDiv(16, dpi, 96) : 0) || measured.bottom > rect.bottom - rect.top)
            misfits.push_back(text);
    }
    return places;
}

// Every page at 96 DPI, then moved to a 150 % and a 200 % monitor and back: its size, its
// controls' places and texts, and a picture of it at each scale.
TEST_F(Pages, EveryPageIsSkinnedAlikeAtEveryScale)
{
    struct {
        CSetupPage *page;
        const wchar_t *picture;
    } all[] = {{pages.Welcome(), L"welcome"}, {pages.Custom(), L"custom"},   {pages.Upgrade(), L"upgrade"},
               {pages.Downgrade(), L"downgrade"}, {pages.License(), L"licence"}, {pages.Privacy(), L"privacy"},
               {pages.Finish(), L"finish"},   {pages.Progress(), L"progress"}};
    for (auto &one : all) {
        CSetupPage *page = one.page;
        ASSERT_NE(nullptr, page->m_hWnd);
        RECT client;
        GetClientRect(page->m_hWnd, &client);
        EXPECT_EQ(587, client.right) << page->m_nTemplate;
        EXPECT_EQ(396, client.bottom) << page->m_nTemplate;
        wchar_t caption[128];
        GetWindowTextW(page->m_hWnd, caption, 128);
        EXPECT_STREQ(g_strSetupTitle, caption);
        EXPECT_FALSE(IsWindowVisible(page->m_hWnd)) << "created hidden";
        EXPECT_NE(nullptr, (HICON)SendMessageW(page->m_hWnd, WM_GETICON, ICON_SMALL, 0));
        std::vector<std::wstring> misfits;  // looked at when the page is back at 96 DPI
        std::vector<RECT> atFirst = ControlPlaces(page->m_hWnd, 96, misfits);

        ShowWindow(page->m_hWnd, SW_SHOWNOACTIVATE);
        for (int dpi : {144, 192, 96}) {
            RECT window;
            GetWindowRect(page->m_hWnd, &window);
            RECT suggested = {40, 30, 40 + MulDiv(window.right - window.left, dpi, 96), 30 + 500};
            SendMessageW(page->m_hWnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), (LPARAM)&suggested);
            GetWindowRect(page->m_hWnd, &window);
            EXPECT_EQ(40, window.left) << "at the place suggested";
            GetClientRect(page->m_hWnd, &client);
            EXPECT_NEAR(587 * dpi / 96, client.right, 1) << page->m_nTemplate << " at " << dpi;
            EXPECT_NEAR(396 * dpi / 96, client.bottom, 1) << page->m_nTemplate << " at " << dpi;
            misfits.clear();
            std::vector<RECT> places = ControlPlaces(page->m_hWnd, dpi, misfits);
            for (const std::wstring &misfit : misfits)
                ADD_FAILURE() << page->m_nTemplate << " at " << dpi << ": " << misfit;
            if (dpi == 96) {
                EXPECT_TRUE(std::equal(atFirst.begin(), atFirst.end(), places.begin(), places.end(),
                                       [](const RECT &a, const RECT &b) { return EqualRect(&a, &b) != FALSE; }))
                    << page->m_nTemplate << ": back in their places";
            } else {
                test::RunLoopUntil([] { return false; }, 100);
                EXPECT_TRUE(test::SaveWindowScreenshot(page->m_hWnd, std::wstring(one.picture) + (dpi == 144 ? L"-150" : L"-200")));
            }
        }
        ShowWindow(page->m_hWnd, SW_HIDE);
    }
}

BOOL CALLBACK CollectChild(HWND child, LPARAM list)
{
    ((std::vector<HWND> *)list)->push_back(child);
    return TRUE;
}

// Esc and Enter, pressed with the focus on the page and on each of its controls in turn.
TEST_F(Pages, EscapeAndEnterDoNothingAnywhere)
{
    CSetupPage *all[] = {pages.Welcome(), pages.Custom(),  pages.Upgrade(), pages.Downgrade(),
                         pages.License(), pages.Privacy(), pages.Finish()};
    for (CSetupPage *page : all) {
        ShowWindow(page->m_hWnd, SW_SHOW);
        SetForegroundWindow(page->m_hWnd);
        std::vector<HWND> targets = {page->m_hWnd};
        EnumChildWindows(page->m_hWnd, CollectChild, (LPARAM)&targets);
        for (HWND target : targets) {
            SetFocus(target);
            for (WPARAM key : {VK_ESCAPE, VK_RETURN}) {
                PostMessageW(GetFocus(), WM_KEYDOWN, key, 0);
                PostMessageW(GetFocus(), WM_KEYUP, key, 0xC0000000);
            }
            int code = 0;
            EXPECT_FALSE(test::RunLoopUntil([] { return false; }, 30, &code)) << "no quit";
            EXPECT_TRUE(IsWindowVisible(page->m_hWnd)) << page->m_nTemplate << " control " << GetDlgCtrlID(target);
        }
        ShowWindow(page->m_hWnd, SW_HIDE);
    }
    EXPECT_FALSE(IsWindowVisible(pages.Progress()->m_hWnd)) << "nothing started an installation";
}

TEST_F(Pages, ExitQuestionNoKeepsYesEndsWithMinusOne)
{
    CWelcomePage *welcome = pages.Welcome();
    ShowWindow(welcome->m_hWnd, SW_SHOW);
    {
        test::MessageBoxAnswerer answerer(g_strSetupTitle, {IDNO});
        SendMessageW(welcome->m_hWnd, WM_CLOSE, 0, 0);
        EXPECT_EQ(1, answerer.Answered());
        ASSERT_EQ(1u, answerer.Texts().size());
        EXPECT_STREQ(g_strExitPrompt, answerer.Texts()[0].c_str());
    }
    EXPECT_TRUE(IsWindowVisible(welcome->m_hWnd));
    EXPECT_FALSE(test::RunLoopUntil([] { return false; }, 200));

    test::MessageBoxAnswerer answerer(g_strSetupTitle, {IDYES});
    HWND window = welcome->m_hWnd;
    SendMessageW(window, WM_CLOSE, 0, 0);
    ExpectSetupEnded(window);
}

TEST_F(Pages, LicenceLinkOpensTheSameViewerOverTheWelcomePage)
{
    CWelcomePage *welcome = pages.Welcome();
    ShowWindow(welcome->m_hWnd, SW_SHOW);
    // A command naming the link, as any program may send one, opens nothing; the link does.
    SendMessageW(welcome->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_WELCOME_LICENSE_LINK, 0),
                 (LPARAM)GetDlgItem(welcome->m_hWnd, IDC_WELCOME_LICENSE_LINK));
    EXPECT_FALSE(IsWindowVisible(pages.License()->m_hWnd));
    test::PressLikeTheUser(GetDlgItem(welcome->m_hWnd, IDC_WELCOME_LICENSE_LINK));
    CLicensePage *viewer = pages.License();
    ASSERT_TRUE(IsWindowVisible(viewer->m_hWnd));
    EXPECT_TRUE(IsWindowVisible(welcome->m_hWnd)) << "the welcome page stays underneath";
    RECT a, b;
    GetWindowRect(welcome->m_hWnd, &a);
    GetWindowRect(viewer->m_hWnd, &b);
    EXPECT_TRUE(EqualRect(&a, &b));

    wchar_t text[64];
    GetWindowTextW(viewer->m_hText, text, 64);
    EXPECT_EQ(0, wcsncmp(text, L"岚舟浏览器 3.2 正式版", 12));
    SendMessageW(viewer->m_hText, EM_LINESCROLL, 0, 5);
    LRESULT firstLine = SendMessageW(viewer->m_hText, EM_GETFIRSTVISIBLELINE, 0, 0);
    EXPECT_GT(firstLine, 0);

    // Closing only hides it; moving the welcome page and opening again puts the same viewer
    // at the new place with its scroll position.
    SendMessageW(viewer->m_hWnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(viewer->m_hWnd));
    EXPECT_TRUE(IsWindowVisible(welcome->m_hWnd));
    SetWindowPos(welcome->m_hWnd, nullptr, 30, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    test::PressLikeTheUser(GetDlgItem(welcome->m_hWnd, IDC_WELCOME_LICENSE_LINK));
    EXPECT_EQ(viewer, pages.License());
    GetWindowRect(welcome->m_hWnd, &a);
    GetWindowRect(viewer->m_hWnd, &b);
    EXPECT_TRUE(EqualRect(&a, &b));
    EXPECT_EQ(firstLine, SendMessageW(viewer->m_hText, EM_GETFIRSTVISIBLELINE, 0, 0));

    test::PressLikeTheUser(GetDlgItem(viewer->m_hWnd, IDC_VIEWER_BACK));
    EXPECT_FALSE(IsWindowVisible(viewer->m_hWnd));
}

TEST_F(Pages, PrivacyViewerOpensOverTheFinishPage)
{
    CFinishPage *finish = pages.Finish();
    ShowWindow(finish->m_hWnd, SW_SHOW);
    test::PressLikeTheUser(GetDlgItem(finish->m_hWnd, IDC_FINISH_PRIVACY));
    CPrivacyPage *privacy = pages.Privacy();
    EXPECT_TRUE(IsWindowVisible(privacy->m_hWnd));
    EXPECT_TRUE(IsWindowVisible(finish->m_hWnd)) << "the finish page stays under it";
    RECT a, b;
    GetWindowRect(finish->m_hWnd, &a);
    GetWindowRect(privacy->m_hWnd, &b);
    EXPECT_TRUE(EqualRect(&a, &b));
    test::PressLikeTheUser(GetDlgItem(privacy->m_hWnd, IDC_VIEWER_BACK));
    EXPECT_FALSE(IsWindowVisible(privacy->m_hWnd));
}

// Both agreements alike: typed characters dropped, PgDn pages through the text.
TEST_F(Pages, ViewersDropTypedCharactersButScroll)
{
    for (CAgreementPage *viewer : {(CAgreementPage *)pages.License(), (CAgreementPage *)pages.Privacy()}) {
        ShowWindow(viewer->m_hWnd, SW_SHOW);
        SetForegroundWindow(viewer->m_hWnd);
        SetFocus(viewer->m_hText);
        ASSERT_EQ(viewer->m_hText, GetFocus());
        int before = GetWindowTextLengthW(viewer->m_hText);
        EXPECT_GT(before, 500) << viewer->m_nTemplate;

        MSG typed = {viewer->m_hText, WM_CHAR, 'x', 0, 0, {0, 0}};
        EXPECT_TRUE(test::UiLoop().PreTranslateMessage(&typed)) << "a typed character is dropped";
        MSG keyUp = {viewer->m_hText, WM_KEYUP, VK_NEXT, 0, 0, {0, 0}};
        EXPECT_TRUE(test::UiLoop().PreTranslateMessage(&keyUp));
        MSG pageDown = {viewer->m_hText, WM_KEYDOWN, VK_NEXT, 0, 0, {0, 0}};
        if (!test::UiLoop().PreTranslateMessage(&pageDown))
            DispatchMessageW(&pageDown);
        EXPECT_GT(SendMessageW(viewer->m_hText, EM_GETFIRSTVISIBLELINE, 0, 0), 0) << "PgDn scrolls";
        EXPECT_EQ(before, GetWindowTextLengthW(viewer->m_hText));
        ShowWindow(viewer->m_hWnd, SW_HIDE);
    }
}

// Neither keys nor the context menu's Cut, Paste and Delete change an agreement's text.
TEST_F(Pages, ViewersAreReadOnly)
{
    CLicensePage *viewer = pages.License();
    ShowWindow(viewer->m_hWnd, SW_SHOW);
    SetForegroundWindow(viewer->m_hWnd);
    SetFocus(viewer->m_hText);
    wchar_t before[64];
    GetWindowTextW(viewer->m_hText, before, 64);
    int length = GetWindowTextLengthW(viewer->m_hText);
    if (OpenClipboard(viewer->m_hWnd)) {
        EmptyClipboard();
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 16);
        wcscpy((wchar_t *)GlobalLock(block), L"pasted");
        GlobalUnlock(block);
        SetClipboardData(CF_UNICODETEXT, block);
        CloseClipboard();
    }
    SendMessageW(viewer->m_hText, EM_SETSEL, 0, 10);
    for (UINT command : {WM_CUT, WM_PASTE, WM_CLEAR})
        SendMessageW(viewer->m_hText, command, 0, 0);
    struct Keys {
        WORD key, modifier;
    } keys[] = {{VK_DELETE, 0}, {VK_BACK, 0}, {VK_INSERT, VK_SHIFT}, {'X', VK_CONTROL}, {'V', VK_CONTROL}};
    for (const Keys &k : keys) {
        INPUT inputs[4] = {};
        int count = 0;
        auto add = [&](WORD key, bool up) {
            inputs[count].type = INPUT_KEYBOARD;
            inputs[count].ki.wVk = key;
            inputs[count].ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
            ++count;
        };
        if (k.modifier)
            add(k.modifier, false);
        add(k.key, false);
        add(k.key, true);
        if (k.modifier)
            add(k.modifier, true);
        SendInput(count, inputs, sizeof(INPUT));
        test::RunLoopUntil([] { return false; }, 100);
    }
    wchar_t after[64];
    GetWindowTextW(viewer->m_hText, after, 64);
    EXPECT_STREQ(before, after);
    EXPECT_EQ(length, GetWindowTextLengthW(viewer->m_hText));
    EXPECT_TRUE(GetWindowLongW(viewer->m_hText, GWL_STYLE) & ES_READONLY);
}

TEST_F(Pages, ProgressShowsEveryValueInOrderThenTheFinishPage)
{
    CProgressPage *progress = pages.Progress();
    ShowWindow(progress->m_hWnd, SW_SHOW);
    UINT state = GetMenuState(GetSystemMenu(progress->m_hWnd, FALSE), SC_CLOSE, MF_BYCOMMAND);
    EXPECT_TRUE(state & (MF_DISABLED | MF_GRAYED)) << "no Close in the system menu";

    std::vector<int> shown;
    auto record = [&] {
        if (shown.empty() || shown.back() != progress->m_progress.m_nPos)
            shown.push_back(progress->m_progress.m_nPos);
        return false;
    };
    // Waits at 0 while nothing is reported (the extraction is still running).
    test::RunLoopUntil(record, 300);
    EXPECT_EQ(std::vector<int>{0}, shown);

    for (int target = 10; target <= 100; target += 10)
        PostSetupMessage(progress->m_hWnd, WM_SETUP_PROGRESS, target);
    HWND finish = nullptr;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 5000 && IsWindowVisible(progress->m_hWnd))
        test::RunLoopUntil(record, 5);
    std::vector<int> expected;
    for (int value = 0; value <= 100; ++value)
        expected.push_back(value);
    EXPECT_EQ(expected, shown) << "shown " << shown.size() << " values, last " << shown.back();
    finish = pages.Finish()->m_hWnd;
    EXPECT_TRUE(IsWindowVisible(finish));
    EXPECT_FALSE(IsWindowVisible(progress->m_hWnd));

    // Hidden, it still ends the setup on the end message.
    HWND window = progress->m_hWnd;
    PostSetupMessage(window, WM_SETUP_END, 0);
    ExpectSetupEnded(window);
}

// A minimised progress page hands its restored rectangle to the finish page, which stays
// minimised until the user brings it back.
TEST_F(Pages, AMinimisedProgressPageHandsOverItsRestoredRectangle)
{
    CProgressPage *progress = pages.Progress();
    ShowWindow(progress->m_hWnd, SW_SHOW);
    RECT normal;
    GetWindowRect(progress->m_hWnd, &normal);
    ShowWindow(progress->m_hWnd, SW_MINIMIZE);
    PostSetupMessage(progress->m_hWnd, WM_SETUP_PROGRESS, 100);
    HWND finish = pages.Finish()->m_hWnd;
    test::RunLoopUntil([&] { return IsWindowVisible(finish) != FALSE; }, 5000);
    ASSERT_TRUE(IsWindowVisible(finish));
    EXPECT_TRUE(IsIconic(finish));
    ShowWindow(finish, SW_RESTORE);
    RECT restored, client;
    GetWindowRect(finish, &restored);
    GetClientRect(finish, &client);
    EXPECT_TRUE(EqualRect(&normal, &restored));
    EXPECT_EQ(587, client.right);
    EXPECT_EQ(396, client.bottom);
}

TEST_F(Pages, EndMessageWhileTheBarMovesEndsAtOnce)
{
    CProgressPage *progress = pages.Progress();
    ShowWindow(progress->m_hWnd, SW_SHOW);
    PostSetupMessage(progress->m_hWnd, WM_SETUP_PROGRESS, 20);
    test::RunLoopUntil([&] { return progress->m_nCurrent >= 5; }, 3000);
    HWND window = progress->m_hWnd;
    // Another program's messages of these numbers, without the setup's key, end and move nothing.
    PostMessageW(window, WM_SETUP_END, 0, 0);
    PostMessageW(window, WM_SETUP_PROGRESS, 100, 0);
    PostMessageW(window, CProgressPage::kWorkerUnreachable, 0, 0);
    EXPECT_FALSE(test::RunLoopUntil([] { return false; }, 300));
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_LE(progress->m_nTarget, 20);
    PostSetupMessage(window, WM_SETUP_END, 0);
    ExpectSetupEnded(window);
}

// Closed from the taskbar or by End task while installing, the page waits for the worker to
// stop where the folder is whole; its end message then ends the setup, with no question.
TEST_F(Pages, ClosingTheProgressPageEndsWithoutAQuestion)
{
    CProgressPage *progress = pages.Progress();
    HWND window = progress->m_hWnd;
    ShowWindow(window, SW_SHOW);
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(test::RunLoopUntil([] { return false; }, 300)) << "not while the worker may be replacing files";
    EXPECT_TRUE(IsWindow(window));
    EXPECT_TRUE(CInstallOptions::Instance().CloseRequested()) << "the worker is told";
    PostSetupMessage(window, WM_SETUP_END, 0);
    ExpectSetupEnded(window);
}

TEST_F(Pages, FinishPageHidesAtTheFirstAnswer)
{
    CFinishPage *finish = pages.Finish();
    ShowWindow(finish->m_hWnd, SW_SHOW);
    UINT state = GetMenuState(GetSystemMenu(finish->m_hWnd, FALSE), SC_CLOSE, MF_BYCOMMAND);
    EXPECT_FALSE(state & (MF_DISABLED | MF_GRAYED));
    SendMessageW(finish->m_hWnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(finish->m_hWnd));
    EXPECT_TRUE(IsWindow(finish->m_hWnd)) << "hidden, not destroyed";
    EXPECT_FALSE(test::RunLoopUntil([] { return false; }, 200)) << "the end comes from the worker";
}

}

// Without a worker, nothing would ever move the bar: the user is told and the setup ends.
// What a screen reader asks of a window through Active Accessibility.
struct Heard {
    long role = -1, state = 0;
    std::wstring name, value, action;
};

// IID_IAccessible, defined here: mingw's import library gives it as a code thunk.
const GUID kIidAccessible = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

std::wstring Taken(BSTR text)
{
    std::wstring taken = text ? text : L"";
    SysFreeString(text);
    return taken;
}

Heard Hear(HWND window, IAccessible **kept = nullptr)
{
    Heard heard;
    IAccessible *object = nullptr;
    if (FAILED(AccessibleObjectFromWindow(window, OBJID_CLIENT, kIidAccessible, (void **)&object)) || !object)
        return heard;
    VARIANT self, answer;
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR text = nullptr;
    VariantInit(&answer);
    if (SUCCEEDED(object->get_accRole(self, &answer)) && answer.vt == VT_I4)
        heard.role = answer.lVal;
    VariantInit(&answer);
    if (SUCCEEDED(object->get_accState(self, &answer)) && answer.vt == VT_I4)
        heard.state = answer.lVal;
    if (SUCCEEDED(object->get_accName(self, &(text = nullptr))))
        heard.name = Taken(text);
    if (SUCCEEDED(object->get_accValue(self, &(text = nullptr))))
        heard.value = Taken(text);
    if (SUCCEEDED(object->get_accDefaultAction(self, &(text = nullptr))))
        heard.action = Taken(text);
    if (kept)
        *kept = object;
    else
        object->Release();
    return heard;
}

std::vector<HWND> g_focusEvents;

void CALLBACK RecordFocus(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG, DWORD, DWORD)
{
    if (object == OBJID_CLIENT)
        g_focusEvents.push_back(window);
}

// Each control of the welcome, custom, progress and finish pages names itself with its text,
// says what it is and its state, the bar its percentage; the links act when asked to, and focus
// changes are announced.
TEST_F(Pages, ScreenReadersHearEachControlAndThePercentage)
{
    CoInitialize(nullptr);
    struct Case {
        CSetupPage *page;
        int id;
        long role;
        long state;
    } cases[] = {
        {pages.Welcome(), IDC_WELCOME_INSTALL, ROLE_SYSTEM_PUSHBUTTON, 0},
        {pages.Welcome(), IDC_WELCOME_CUSTOM, ROLE_SYSTEM_PUSHBUTTON, 0},
        {pages.Welcome(), IDC_WELCOME_DEFAULT, ROLE_SYSTEM_CHECKBUTTON, STATE_SYSTEM_CHECKED},
        {pages.Welcome(), IDC_WELCOME_LICENSE_LINK, ROLE_SYSTEM_LINK, STATE_SYSTEM_LINKED},
        {pages.Custom(), IDC_CUSTOM_START, ROLE_SYSTEM_PUSHBUTTON, 0},
        {pages.Custom(), IDC_CUSTOM_BROWSE, ROLE_SYSTEM_PUSHBUTTON, 0},
        {pages.Custom(), IDC_CUSTOM_BACK, ROLE_SYSTEM_PUSHBUTTON, 0},
        {pages.Custom(), IDC_CUSTOM_DESKTOP, ROLE_SYSTEM_CHECKBUTTON, STATE_SYSTEM_CHECKED},
        {pages.Custom(), IDC_CUSTOM_QUICK_LAUNCH, ROLE_SYSTEM_CHECKBUTTON, STATE_SYSTEM_CHECKED},
        {pages.Custom(), IDC_CUSTOM_DEFAULT, ROLE_SYSTEM_CHECKBUTTON, STATE_SYSTEM_CHECKED},
        {pages.Finish(), IDC_FINISH_RUN, ROLE_SYSTEM_PUSHBUTTON, 0},
        {pages.Finish(), IDC_FINISH_CLOSE, ROLE_SYSTEM_PUSHBUTTON, 0},
        {pages.Finish(), IDC_FINISH_PRIVACY, ROLE_SYSTEM_LINK, STATE_SYSTEM_LINKED},
    };
    for (const Case &c : cases) {
        HWND control = GetDlgItem(c.page->m_hWnd, c.id);
        Heard heard = Hear(control);
        EXPECT_EQ(c.role, heard.role) << c.id;
        EXPECT_EQ(c.state, heard.state & c.state) << c.id;
        EXPECT_FALSE(heard.name.empty()) << c.id;
        wchar_t text[256] = {};
        GetWindowTextW(control, text, 256);
        EXPECT_EQ(text, heard.name) << c.id;
        EXPECT_FALSE(heard.action.empty()) << c.id;
    }
    for (CSetupPage *page : {(CSetupPage *)pages.Welcome(), (CSetupPage *)pages.Custom(),
                             (CSetupPage *)pages.Progress(), (CSetupPage *)pages.Finish()}) {
        Heard heard = Hear(page->m_hWnd);
        EXPECT_EQ(ROLE_SYSTEM_DIALOG, heard.role) << page->m_nTemplate;
        EXPECT_EQ(g_strSetupTitle, heard.name) << page->m_nTemplate;
    }

    // A box unticked is heard so; the bar's value is the percentage it shows.
    HWND box = GetDlgItem(pages.Custom()->m_hWnd, IDC_CUSTOM_DESKTOP);
    SendMessageW(box, BM_SETCHECK, BST_UNCHECKED, 0);
    EXPECT_EQ(0, Hear(box).state & STATE_SYSTEM_CHECKED);
    CProgressPage *progress = pages.Progress();
    progress->m_progress.SetPosition(37);
    Heard bar = Hear(progress->m_progress.m_hWnd);
    EXPECT_EQ(ROLE_SYSTEM_PROGRESSBAR, bar.role);
    EXPECT_EQ(L"37%", bar.value);

    // The focus moving to a button is announced, and the button says it has it.
    CWelcomePage *welcome = pages.Welcome();
    ShowWindow(welcome->m_hWnd, SW_SHOW);
    SetForegroundWindow(welcome->m_hWnd);
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_FOCUS, nullptr, RecordFocus, GetCurrentProcessId(),
                                         0, WINEVENT_OUTOFCONTEXT);
    HWND custom = GetDlgItem(welcome->m_hWnd, IDC_WELCOME_CUSTOM);
    SetFocus(custom);
    test::RunLoopUntil([&] { return std::count(g_focusEvents.begin(), g_focusEvents.end(), custom) > 0; }, 2000);
    UnhookWinEvent(hook);
    EXPECT_NE(0, std::count(g_focusEvents.begin(), g_focusEvents.end(), custom)) << "focus announced";
    EXPECT_NE(0, Hear(custom).state & STATE_SYSTEM_FOCUSED);
    // Held down by the space bar it is pressed; the focus gone, it is not, and nothing was clicked.
    test::HoldKey(VK_SPACE, true);
    SendMessageW(custom, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_NE(0, Hear(custom).state & STATE_SYSTEM_PRESSED);
    SendMessageW(custom, WM_KILLFOCUS, 0, 0);
    test::HoldKey(VK_SPACE, false);
    EXPECT_EQ(0, Hear(custom).state & STATE_SYSTEM_PRESSED);

    // The licence link's default action opens the licence, as a click does.
    IAccessible *link = nullptr;
    Hear(GetDlgItem(welcome->m_hWnd, IDC_WELCOME_LICENSE_LINK), &link);
    ASSERT_NE(nullptr, link);
    VARIANT self;
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    EXPECT_EQ(S_OK, link->accDoDefaultAction(self));
    link->Release();
    test::RunLoopUntil([&] { return IsWindowVisible(pages.License()->m_hWnd) != FALSE; }, 2000);
    EXPECT_TRUE(IsWindowVisible(pages.License()->m_hWnd));
}

TEST(PagesWithoutWorker, TheProgressPageSaysSoAndEnds)
{
    test::PrepareUserInterface();
    test::MessageBoxAnswerer answerer(L"错误", {IDOK});
    HWND window = CPageSet::Instance().Progress()->m_hWnd;
    ExpectSetupEnded(window);
    EXPECT_EQ(1, answerer.Answered());
}
