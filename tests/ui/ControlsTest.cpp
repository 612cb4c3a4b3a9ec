// The skinned controls in real windows: mouse and keyboard behaviour, painting, the skin store.
#include <gtest/gtest.h>
#include "skin/ImageButton.h"
#include "skin/LinkLabel.h"
#include "skin/SkinStore.h"
#include "skin/SkinFrame.h"
#include "pages/AgreementPage.h"
#include "ui/UiSupport.h"
#include "support/TestSupport.h"
#include "resource.h"
#include <algorithm>

namespace {

class ImageButtonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::PrepareUserInterface();
        HWND button = CreateWindowExW(0, L"BUTTON", L"立即安装", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 20, 20,
                                      138, 40, m_parent.Window(), (HMENU)1000, GetModuleHandleW(nullptr), nullptr);
        ASSERT_TRUE(m_button.Attach(button));
        SendMessageW(button, WM_SETFONT, (WPARAM)CSkinStore::Instance().m_hFontBigButton, TRUE);
        m_button.SetTip(L"立即安装");
        m_button.AssignImageList(CSkinStore::Instance().LargeButtonImages());
        m_button.AssignImages(0, 2, 1, 0);
    }
    // A mouse message as the system's input makes it, the button's state along with it.
    void Mouse(UINT message, int x, int y)
    {
        if (message != WM_MOUSEMOVE)
            test::HoldKey(VK_LBUTTON, message != WM_LBUTTONUP);
        SendMessageW(m_button.m_hWnd, message, MK_LBUTTON, MAKELPARAM(x, y));
    }
    void Key(UINT message, WPARAM key, LPARAM flags = 0)
    {
        test::HoldKey((int)key, message == WM_KEYDOWN);
        SendMessageW(m_button.m_hWnd, message, key, flags);
    }

    test::CommandRecorder m_parent;
    CImageButton m_button;
};

