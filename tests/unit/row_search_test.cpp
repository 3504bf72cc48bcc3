// Finding a text in the rows of the view: where a match may lie, the case, the
// direction and the start, the end of the search, and how little the view moves.
#include <gtest/gtest.h>

#include <string>

#include "fake_platform.h"
#include "session/settings.h"
#include "terminal/history_view.h"
#include "terminal/layout.h"
#include "terminal/received_bytes.h"
#include "terminal/row_search.h"
#include "terminal/screen.h"

namespace {

class RowSearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        makeWindowGrid();
        showGridAsIs();
    }
    void TearDown() override { resetAll(); }

    static void feed(const std::string& bytes) { showReceivedBytes(bytes); }
    // Lines "row <n> of the test" for n from first to last, each ended by CR LF.
    static void feedRows(int first, int last) {
        std::string bytes;
        for (int n = first; n <= last; ++n) bytes += "row " + std::to_string(n) + " of the test\r\n";
        feed(bytes);
    }
    // What is selected, the row counted from the top of the newest page:
    // "row:from-to", or "none".
    static std::string match() {
        RowNumber row = 0;
        int col = 0;
        if (!selectionIsShown() || !searchPlace(&row, &col)) return "none";
        int from = 0;
        int to = 0;
        if (!selectedColumns(row, &from, &to)) return "none";
        return std::to_string(row - shownPageTop()) + ":" + std::to_string(from) + "-" + std::to_string(to);
    }
    // Where the search goes on from, the row counted as match() counts it: "row:col".
    static std::string place() {
        RowNumber row = 0;
        int col = 0;
        if (!searchPlace(&row, &col)) return "none";
        return std::to_string(row - shownPageTop()) + ":" + std::to_string(col);
    }
    static void drag(int viewRow, int fromCol, int toCol) {
        pressSelection(viewRow, fromCol);
        dragSelection(viewRow, toCol);
        releaseSelection(viewRow, toCol);
    }
};

TEST_F(RowSearchTest, AMatchLiesWithinOneRowAsShown) {
    feed("Start of a row\r\n");
    feed(std::string(gridColumns - 3, '.') + "END");  // to the last column: the cursor stays there
    feed("\r\nwith a");
    putTerminalChar(0);  // a cell holding 0 reads as a blank
    putTerminalChar('b');
    feed("\r\ntrailing   \r\n");

    EXPECT_TRUE(findInShownRows("start", false, true));
    EXPECT_EQ("0:0-4", match());
    EXPECT_TRUE(findInShownRows("end", false, true));
    EXPECT_EQ("1:76-78", match());
    EXPECT_TRUE(findInShownRows("a b", false, true));
    EXPECT_EQ("2:5-7", match());
    EXPECT_EQ("", fake.clipboard) << "a match is not copied";
    clearSelection();
    EXPECT_FALSE(findInShownRows("START", true, false));
    EXPECT_TRUE(findInShownRows("START", false, false));
    EXPECT_EQ("0:0-4", match());
    clearSelection();
    EXPECT_FALSE(findInShownRows("trailing ", false, true)) << "trailing blanks are no part of a row";
    EXPECT_FALSE(findInShownRows(std::string(gridColumns + 1, '.'), false, true));
    EXPECT_FALSE(findInShownRows("END\r\nwith", false, true)) << "a match never spans rows";
    EXPECT_FALSE(findInShownRows("", false, true));
}

TEST_F(RowSearchTest, EachDirectionStartsNextToTheMatchOrAtItsEnd) {
    feed("ab ab\r\nab\r\n");  // row 0: two matches, row 1: one
    // Up, with no match yet: from the newest row, the last match in a row first.
    EXPECT_TRUE(findInShownRows("ab", false, false));
    EXPECT_EQ("1:0-1", match());
    EXPECT_TRUE(findInShownRows("ab", false, false));
    EXPECT_EQ("0:3-4", match());
    EXPECT_TRUE(findInShownRows("ab", false, false));
    EXPECT_EQ("0:0-1", match());
    // The end that way: nothing moves, the match stays.
    EXPECT_FALSE(findInShownRows("ab", false, false));
    EXPECT_EQ("0:0-1", match());
    // Down from the match, then to the end that way.
    EXPECT_TRUE(findInShownRows("ab", false, true));
    EXPECT_EQ("0:3-4", match());
    EXPECT_TRUE(findInShownRows("ab", false, true));
    EXPECT_EQ("1:0-1", match());
    EXPECT_FALSE(findInShownRows("ab", false, true));
    // A selection the person makes is where the search goes on from: from the drag
    // over row 0's second "ab" (backwards), down finds row 1 and up row 0's first.
    drag(0, 4, 3);
    EXPECT_TRUE(findInShownRows("AB", false, true));
    EXPECT_EQ("1:0-1", match());
    drag(0, 4, 3);
    EXPECT_TRUE(findInShownRows("AB", false, false));
    EXPECT_EQ("0:0-1", match());
    // A double-click too.
    selectWordAt(1, 0);
    EXPECT_TRUE(findInShownRows("ab", false, false));
    EXPECT_EQ("0:3-4", match());
}

