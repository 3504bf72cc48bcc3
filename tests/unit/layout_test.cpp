// Pixel geometry of the terminal.
#include <gtest/gtest.h>

#include "fake_platform.h"
#include "terminal/layout.h"
#include "terminal/screen.h"

namespace {

class LayoutTest : public ::testing::Test {
protected:
    void SetUp() override { resetAll(); }
    void TearDown() override { resetAll(); }
};

void expectRect(int left, int top, int right, int bottom, const TextRect& r) {
    EXPECT_EQ(left, r.left);
    EXPECT_EQ(top, r.top);
    EXPECT_EQ(right, r.right);
    EXPECT_EQ(bottom, r.bottom);
}

void expectPoint(int x, int y, const Point& p) {
    EXPECT_EQ(x, p.x);
    EXPECT_EQ(y, p.y);
}

TEST_F(LayoutTest, WorkedExampleCell10By18Client829By511) {
    setCellSize(10, 18);
    layoutTextArea(511);
    createScreenGrid();
    expectRect(10, 31, 800, 481, textRect);
    EXPECT_EQ(79, gridColumns);
    EXPECT_EQ(25, gridRows);

    TerminalFrame f = terminalFrame();
    expectPoint(0, 491, f.start);
    expectPoint(0, 21, f.topLeft);
    expectPoint(812, 21, f.topRight);
    expectPoint(812, 491, f.bottomRight);
    expectRect(7, 28, 803, 484, f.panel);

    for (int i = 0; i < 25; ++i) expectPoint(10, 31 + 18 * i, cellPosition(i, 0));
    expectPoint(10 + 10 * 78, 31 + 18 * 24, cellPosition(24, 78));
    cursorRow = 3;
    cursorCol = 7;
    expectPoint(80, 85, cellPosition(cursorRow, cursorCol));

    Placement bar = statusBarPlacement(829, 511);
    EXPECT_EQ(0, bar.x);
    EXPECT_EQ(491, bar.y);
    EXPECT_EQ(829, bar.width);
    EXPECT_EQ(20, bar.height);
    expectPoint(824, 540, minimumTrackSize(Point{16, 59}));
}

TEST_F(LayoutTest, MinimumSizeBeforeTheFontIsMeasured) {
    expectPoint(24, 90, minimumTrackSize(Point{16, 59}));
}

TEST_F(LayoutTest, ResizingMovesTheTextAreaWithTheBottomEdgeOnly) {
    setCellSize(10, 18);
    layoutTextArea(511);
    createScreenGrid();
    cursorRow = 2;
    cursorCol = 5;

    relayoutTextArea(611);  // taller by 100: everything 100 lower
    expectRect(10, 131, 800, 581, textRect);
    EXPECT_EQ(10, textOriginX);
    EXPECT_EQ(131, textOriginY);
    expectPoint(60, 167, cellPosition(cursorRow, cursorCol));
    expectPoint(0, 591, terminalFrame().start);
    EXPECT_EQ(2, cursorRow);  // the grid and cursor do not change
    EXPECT_EQ(79, gridColumns);

    // Wider or narrower: only the status bar's width follows.
    Placement wide = statusBarPlacement(1200, 611);
    EXPECT_EQ(1200, wide.width);
    EXPECT_EQ(591, wide.y);

    // Minimised: client 0 by 0.
    relayoutTextArea(0);
    expectRect(10, -480, 800, -30, textRect);
    EXPECT_EQ(-480, textOriginY);
    Placement hidden = statusBarPlacement(0, 0);
    EXPECT_EQ(-20, hidden.y);
    EXPECT_EQ(0, hidden.width);
    EXPECT_EQ(20, hidden.height);

    relayoutTextArea(511);
    expectRect(10, 31, 800, 481, textRect);
    expectPoint(60, 67, cellPosition(cursorRow, cursorCol));
}

// 200%, with the cell and the status bar that Wine gives there: every figure is
// doubled, the grid keeps its 79 columns though the cell is narrower than twice 10.
TEST_F(LayoutTest, EveryFigureFollowsTheDpiRoundedAsMulDiv) {
    // MulDiv's rounding: to the nearest, halves away from zero (125% makes halves).
    EXPECT_EQ(23, scaleToDpi(18, 120));
    EXPECT_EQ(13, scaleToDpi(10, 120));
    EXPECT_EQ(3, scaleToDpi(2, 120));
    EXPECT_EQ(-13, scaleToDpi(-10, 120));
    EXPECT_EQ(1268, scaleToDpi(845, 144));

    setLayoutDpi(192);
    EXPECT_EQ(36, terminalFontHeight());
    EXPECT_EQ(4, framePenWidth());
    EXPECT_EQ(40, statusBarHeight) << "the scaled 20 until the bar tells its height";
    setStatusBarHeight(38);
    setCellSize(19, 37);
    layoutTextArea(1056);
    createScreenGrid();
    expectRect(20, 71, 1530, 996, textRect);  // 60 above the client bottom
    EXPECT_EQ(79, gridColumns);
    EXPECT_EQ(25, gridRows);
    TerminalFrame f = terminalFrame();
    expectPoint(0, 1016, f.start);  // its 4-pixel pen ends on the bar's top, 1018
    expectPoint(0, 51, f.topLeft);
    expectPoint(1554, 51, f.topRight);
    expectPoint(1554, 1016, f.bottomRight);
    expectRect(14, 65, 1536, 1002, f.panel);
    expectPoint(39, 108, cellPosition(1, 1));
    Placement bar = statusBarPlacement(1680, 1056);
    EXPECT_EQ(1018, bar.y);
    EXPECT_EQ(38, bar.height);

    // The client area that shows it all: 1554 + 2 wide, 20 + 2 + 25 x 37 + 60 high.
    expectPoint(1556, 1007, textAreaClientSize());
    expectPoint(1690, 1140, initialWindowSize(Point{10, 84}));  // 845 x 570 doubled
    expectPoint(1566, 1091, minimumTrackSize(Point{10, 84}));

    // A taller bar lifts the text: the bar covers neither the last row nor more than
    // the lower half of the frame's bottom line; the window grows to hold it.
    setStatusBarHeight(50);
    relayoutTextArea(1056);
    EXPECT_EQ(986, textRect.bottom);
    EXPECT_EQ(1006, terminalFrame().start.y);
    expectPoint(1690, 1217, initialWindowSize(Point{10, 200}));

    // At 96 DPI the bar keeps its 20 pixels, whatever its own height.
    setLayoutDpi(96);
    setStatusBarHeight(38);
    EXPECT_EQ(20, statusBarHeight);
}

}  // namespace