TEST_F(ImageButtonTest, PressAndReleaseInsideSendsOneClickBeforeTheCaptureGoes)
{
    // The same messages from another program, the mouse not pressed: nothing.
    test::HoldKey(VK_LBUTTON, false);
    for (UINT message : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
        PostMessageW(m_button.m_hWnd, message, MK_LBUTTON, MAKELPARAM(10, 10));
    PostMessageW(m_button.m_hWnd, WM_KEYDOWN, VK_SPACE, 0);
    PostMessageW(m_button.m_hWnd, WM_KEYUP, VK_SPACE, 0);
    test::PumpMessages(50);
    EXPECT_TRUE(m_parent.commands.empty());
    EXPECT_NE(m_button.m_hWnd, GetCapture());

    Mouse(WM_MOUSEMOVE, 10, 10);
    Mouse(WM_LBUTTONDOWN, 10, 10);
    EXPECT_EQ(m_button.m_hWnd, GetCapture());
    EXPECT_TRUE(m_button.m_bDown);
    Mouse(WM_LBUTTONUP, 12, 12);
    ASSERT_EQ(1u, m_parent.commands.size());
    EXPECT_EQ(1000, m_parent.commands[0].id);
    EXPECT_EQ(BN_CLICKED, m_parent.commands[0].code);
    EXPECT_EQ(m_button.m_hWnd, m_parent.commands[0].sender);
    EXPECT_TRUE(m_parent.commands[0].senderHadCapture);
    EXPECT_NE(m_button.m_hWnd, GetCapture());
    EXPECT_FALSE(m_button.m_bDown);
}

std::wstring ToolText(HWND tooltip, HWND owner, UINT_PTR id)
{
    wchar_t text[256] = {};
    TOOLINFOW tool = {};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = owner;
    tool.uId = id;
    tool.lpszText = text;
    SendMessageW(tooltip, TTM_GETTEXTW, 256, (LPARAM)&tool);
    return text;
}

TEST_F(ImageButtonTest, TooltipShowsItsTextOnceThePointerComes)
{
    Mouse(WM_MOUSEMOVE, 10, 10);
    ASSERT_NE(nullptr, m_button.m_hToolTip);
    EXPECT_EQ(1, SendMessageW(m_button.m_hToolTip, TTM_GETTOOLCOUNT, 0, 0));
    EXPECT_EQ(L"立即安装", ToolText(m_button.m_hToolTip, m_parent.Window(), (UINT_PTR)m_button.m_hWnd));
    EXPECT_TRUE(m_button.m_bHot);
    HWND tooltip = m_button.m_hToolTip;
    Mouse(WM_MOUSEMOVE, 12, 12);
    EXPECT_EQ(tooltip, m_button.m_hToolTip) << "one tooltip per button";
    DestroyWindow(m_button.m_hWnd);
    EXPECT_FALSE(IsWindow(tooltip));
}

TEST_F(ImageButtonTest, DraggingOutCancelsAndComingBackRestores)
{
    Mouse(WM_LBUTTONDOWN, 10, 10);
    Mouse(WM_MOUSEMOVE, 300, 10);
    EXPECT_FALSE(m_button.m_bDown) << "shown released while outside";
    Mouse(WM_LBUTTONUP, 300, 10);
    EXPECT_TRUE(m_parent.commands.empty());
    EXPECT_NE(m_button.m_hWnd, GetCapture());

    Mouse(WM_LBUTTONDOWN, 10, 10);
    Mouse(WM_MOUSEMOVE, 300, 10);
    Mouse(WM_MOUSEMOVE, 20, 20);
    EXPECT_TRUE(m_button.m_bDown);
    Mouse(WM_LBUTTONUP, 20, 20);
    EXPECT_EQ(1u, m_parent.commands.size());
}

// A double click gives two clicks; the space bar one, pressed while held (auto-repeat too);
// Enter none; focus lost while held, none.
TEST_F(ImageButtonTest, DoubleClickGivesTwoClicksAndSpaceOne)
{
    Mouse(WM_LBUTTONDOWN, 10, 10);
    Mouse(WM_LBUTTONUP, 10, 10);
    Mouse(WM_LBUTTONDBLCLK, 10, 10);
    Mouse(WM_LBUTTONUP, 10, 10);
    EXPECT_EQ(2u, m_parent.commands.size());

    SetFocus(m_button.m_hWnd);
    Key(WM_KEYDOWN, VK_SPACE);
    Key(WM_KEYDOWN, VK_SPACE, 0x40000000);
    EXPECT_TRUE(m_button.m_bDown) << "the pressed cell while the key is held";
    SendMessageW(m_button.m_hWnd, WM_CHAR, VK_SPACE, 0);
    Key(WM_KEYUP, VK_SPACE);
    Key(WM_KEYDOWN, VK_RETURN);
    Key(WM_KEYUP, VK_RETURN);
    test::PumpMessages(100);
    EXPECT_EQ(3u, m_parent.commands.size());
    EXPECT_FALSE(m_button.m_bDown);

    Key(WM_KEYDOWN, VK_SPACE);
    SetFocus(nullptr);
    Key(WM_KEYUP, VK_SPACE);
    test::PumpMessages(100);
    EXPECT_EQ(3u, m_parent.commands.size());
}

// The bounding box of the white caption pixels, away from the cell's white corners.
RECT CaptionBox(const std::vector<DWORD> &pixels, int width, int height)
{
    RECT box = {width, height, -1, -1};
    for (int y = 4; y < height - 4; ++y)
        for (int x = 6; x < width - 6; ++x)
            if ((pixels[y * width + x] & 0xFFFFFF) == 0xFFFFFF) {
                box.left = std::min<LONG>(box.left, x);
                box.top = std::min<LONG>(box.top, y);
                box.right = std::max<LONG>(box.right, x);
                box.bottom = std::max<LONG>(box.bottom, y);
            }
    return box;
}

TEST_F(ImageButtonTest, PaintsTheCellAndAWhiteCaptionOffsetWhilePressed)
{
    int width = 0, height = 0;
    std::vector<DWORD> normal = test::RenderClient(m_button.m_hWnd, width, height);
    ASSERT_EQ(138, width);
    // The strip's blue cell covers the button: its middle left is blue, not black.
    DWORD sample = normal[20 * width + 5];
    EXPECT_GT(sample & 0xFF, (sample >> 16) & 0xFF) << "blue dominates";
    RECT up = CaptionBox(normal, width, height);
    ASSERT_GE(up.right, up.left) << "a white caption is drawn";

    m_button.m_bDown = 1;
    std::vector<DWORD> pressed = test::RenderClient(m_button.m_hWnd, width, height);
    RECT down = CaptionBox(pressed, width, height);
    EXPECT_EQ(up.left + 1, down.left);
    EXPECT_EQ(up.top + 1, down.top);
    EXPECT_NE(normal[20 * width + 5], pressed[20 * width + 5]) << "the pressed cell is darker";
    m_button.m_bDown = 0;
}

class LinkLabelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::PrepareUserInterface();
        HWND link = CreateWindowExW(0, L"STATIC", L"《许可证协议》", WS_CHILD | WS_VISIBLE | SS_LEFT, 20, 20, 200, 60,
                                    m_parent.Window(), (HMENU)1012, GetModuleHandleW(nullptr), nullptr);
        ASSERT_TRUE(m_link.Attach(link));
        m_link.m_clrLinkText = RGB(62, 121, 201);
        m_link.UseLinkFont(CSkinStore::Instance().m_hFontLink);
        SendMessageW(link, WM_SETFONT, (WPARAM)CSkinStore::Instance().m_hFontLink, TRUE);
        m_link.MeasureLink();
        m_link.m_dwStyle = CLinkLabel::kCommandMode;
    }
    void Mouse(UINT message, int x, int y)
    {
        if (message != WM_MOUSEMOVE)
            test::HoldKey(VK_LBUTTON, message != WM_LBUTTONUP);
        SendMessageW(m_link.m_hWnd, message, MK_LBUTTON, MAKELPARAM(x, y));
    }
    void Typed(wchar_t key)
    {
        test::HoldKey(key, true);
        SendMessageW(m_link.m_hWnd, WM_CHAR, key, 0);
        test::HoldKey(key, false);
    }

    test::CommandRecorder m_parent;
    CLinkLabel m_link;
};