TEST_F(RowSearchTest, TheSearchKeepsItsPlaceWhileRowsComeAndTheViewFollowsThem) {
    feedRows(0, 29);  // rows 0 to 29: 6 in the history, the cursor on the last row
    // Up from the newest: each match is older than the last, however many rows come
    // between two searches, and the rows that came are not searched.
    EXPECT_TRUE(findAskedFor("of the", false, false));
    EXPECT_EQ("23:7-12", match());
    int rowFound = 23;
    for (int n = 30; n < 60; n += 3) {
        feedRows(n, n + 2);
        rowFound -= 3;
        ASSERT_EQ(std::to_string(rowFound) + ":7", place()) << "the place keeps its row";
        ASSERT_TRUE(findAgainInShownRows(false));
        rowFound -= 1;
        ASSERT_EQ(std::to_string(rowFound) + ":7-12", match());
    }
    // Down goes on from the match, not from the oldest row, rows coming between
    // the presses or not.
    feedRows(60, 60);
    rowFound -= 1;
    ASSERT_TRUE(findAgainInShownRows(true));
    EXPECT_EQ(std::to_string(rowFound + 1) + ":7-12", match());
    ASSERT_TRUE(findAgainInShownRows(true));
    EXPECT_EQ(std::to_string(rowFound + 2) + ":7-12", match());
}

TEST_F(RowSearchTest, WithoutAPlaceTheSearchStartsFromTheRowsInView) {
    feedRows(0, 99);  // 76 rows in the history, rows 76 to 99 in the grid
    scrollViewBack(30);  // rows 46 to 70 shown
    // Down from the view's top row, not from the oldest.
    EXPECT_TRUE(findAskedFor("of the", false, true));
    EXPECT_EQ("-30:7-12", match());
    clearSelection();
    // The place goes once its row is no longer kept: up then starts from the
    // bottom row of the view (the view keeps the oldest rows kept).
    feedRows(100, 2200);
    RowNumber row = 0;
    int col = 0;
    EXPECT_FALSE(searchPlace(&row, &col));
    ASSERT_EQ(shownHistoryRows(), viewOffset());
    const RowNumber bottom = viewTopRow() + gridRows - 1;
    EXPECT_TRUE(findAgainInShownRows(true));  // the other way: up
    ASSERT_TRUE(searchPlace(&row, &col));
    EXPECT_EQ(bottom, row);
    EXPECT_EQ(shownHistoryRows(), viewOffset()) << "a match in view moves nothing";
}

TEST_F(RowSearchTest, TheSearchAskedForLastIsFoundAgainEitherWay) {
    feed("Ab\r\nab\r\nab\r\n");
    EXPECT_TRUE(findAskedFor("ab", true, false));  // up, with case
    EXPECT_EQ("2:0-1", match());
    EXPECT_TRUE(textSearched());
    EXPECT_TRUE(findAgainInShownRows(false));
    EXPECT_EQ("1:0-1", match());
    EXPECT_FALSE(findAgainInShownRows(false)) << "\"Ab\" differs in case";
    EXPECT_EQ("Impossible de trouver \"ab\"", notFoundText());
    EXPECT_TRUE(findAgainInShownRows(true));  // the other way: down
    EXPECT_EQ("2:0-1", match());
}

TEST_F(RowSearchTest, TheViewMovesTheLeastThatShowsTheMatch) {
    feedRows(0, 99);  // 76 rows in the history, rows 76 to 99 in the grid
    EXPECT_TRUE(findInShownRows("row 10 ", false, false));  // above the view: its top row
    EXPECT_EQ("-66:0-6", match());
    EXPECT_EQ(66, viewOffset());
    EXPECT_TRUE(findInShownRows("row 20 ", false, true));  // in view: no move
    EXPECT_EQ(66, viewOffset());
    EXPECT_TRUE(findInShownRows("row 60 ", false, true));  // below the view: its bottom row
    EXPECT_EQ("-16:0-6", match());
    EXPECT_EQ(16 + gridRows - 1, viewOffset());

    // While the view is back it stays put as rows come, and so does the match.
    feedRows(100, 100);
    EXPECT_EQ("-17:0-6", match());
    EXPECT_EQ(16 + gridRows, viewOffset());
    feedRows(101, 2100);
    EXPECT_EQ("none", match()) << "the match left the rows kept";
}

TEST_F(RowSearchTest, TheOctetRowsAreSearchedAsShown) {
    keepConnectionOpened(ipv4Endpoint(ipv4("10.0.0.9"), 2000), Endpoint(), false);
    keepReceivedChunk(reinterpret_cast<const unsigned char*>("\x02" "ABC\x03"), 5);
    keepConnectionEnded();
    toggleOctetView();
    EXPECT_TRUE(findInShownRows("41 42", false, false));
    EXPECT_EQ("2:13-17", match());
    EXPECT_TRUE(findInShownRows(".abc.", false, true));
    EXPECT_EQ("2:60-64", match());
    EXPECT_TRUE(findInShownRows("connexion de 10.0.0.9:2000", false, false));
    EXPECT_EQ("0:14-39", match());
}

}  // namespace
