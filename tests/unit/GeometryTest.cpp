#include <gtest/gtest.h>
#include "skin/SkinGeometry.h"
#include "skin/LinkLabel.h"
#include "skin/ImageButton.h"
#include "pages/ProgressPage.h"
#include "pages/AgreementPage.h"

namespace {

TEST(ProgressGeometry, FillWidthsAndPieces)
{
    struct Row {
        int position, middle;
    } rows[] = {{0, 0}, {1, 4}, {50, 226}, {99, 447}, {100, 452}, {150, 678}};
    for (const Row &row : rows) {
        ProgressPieces pieces = ComputeProgressPieces(10, 20, row.position);
        ASSERT_TRUE(pieces.hasFill);
        EXPECT_EQ(row.middle, pieces.middleWidth) << row.position;
        EXPECT_EQ(26, pieces.leftCap.left);
        EXPECT_EQ(29, pieces.middle.left);
        EXPECT_EQ(29 + row.middle, pieces.rightCap.left);
        EXPECT_EQ(32 + row.middle, pieces.rightCap.right);
        EXPECT_EQ(36, pieces.leftCap.top);
        EXPECT_EQ(50, pieces.leftCap.bottom);
    }
    // At 100 the fill runs from x + 16 to x + 473, six pixels past the frame's right edge.
    ProgressPieces full = ComputeProgressPieces(0, 0, 100);
    EXPECT_EQ(16, full.leftCap.left);
    EXPECT_EQ(474, full.rightCap.right);
    EXPECT_FALSE(ComputeProgressPieces(0, 0, -1).hasFill);
}

// At other DPIs every length rounds half away from zero, as the artwork generator rounds; the
// artwork drawn is the nearest at or above the DPI; the fill's caps keep their own widths.
TEST(ProgressGeometry, ScalesWithTheDpi)
{
    struct Row {
        int dpi, artwork, inset, capLeft, capRight, height, middleAtHalf;
    } rows[] = {
        {96, 96, 16, 3, 3, 14, 226},   {120, 144, 20, 4, 4, 18, 282}, {144, 144, 24, 5, 5, 21, 339},
        {168, 192, 28, 5, 5, 25, 395}, {192, 192, 32, 6, 6, 28, 452}, {288, 192, 48, 9, 9, 42, 678},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(row.artwork, ArtworkDpi(row.dpi)) << row.dpi;
        ProgressPieces pieces = ComputeProgressPieces(100, 200, 50, row.dpi);
        EXPECT_EQ(100 + row.inset, pieces.leftCap.left) << row.dpi;
        EXPECT_EQ(200 + row.inset, pieces.leftCap.top) << row.dpi;
        EXPECT_EQ(row.height, pieces.leftCap.bottom - pieces.leftCap.top) << row.dpi;
        EXPECT_EQ(row.capLeft, pieces.middle.left - pieces.leftCap.left) << row.dpi;
        EXPECT_EQ(row.middleAtHalf, pieces.middleWidth) << row.dpi;
        EXPECT_EQ(pieces.middle.right, pieces.rightCap.left) << row.dpi;
        EXPECT_EQ(row.capRight, pieces.rightCap.right - pieces.rightCap.left) << row.dpi;
    }
    EXPECT_EQ(881, ScaleToDpi(587, 144)) << "half a pixel rounds up";
}

TEST(CenterGeometry, CentresInsideAWorkAreaBelowATopTaskbar)
{
    RECT area = {0, 40, 1024, 768};
    POINT p = CenterInArea(area, area, 600, 430);
    EXPECT_EQ(212, p.x);
    EXPECT_EQ(404 - 215, p.y);
    EXPECT_GE(p.y, 40);
}

TEST(CenterGeometry, LargerThanTheAreaPinsToLeftAndTop)
{
    RECT area = {0, 40, 640, 480};
    POINT p = CenterInArea(area, area, 800, 600);
    EXPECT_EQ(0, p.x);
    EXPECT_EQ(40, p.y);
}

TEST(CenterGeometry, StaysInsideTheAreaNearItsEdges)
{
    RECT area = {0, 0, 1000, 700};
    RECT reference = {900, 600, 1000, 700};
    POINT p = CenterInArea(reference, area, 300, 200);
    EXPECT_EQ(700, p.x);
    EXPECT_EQ(500, p.y);
    RECT negative = {-301, -201, -1, -1};
    p = CenterInArea(negative, area, 100, 100);
    EXPECT_EQ(0, p.x);
    EXPECT_EQ(0, p.y);
}

TEST(LinkGeometry, AlignmentShift)
{
    EXPECT_EQ(0, LinkAlignmentShift(SS_LEFT, 100, 60));
    EXPECT_EQ(20, LinkAlignmentShift(SS_CENTER, 100, 60));
    EXPECT_EQ(40, LinkAlignmentShift(SS_RIGHT, 100, 60));
    EXPECT_EQ(0, LinkAlignmentShift(SS_CENTER, 100, 99));
}

TEST(ProgressAnimation, OnePercentPerTickNeverBackwards)
{
    int shown = 12, ticks = 0;
    while (shown < 30) {
        shown = NextProgressPosition(shown, 30);
        ++ticks;
    }
    EXPECT_EQ(18, ticks);
    EXPECT_EQ(30, NextProgressPosition(30, 30));
    EXPECT_EQ(40, NextProgressPosition(40, 10));
    EXPECT_EQ(0, NextProgressPosition(0, 0));
    EXPECT_EQ(100, NextProgressPosition(99, 150));
}

TEST(ImageButtonState, ChoosesTheCellForEachState)
{
    CImageButton button;
    EXPECT_EQ(-1, button.ChooseImage(false, false, false));
    button.AssignImages(0, 2, 1, 0);
    EXPECT_EQ(0, button.ChooseImage(false, false, false));
    EXPECT_EQ(1, button.ChooseImage(false, false, true));
    EXPECT_EQ(2, button.ChooseImage(false, true, true));
    EXPECT_EQ(0, button.ChooseImage(true, true, true));
    button.AssignImages(-1, -1, 5, -1);
    EXPECT_EQ(5, button.ChooseImage(false, false, true));
    EXPECT_EQ(2, button.ChooseImage(false, true, false));
}

TEST(ViewerKeys, DropsCharactersButNotKeyDown)
{
    EXPECT_FALSE(IsDroppedViewerKey(WM_KEYDOWN));
    EXPECT_TRUE(IsDroppedViewerKey(WM_KEYUP));
    EXPECT_TRUE(IsDroppedViewerKey(WM_CHAR));
    EXPECT_TRUE(IsDroppedViewerKey(WM_SYSCHAR));
    EXPECT_TRUE(IsDroppedViewerKey(0x108));
    EXPECT_FALSE(IsDroppedViewerKey(0x109));
    EXPECT_FALSE(IsDroppedViewerKey(WM_LBUTTONDOWN));
}

}