TEST_F(LinkLabelTest, OnlyTheTextRectangleClicks)
{
    RECT text = m_link.m_rcText;
    ASSERT_LT(text.right, 200) << "the text is narrower than the control";
    ASSERT_LT(text.bottom, 60);
    SetFocus(m_parent.Window());

    Mouse(WM_LBUTTONDOWN, text.right + 10, 5);
    Mouse(WM_LBUTTONUP, text.right + 10, 5);
    EXPECT_TRUE(m_parent.commands.empty());
    EXPECT_NE(m_link.m_hWnd, GetFocus());

    Mouse(WM_LBUTTONDOWN, text.left + 2, text.top + 2);
    Mouse(WM_LBUTTONUP, text.left + 3, text.top + 3);
    ASSERT_EQ(1u, m_parent.commands.size());
    EXPECT_EQ(1012, m_parent.commands[0].id);
    EXPECT_EQ(0, m_parent.commands[0].code);
    EXPECT_EQ(m_link.m_hWnd, GetFocus());

    Mouse(WM_LBUTTONDOWN, text.left + 2, text.top + 2);
    Mouse(WM_LBUTTONUP, text.right + 20, text.bottom + 20);
    EXPECT_EQ(1u, m_parent.commands.size()) << "released outside the text";
}

TEST_F(LinkLabelTest, TooltipCarriesTheLinkText)
{
    Mouse(WM_MOUSEMOVE, m_link.m_rcText.left + 2, m_link.m_rcText.top + 2);
    ASSERT_NE(nullptr, m_link.m_hToolTip);
    EXPECT_EQ(L"《许可证协议》", ToolText(m_link.m_hToolTip, m_link.m_hWnd, 1));
}

TEST_F(LinkLabelTest, EnterAndSpaceReportOnce)
{
    SetFocus(m_link.m_hWnd);
    // Characters another program sends, no key typed: nothing.
    SendMessageW(m_link.m_hWnd, WM_CHAR, VK_RETURN, 0);
    SendMessageW(m_link.m_hWnd, WM_CHAR, VK_SPACE, 0);
    EXPECT_TRUE(m_parent.commands.empty());
    Typed(VK_RETURN);
    Typed(VK_SPACE);
    Typed('A');
    EXPECT_EQ(2u, m_parent.commands.size());
    EXPECT_EQ(DLGC_WANTCHARS, SendMessageW(m_link.m_hWnd, WM_GETDLGCODE, 0, 0));
}

TEST_F(LinkLabelTest, ReplacingTheLinkFontKeepsTheGivenOne)
{
    HFONT given = CSkinStore::Instance().m_hFontLink;
    EXPECT_EQ(given, m_link.m_hLinkFont);
    EXPECT_FALSE(m_link.m_bOwnLinkFont);
    m_link.UseLinkFont(CSkinStore::Instance().m_hFontText);
    LOGFONTW font;
    EXPECT_NE(0, GetObjectW(given, sizeof(font), &font)) << "a font the control was given is never deleted";
}

