// The history kept above the grid, the view that looks back into it, and the
// selection and its text.
#include <gtest/gtest.h>

#include <string>

#include "fake_platform.h"
#include "session/settings.h"
#include "terminal/history_view.h"
#include "terminal/layout.h"
#include "terminal/screen.h"

namespace {

class HistoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        makeWindowGrid();
        showGridAsIs();
    }
    void TearDown() override { resetAll(); }

    static void feed(const std::string& bytes) { showReceivedBytes(bytes); }
    // Lines "row <first>" to "row <last>", each ended by CR LF.
    static void feedRows(int first, int last) {
        std::string bytes;
        for (int n = first; n <= last; ++n) bytes += "row " + std::to_string(n) + "\r\n";
        feed(bytes);
    }
    // A row's text without the blanks that end it.
    static std::string rowText(int row) {
        std::string text(reinterpret_cast<const char*>(terminalRow(row)),
                         static_cast<std::size_t>(gridColumns));
        return text.erase(text.find_last_not_of(' ') + 1);
    }
    // What the window shows on a view row, as drawn.
    static std::string shownRow(int viewRow) {
        const auto from = fake.shown.begin() + static_cast<long>(viewRow) * gridColumns;
        std::string text(from, from + gridColumns);
        return text.erase(text.find_last_not_of(' ') + 1);
    }
    static std::string invertedColumns(int viewRow) {
        std::string marks;
        for (int col = 0; col < gridColumns; ++col) {
            marks += fake.shownInverted[static_cast<std::size_t>(viewRow) * gridColumns + col] ? '#' : '.';
        }
        return marks.erase(marks.find_last_not_of('.') + 1);
    }
    static void drag(int fromRow, int fromCol, int toRow, int toCol) {
        pressSelection(fromRow, fromCol);
        dragSelection(toRow, toCol);
        releaseSelection(toRow, toCol);
    }
};

TEST_F(HistoryTest, TheHistoryKeepsTheLatestRowsAndAFormFeedLeavesIt) {
    feedRows(0, 2099);  // 2100 line feeds from row 0: 2076 rows leave the grid
    ASSERT_EQ(HISTORY_ROWS, historyRows);
    EXPECT_EQ("row 2075", rowText(-1));
    EXPECT_EQ("row 76", rowText(-HISTORY_ROWS));  // the 76 oldest are dropped
    EXPECT_EQ("row 2076", rowText(0));
    EXPECT_EQ("row 2099", rowText(23));
    EXPECT_EQ("", rowText(24));

    feed("\x0c" "after");
    EXPECT_EQ("after", rowText(0));
    for (int row = 1; row < gridRows; ++row) ASSERT_EQ("", rowText(row)) << row;
    EXPECT_EQ(HISTORY_ROWS, historyRows);
    EXPECT_EQ("row 2075", rowText(-1));
    EXPECT_EQ("row 76", rowText(-HISTORY_ROWS));
}

TEST_F(HistoryTest, TheViewKeepsItsRowsWhileBytesArriveAndTheCaretWaitsOutOfSight) {
    feedRows(0, 29);  // six rows in the history, the cursor on the last row
    ASSERT_EQ(6, historyRows);
    EXPECT_EQ(24, pageRows());
    EXPECT_TRUE(viewFollowsNewestRows());
    scrollViewBack(pageRows());  // as far as there is history
    EXPECT_EQ(6, viewOffset());
    EXPECT_FALSE(viewFollowsNewestRows());
    EXPECT_TRUE(fake.caretOutOfView);
    EXPECT_EQ("row 0", shownRow(0));
    EXPECT_EQ("row 24", shownRow(24));

    // Received rows go to the grid as always; the view shows the same rows.
    feedRows(30, 32);
    EXPECT_EQ("row 32", rowText(23));
    EXPECT_EQ(9, viewOffset());
    EXPECT_EQ("row 0", shownRow(0));
    EXPECT_EQ("row 24", shownRow(24));

    // Forward a page: the cursor's row comes back into sight, and so does the caret.
    scrollViewBack(-pageRows());
    EXPECT_EQ(0, viewOffset());
    EXPECT_TRUE(viewFollowsNewestRows());
    EXPECT_FALSE(fake.caretOutOfView);
    EXPECT_EQ("caret 10 463", fake.trace[fake.trace.size() - 2]) << "placed as the drawing ends";

    // Once the history is full, a view at its oldest row shows the oldest kept.
    feedRows(33, 2200);
    showOldestRows();
    EXPECT_EQ(HISTORY_ROWS, viewOffset());
    EXPECT_EQ(rowText(-HISTORY_ROWS), shownRow(0));
    feedRows(2201, 2210);
    EXPECT_EQ(HISTORY_ROWS, viewOffset());
    EXPECT_FALSE(viewFollowsNewestRows());
    EXPECT_EQ(rowText(-HISTORY_ROWS), shownRow(0));
    EXPECT_EQ("row " + std::to_string(2210 - 24 - HISTORY_ROWS + 1), shownRow(0));
    showLiveRows();
    EXPECT_EQ(0, viewOffset());
    EXPECT_FALSE(fake.caretOutOfView);

    // A new grid while the caret is out of sight: it is in sight again, for the
    // window too.
    scrollViewBack(pageRows());
    ASSERT_TRUE(fake.caretOutOfView);
    createScreenGrid();
    showChangesNow();  // as the window shows a new grid
    EXPECT_EQ(0, viewOffset());
    EXPECT_FALSE(caretRowOutOfView());
    EXPECT_FALSE(fake.caretOutOfView);
}

