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
    expectPoint(80, 85, cursorCaretPosition());

    Placement bar = statusBarPlacement(829, 511);
    EXPECT_EQ(0, bar.x);
    EXPECT_EQ(491, bar.y);
    EXPECT_EQ(829, bar.width);
    EXPECT_EQ(20, bar.height);
    expectPoint(824, 540, minimumTrackSize());
}

TEST_F(LayoutTest, MinimumSizeBeforeTheFontIsMeasured) {
    expectPoint(24, 90, minimumTrackSize());
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
    expectPoint(60, 167, cursorCaretPosition());
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
    expectPoint(60, 67, cursorCaretPosition());
}

}  // namespace