TEST(SkinStore, ImageListsAndBitmapsAreBuiltOnce)
{
    test::PrepareUserInterface();
    CSkinStore &skin = CSkinStore::Instance();
    struct {
        HIMAGELIST list;
        int width, height;
    } lists[] = {{skin.LargeButtonImages(), 138, 40}, {skin.MediumButtonImages(), 117, 33}, {skin.SmallButtonImages(), 77, 26}};
    for (auto &list : lists) {
        ASSERT_NE(nullptr, list.list);
        EXPECT_EQ(3, ImageList_GetImageCount(list.list));
        int width = 0, height = 0;
        ImageList_GetIconSize(list.list, &width, &height);
        EXPECT_EQ(list.width, width);
        EXPECT_EQ(list.height, height);
    }
    EXPECT_EQ(lists[0].list, skin.LargeButtonImages());
    HBITMAP logo = skin.Logo();
    ASSERT_NE(nullptr, logo);
    EXPECT_EQ(logo, skin.Logo());
    BITMAP info;
    GetObjectW(logo, sizeof(info), &info);
    EXPECT_EQ(60, info.bmWidth);
    EXPECT_EQ(58, abs(info.bmHeight));
    EXPECT_EQ(32, info.bmBitsPixel);
    EXPECT_EQ(nullptr, LoadPngResource(999)) << "a missing image gives nothing";
}

// The pixels of a 32-bit top-down DIB section, as the skin store's images are.
std::vector<DWORD> BitmapPixels(HBITMAP bitmap, int &width, int &height)
{
    DIBSECTION section = {};
    GetObjectW(bitmap, sizeof(section), &section);
    width = section.dsBm.bmWidth, height = abs(section.dsBm.bmHeight);
    const DWORD *bits = (const DWORD *)section.dsBm.bmBits;
    return bits ? std::vector<DWORD>(bits, bits + (size_t)width * height) : std::vector<DWORD>();
}

bool IsWhite(DWORD pixel);

// At 96, 144 and 192 DPI the images are the artwork of that scale as it is; between them the
// next larger one, scaled down cell by cell so that no button cell takes in its neighbour's edge.
TEST(SkinStore, EachDpiDrawsTheNearestLargerArtwork)
{
    test::PrepareUserInterface();
    for (int dpi : {96, 120, 144, 168, 192}) {
        CSkinStore &skin = CSkinStore::Instance(dpi);
        int width = 0, height = 0;
        std::vector<DWORD> illustration = BitmapPixels(skin.Illustration(), width, height);
        EXPECT_EQ(MulDiv(247, dpi, 96), width) << dpi;
        EXPECT_EQ(MulDiv(239, dpi, 96), height) << dpi;
        ASSERT_FALSE(illustration.empty()) << dpi;
        DWORD centre = illustration[(size_t)height / 2 * width + width / 2];
        EXPECT_GT(centre & 0xFF, (centre >> 16) & 0xFF) << dpi << ": the globe is blue in the middle";
        if (dpi % 48 == 0) {
            int artWidth = 0, artHeight = 0;
            HBITMAP art = LoadPngResource(SkinImageResource(IDP_ILLUSTRATION, dpi));
            EXPECT_EQ(BitmapPixels(art, artWidth, artHeight), illustration) << dpi;
            DeleteObject(art);
        }
        int cellWidth = 0, cellHeight = 0;
        ImageList_GetIconSize(skin.LargeButtonImages(), &cellWidth, &cellHeight);
        EXPECT_TRUE(cellWidth == MulDiv(138, dpi, 96) && cellHeight == MulDiv(40, dpi, 96)) << dpi;
        HBITMAP strip = LoadScaledSkinImage(IDP_BUTTON_LARGE, 138, 40, dpi, 3);
        std::vector<DWORD> cells = BitmapPixels(strip, width, height);
        DeleteObject(strip);
        ASSERT_EQ(3 * cellWidth, width) << dpi;
        // Each cell's outer columns are its opaque border: neither faded by the filter nor white.
        for (int cell = 0; cell < 3; ++cell) {
            for (int x : {cell * cellWidth, cell * cellWidth + cellWidth - 1}) {
                DWORD edge = cells[(size_t)height / 2 * width + x];
                EXPECT_EQ(0xFFu, edge >> 24) << dpi << ": cell " << cell << " at " << x;
                EXPECT_FALSE(IsWhite(edge)) << dpi << ": cell " << cell << " at " << x;
            }
        }
    }
    EXPECT_NE(CSkinStore::Instance(96).m_hFontText, CSkinStore::Instance(144).m_hFontText);
}

// Draws into a white 600 x 100 surface and returns its pixels.
template <class Draw>
std::vector<DWORD> DrawOnWhite(Draw draw)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = 600;
    info.bmiHeader.biHeight = -100;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void *bits = nullptr;
    HDC memory = CreateCompatibleDC(nullptr);
    HBITMAP surface = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, surface);
    RECT all = {0, 0, 600, 100};
    FillRect(memory, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
    draw(memory);
    GdiFlush();
    std::vector<DWORD> pixels((DWORD *)bits, (DWORD *)bits + 600 * 100);
    SelectObject(memory, previous);
    DeleteObject(surface);
    DeleteDC(memory);
    return pixels;
}