TEST_F(HistoryTest, ASelectionReadsAsShownInReadingOrderAndIsDrawnInverted) {
    feedRows(0, 24);  // row 0 goes to the history
    feed(std::string("left  \x00" "mid  \r\nnext line", 23));
    // The history holds "row 0" and "row 1"; the grid "row 2" to "row 24", then
    // "left  ", a 0 cell, "mid", then "next line".
    ASSERT_EQ(2, historyRows);
    scrollViewBack(2);
    ASSERT_EQ("row 0", shownRow(0));

    // Backwards, from the middle of one row to the second cell of a history row.
    drag(2, 3, 0, 1);
    EXPECT_EQ("ow 0\r\nrow 1\r\nrow", fake.clipboard);
    EXPECT_EQ("." + std::string(78, '#'), invertedColumns(0));
    EXPECT_EQ(std::string(79, '#'), invertedColumns(1));
    EXPECT_EQ("####", invertedColumns(2));
    EXPECT_EQ("", invertedColumns(3));

    // A 0 cell reads as a blank; the blanks that end a row are dropped.
    showLiveRows();
    drag(23, 0, 24, 30);
    EXPECT_EQ("left   mid\r\nnext line", fake.clipboard);

    // A click without a drag clears what was selected and copies nothing.
    pressSelection(5, 5);
    releaseSelection(5, 5);
    EXPECT_FALSE(selectionIsShown());
    for (int row = 0; row < gridRows; ++row) ASSERT_EQ("", invertedColumns(row)) << row;
    EXPECT_EQ(2u, traceCount("copy 16") + traceCount("copy 21"));

    // A double-click takes the run of non-blank cells under it.
    selectWordAt(24, 7);
    EXPECT_EQ("line", fake.clipboard);
    selectWordAt(24, 20);  // a blank: nothing
    EXPECT_FALSE(selectionIsShown());
    EXPECT_EQ("line", fake.clipboard);
}

TEST_F(HistoryTest, ASelectionEndsWhenItsRowsChangeAndOnlyThen) {
    feedRows(0, 9);  // rows 0 to 9, the cursor on row 10
    drag(3, 0, 3, 4);
    ASSERT_TRUE(selectionIsShown());
    feed("elsewhere");  // row 10
    EXPECT_TRUE(selectionIsShown());
    feed("\x08\x08\r\x0d\x09");  // moves only the cursor (and a tab writes blanks on row 10)
    EXPECT_TRUE(selectionIsShown());
    sendTermCharMessage(10);
    EXPECT_TRUE(selectionIsShown());
    feed("\x0c");  // the grid's rows are blanked
    EXPECT_FALSE(selectionIsShown());

    feedRows(0, 29);
    drag(2, 0, 2, 3);
    feed("x");  // written into another row of the grid
    EXPECT_TRUE(selectionIsShown());
    sendTermCharMessage('\n');  // the grid scrolls: its rows move
    EXPECT_FALSE(selectionIsShown());

    // Rows of the history stay selected while the grid scrolls and is blanked...
    scrollViewBack(7);
    drag(0, 0, 1, 78);
    const std::string selected = fake.clipboard;
    ASSERT_EQ("row 0\r\nrow 1", selected);
    feedRows(30, 40);
    feed("\x0c");
    EXPECT_TRUE(selectionIsShown());
    EXPECT_EQ(selected, selectionText());
    EXPECT_EQ(std::string(79, '#'), invertedColumns(0));
    // ...until they leave it.
    feedRows(41, 41 + HISTORY_ROWS + 30);
    EXPECT_FALSE(selectionIsShown());
}

}  // namespace
