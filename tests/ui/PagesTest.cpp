// The wizard's pages in this process, created through the page set as the setup creates them.
// (No worker runs here: the progress page's install command goes nowhere.) The page set lives as
// long as the process, so every case needs a process of its own, as CTest runs them.
#include <gtest/gtest.h>
#include "app/SetupMessages.h"
#include "app/SetupText.h"
#include "pages/PageSet.h"
#include "support/TestSupport.h"
#include "ui/UiSupport.h"
#include "e2e/Screenshot.h"
#include "resource.h"

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
    void SetUp() override { test::PrepareUserInterface(); }
    CPageSet &pages = CPageSet::Instance();
};

TEST_F(Pages, EveryPageIsSkinnedAlike)
{
    CSetupPage *all[] = {pages.Welcome(), pages.Custom(),  pages.Upgrade(),  pages.Downgrade(),
                         pages.License(), pages.Privacy(), pages.Finish(), pages.Progress()};
    for (CSetupPage *page : all) {
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
    }
    EXPECT_EQ(pages.Welcome(), pages.Welcome()) << "created once";
}

// Feeds a key press through the setup's message loop to the focused control of a page.
void PressKey(HWND page, WPARAM key)
{
    SetForegroundWindow(page);
    MSG down = {GetFocus() ? GetFocus() : page, WM_KEYDOWN, key, 0, 0, {0, 0}};
    if (!test::UiLoop().PreTranslateMessage(&down)) {
        TranslateMessage(&down);
        DispatchMessageW(&down);
    }
}

TEST_F(Pages, EscapeAndEnterDoNothing)
{
    CWelcomePage *welcome = pages.Welcome();
    ShowWindow(welcome->m_hWnd, SW_SHOW);
    PressKey(welcome->m_hWnd, VK_ESCAPE);
    PressKey(welcome->m_hWnd, VK_RETURN);
    int code = 0;
    EXPECT_FALSE(test::RunLoopUntil([] { return false; }, 300, &code)) << "no quit";
    EXPECT_TRUE(IsWindowVisible(welcome->m_hWnd));
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
    SendMessageW(welcome->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_WELCOME_LICENSE_LINK, 0),
                 (LPARAM)GetDlgItem(welcome->m_hWnd, IDC_WELCOME_LICENSE_LINK));
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
    SendMessageW(welcome->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_WELCOME_LICENSE_LINK, 0), 0);
    EXPECT_EQ(viewer, pages.License());
    GetWindowRect(welcome->m_hWnd, &a);
    GetWindowRect(viewer->m_hWnd, &b);
    EXPECT_TRUE(EqualRect(&a, &b));
    EXPECT_EQ(firstLine, SendMessageW(viewer->m_hText, EM_GETFIRSTVISIBLELINE, 0, 0));

    SendMessageW(viewer->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_VIEWER_BACK, BN_CLICKED), 0);
    EXPECT_FALSE(IsWindowVisible(viewer->m_hWnd));
}

TEST_F(Pages, PrivacyViewerOpensOverTheFinishPage)
{
    CFinishPage *finish = pages.Finish();
    ShowWindow(finish->m_hWnd, SW_SHOW);
    SendMessageW(finish->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_FINISH_PRIVACY, 0), 0);
    CPrivacyPage *privacy = pages.Privacy();
    EXPECT_TRUE(IsWindowVisible(privacy->m_hWnd));
    EXPECT_TRUE(IsWindowVisible(finish->m_hWnd)) << "the finish page stays under it";
    RECT a, b;
    GetWindowRect(finish->m_hWnd, &a);
    GetWindowRect(privacy->m_hWnd, &b);
    EXPECT_TRUE(EqualRect(&a, &b));
    test::RunLoopUntil([] { return false; }, 300);
    EXPECT_TRUE(test::SaveWindowScreenshot(privacy->m_hWnd, L"privacy"));
    SendMessageW(privacy->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_VIEWER_BACK, BN_CLICKED), 0);
    EXPECT_FALSE(IsWindowVisible(privacy->m_hWnd));
}

TEST_F(Pages, ViewersDropTypedCharactersButScroll)
{
    CLicensePage *viewer = pages.License();
    ShowWindow(viewer->m_hWnd, SW_SHOW);
    SetForegroundWindow(viewer->m_hWnd);
    SetFocus(viewer->m_hText);
    ASSERT_EQ(viewer->m_hText, GetFocus());
    int before = GetWindowTextLengthW(viewer->m_hText);

    MSG typed = {viewer->m_hText, WM_CHAR, 'x', 0, 0, {0, 0}};
    EXPECT_TRUE(test::UiLoop().PreTranslateMessage(&typed)) << "a typed character is dropped";
    MSG keyUp = {viewer->m_hText, WM_KEYUP, VK_NEXT, 0, 0, {0, 0}};
    EXPECT_TRUE(test::UiLoop().PreTranslateMessage(&keyUp));
    MSG pageDown = {viewer->m_hText, WM_KEYDOWN, VK_NEXT, 0, 0, {0, 0}};
    if (!test::UiLoop().PreTranslateMessage(&pageDown))
        DispatchMessageW(&pageDown);
    EXPECT_GT(SendMessageW(viewer->m_hText, EM_GETFIRSTVISIBLELINE, 0, 0), 0) << "PgDn scrolls";
    EXPECT_EQ(before, GetWindowTextLengthW(viewer->m_hText));

    CPrivacyPage *privacy = pages.Privacy();
    EXPECT_EQ(0, GetWindowTextLengthW(privacy->m_hText));
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
        PostMessageW(progress->m_hWnd, WM_SETUP_PROGRESS, target, 0);
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
    PostMessageW(window, WM_SETUP_END, 0, 0);
    ExpectSetupEnded(window);
}

TEST_F(Pages, EndMessageWhileTheBarMovesEndsAtOnce)
{
    CProgressPage *progress = pages.Progress();
    ShowWindow(progress->m_hWnd, SW_SHOW);
    PostMessageW(progress->m_hWnd, WM_SETUP_PROGRESS, 20, 0);
    test::RunLoopUntil([&] { return progress->m_nCurrent >= 5; }, 3000);
    HWND window = progress->m_hWnd;
    PostMessageW(window, WM_SETUP_END, 0, 0);
    ExpectSetupEnded(window);
}

TEST_F(Pages, ClosingTheProgressPageEndsWithoutAQuestion)
{
    CProgressPage *progress = pages.Progress();
    HWND window = progress->m_hWnd;
    SendMessageW(window, WM_CLOSE, 0, 0);
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