bool IsWhite(DWORD pixel)
{
    return (pixel & 0xFFFFFF) == 0xFFFFFF;
}

TEST(SkinStore, ProgressBarDrawsTroughAndFill)
{
    test::PrepareUserInterface();
    CSkinStore &skin = CSkinStore::Instance();
    std::vector<DWORD> full = DrawOnWhite([&](HDC dc) { skin.DrawProgress(dc, POINT{0, 0}, 100); });
    std::vector<DWORD> empty = DrawOnWhite([&](HDC dc) { skin.DrawProgress(dc, POINT{0, 0}, -1); });
    const int row = 22 * 600;
    EXPECT_FALSE(IsWhite(full[row + 473])) << "the fill's right cap ends at x + 473";
    EXPECT_TRUE(IsWhite(full[row + 475]));
    EXPECT_NE(full[row + 200], empty[row + 200]) << "filled against the bare trough";
    EXPECT_EQ(empty[row + 200], DrawOnWhite([&](HDC dc) { skin.DrawProgress(dc, POINT{0, 0}, -1); })[row + 200]);
    std::vector<DWORD> zero = DrawOnWhite([&](HDC dc) { skin.DrawProgress(dc, POINT{0, 0}, 0); });
    EXPECT_NE(zero[row + 17], empty[row + 17]) << "position 0 shows the two caps";
    EXPECT_EQ(zero[row + 30], empty[row + 30]);
}

TEST(SkinStore, LogoDrawsOnlyWhenTheRectangleFits)
{
    test::PrepareUserInterface();
    CSkinStore &skin = CSkinStore::Instance();
    std::vector<DWORD> fitted = DrawOnWhite([&](HDC dc) { skin.DrawLogo(dc, RECT{500, 20, 560, 78}); });
    int coloured = 0;
    for (int y = 20; y < 78; ++y)
        for (int x = 500; x < 560; ++x)
            coloured += !IsWhite(fitted[y * 600 + x]);
    EXPECT_GT(coloured, 1000);
    std::vector<DWORD> larger = DrawOnWhite([&](HDC dc) { skin.DrawLogo(dc, RECT{320, 10, 568, 77}); });
    for (DWORD pixel : larger)
        ASSERT_TRUE(IsWhite(pixel));
}

TEST(SkinStore, BackgroundBrushIsTheWhitePage)
{
    test::PrepareUserInterface();
    RECT client = {0, 0, 587, 396};
    HBRUSH brush = CSkinStore::Instance().CreateBackgroundBrush(client, 70, 360, 16);
    ASSERT_NE(nullptr, brush);
    std::vector<DWORD> painted = DrawOnWhite([&](HDC dc) {
        RECT black = {0, 0, 100, 40};
        FillRect(dc, &black, (HBRUSH)GetStockObject(BLACK_BRUSH));
        FillRect(dc, &black, brush);
    });
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 100; ++x)
            ASSERT_TRUE(IsWhite(painted[y * 600 + x])) << x << "," << y;
    DeleteObject(brush);
}

TEST(TextResource, UnicodeWithMarkAnsiAndMissing)
{
    wchar_t *licence = LoadTextResource(235, GetModuleHandleW(nullptr));
    ASSERT_NE(nullptr, licence);
    EXPECT_NE(0xFEFF, licence[0]) << "the mark is not part of the text";
    std::wstring text = licence;
    EXPECT_EQ(0u, text.find(L"岚舟浏览器 3.2 正式版"));
    for (const wchar_t *clause : {L"软件", L"限制", L"支持", L"终止", L"版权", L"隐私", L"免责"})
        EXPECT_NE(std::wstring::npos, text.find(clause));
    EXPECT_NE(std::wstring::npos, text.find(L"\r\n"));
    free(licence);

    wchar_t *ansi = LoadTextResource(901, GetModuleHandleW(nullptr));
    EXPECT_STREQ(L"Plain ANSI text", ansi);
    free(ansi);
    wchar_t *missing = LoadTextResource(999, GetModuleHandleW(nullptr));
    EXPECT_STREQ(L"", missing);
    free(missing);
}

TEST(CenterOnOwner, CentresOnTheWorkArea)
{
    test::PrepareUserInterface();
    test::CommandRecorder window;
    CenterOnOwner(window.Window(), nullptr);
    RECT area, rect;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    GetWindowRect(window.Window(), &rect);
    EXPECT_EQ((area.left + area.right) / 2 - 200, rect.left);
    EXPECT_EQ((area.top + area.bottom) / 2 - 150, rect.top);
    EXPECT_EQ(400, rect.right - rect.left) << "the size is kept";
}

}
