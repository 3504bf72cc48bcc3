// The device's sequences read by the interpreter: colours, the cursor, erasing, and
// what is consumed and what shows.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "reference_screen.h"
#include "session/settings.h"
#include "terminal/colours.h"
#include "terminal/history_view.h"
#include "terminal/screen.h"

namespace {

class SequencesTest : public ::testing::Test {
protected:
    void SetUp() override {
        makeWindowGrid();
        setAnsiSequences(true);
    }
    void TearDown() override { resetAll(); }

    static void feed(const std::string& bytes) {
        putTerminalBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    }
    static std::string rowText(int row) {
        std::string text(reinterpret_cast<const char*>(terminalRow(row)), static_cast<std::size_t>(gridColumns));
        return text.erase(text.find_last_not_of(' ') + 1);
    }
    static CellColours colours(int row, int col) { return terminalCellColours(row, col); }
    static void expectColours(CellColours expected, int row, int col, const std::string& what) {
        const CellColours got = colours(row, col);
        EXPECT_EQ(expected.text, got.text) << what;
        EXPECT_EQ(expected.back, got.back) << what;
    }
};

const std::string ESC = "\x1b";

TEST_F(SequencesTest, GraphicsChooseTheColoursOfWhatFollows) {
    struct Case {
        std::string graphics;
        CellColours expected;
    };
    const Case cases[] = {
        {"[31m", {1, DEFAULT_BACK}},
        {"[1;31m", {9, DEFAULT_BACK}},           // bright brightens 30 to 37
        {"[31;1m", {9, DEFAULT_BACK}},           // in either order
        {"[1;91m", {9, DEFAULT_BACK}},
        {"[1m", {DEFAULT_TEXT, DEFAULT_BACK}},   // ...and not the default text
        {"[1;38;5;2m", {2, DEFAULT_BACK}},       // ...nor one of the 256
        {"[1;31;22m", {1, DEFAULT_BACK}},
        {"[0;33;44m", {3, 4}},
        {"[97;105m", {15, 13}},
        {"[7m", {DEFAULT_BACK, DEFAULT_TEXT}},   // inverse
        {"[32;41;7m", {1, 2}},
        {"[32;7;27m", {2, DEFAULT_BACK}},
        {"[35;39;49m", {DEFAULT_TEXT, DEFAULT_BACK}},
        {"[31m" + ESC + "[m", {DEFAULT_TEXT, DEFAULT_BACK}},  // empty is 0
        {"[31;m", {DEFAULT_TEXT, DEFAULT_BACK}},
        {"[38;5;196m", {9, DEFAULT_BACK}},       // the cube's red
        {"[38;5;244m", {8, DEFAULT_BACK}},       // a middle grey
        {"[38;5;12m", {12, DEFAULT_BACK}},
        {"[48;5;232m", {DEFAULT_TEXT, 0}},       // the darkest grey
        {"[38;2;250;250;0m", {11, DEFAULT_BACK}},
        {"[48;2;0;0;200m", {DEFAULT_TEXT, 4}},
        {"[38;2;999;0;0m", {9, DEFAULT_BACK}},   // components beyond 255 are 255
        {"[32;38;5m", {2, DEFAULT_BACK}},        // a colour cut short ends the list
        {"[4;5;53;31m", {1, DEFAULT_BACK}},      // what is not known is passed over
    };
    for (const Case& c : cases) {
        feed(ESC + "[0m\r" + ESC + c.graphics + "x");
        expectColours(c.expected, 0, 0, c.graphics);
    }
    // Every foreground reads on white: a contrast of 3:1 or more.
    const auto luminance = [](std::uint32_t rgb) {
        double sum = 0;
        const double weights[3] = {0.2126, 0.7152, 0.0722};
        for (int i = 0; i < 3; ++i) {
            const double c = static_cast<double>((rgb >> (16 - 8 * i)) & 0xFF) / 255.0;
            sum += weights[i] * (c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
        }
        return sum;
    };
    for (unsigned char i = 0; i < ANSI_COLOURS; ++i) {
        EXPECT_GE(1.05 / (luminance(paletteColour(i)) + 0.05), 3.0) << "colour " << int(i);
    }
}

TEST_F(SequencesTest, TheCursorMovesClippedToTheGridAndRowsAreErased) {
    feed(ESC + "[5;10Hab" + ESC + "[2A" + "c" + ESC + "[3Bd" + ESC + "[4De" + ESC + "[2Cf");
    EXPECT_EQ(std::string(9, ' ') + "ab", rowText(4));
    EXPECT_EQ(std::string(11, ' ') + "c", rowText(2));
    EXPECT_EQ(std::string(9, ' ') + "e  f", rowText(5));
    EXPECT_EQ(5, cursorRow);
    EXPECT_EQ(13, cursorCol);

    feed(ESC + "[99A" + ESC + "[99D");  // clipped at the top left
    EXPECT_EQ(0, cursorRow);
    EXPECT_EQ(0, cursorCol);
    feed(ESC + "[999;999H");  // and at the bottom right, without scrolling
    EXPECT_EQ(24, cursorRow);
    EXPECT_EQ(78, cursorCol);
    feed(ESC + "[0;0f");  // 0 counts as 1
    EXPECT_EQ(0, cursorRow);
    EXPECT_EQ(0, cursorCol);
    feed(ESC + "[3;3H" + ESC + "7" + ESC + "[20;1H" + ESC + "8Z");
    EXPECT_EQ('Z', terminalRow(2)[2]);

    // Erasing: the row from the cursor, to it, whole; the grid below, above, all.
    feed("\x0c" + ESC + "[31m");
    for (int row = 0; row < 5; ++row) feed(ESC + "[" + std::to_string(row + 1) + ";1H0123456789");
    feed(ESC + "[1;5H" + ESC + "[K" + ESC + "[2;5H" + ESC + "[1K" + ESC + "[3;5H" + ESC + "[2K");
    EXPECT_EQ("0123", rowText(0));
    EXPECT_EQ("     56789", rowText(1));
    EXPECT_EQ("", rowText(2));
    expectColours(PLAIN_CELLS, 1, 4, "erased cells are plain");
    expectColours({1, DEFAULT_BACK}, 1, 5, "the rest keeps its colours");
    feed(ESC + "[4;5H" + ESC + "[1J");
    EXPECT_EQ("", rowText(0));
    EXPECT_EQ("     56789", rowText(3));
    feed(ESC + "[J");
    EXPECT_EQ("", rowText(3) + rowText(4));
    feed("abc" + ESC + "[2J");
    EXPECT_EQ(3, cursorRow);  // the cursor stays
    EXPECT_EQ(7, cursorCol);
    for (int row = 0; row < gridRows; ++row) EXPECT_EQ("", rowText(row));
}

TEST_F(SequencesTest, UnknownLongAndBrokenSequencesShowNothingAndWhatFollowsShows) {
    struct Case {
        std::string bytes;
        std::string shown;
    };
    const Case cases[] = {
        {ESC + "[?25l" + ESC + "[?2004hA", "A"},           // private sequences
        {ESC + "[2 qB", "B"},                              // with an intermediate
        {ESC + "(B" + ESC + ")0" + ESC + "=" + ESC + ">C", "C"},  // escapes with and without
        {ESC + "]0;a title\x07" + "D", "D"},               // a command string to BEL
        {ESC + "]8;;http://x/" + ESC + "\\E", "E"},        // ...or to ESC backslash
        {ESC + "[12" + ESC + "[31mF", "F"},                // ESC starts anew
        {ESC + "[3\rG", "G"},                              // a control breaks it, then acts
        {ESC + "\xE9H", "\xE9H"},                          // a byte no escape takes shows
        {ESC + "[" + std::string(61, '1') + "mI", "I"},    // 64 bytes with the final
        {ESC + "[" + std::string(62, '1') + "mJ", "mJ"},   // too long: dropped at 64
        {ESC + "]" + std::string(5000, 'x') + "K", std::string(5000 - 4094, 'x') + "K"},
    };
    for (const Case& c : cases) {
        feed("\x0c");
        autoWrap = true;
        feed(c.bytes);
        std::string shown;
        for (int row = 0; row < gridRows; ++row) shown += rowText(row);
        EXPECT_EQ(c.shown, shown) << c.bytes.substr(0, 40);
        autoWrap = false;
    }
    // Without the option, ESC is a character like any other.
    setAnsiSequences(false);
    feed("\x0c" + ESC + "[31mL");
    EXPECT_EQ(ESC + "[31mL", rowText(0));
    expectColours(PLAIN_CELLS, 0, 4, "no colour without the option");
}

// A stream of every kind of sequence, cut in two at every byte, leaves what it leaves
// whole, as the model reads it one byte at a time.
TEST_F(SequencesTest, ASequenceCutAtAnyByteGoesOnInTheNextChunk) {
    const std::string stream = ESC + "[0;31mE (1234) wifi: lost" + ESC + "[0m\r\n" + ESC + "[1;33mW (9) x" +
                               ESC + "[m\r\n" + "uart:~$ helo" + ESC + "[K" + ESC + "[2D" + "llo" + ESC +
                               "7" + ESC + "[2;4H" + ESC + "[38;2;1;200;3mg" + ESC + "8" + ESC +
                               "]0;t\x07" + ESC + "(B" + ESC + "[?25h" + ESC + "[7mi" + ESC + "[3B" + ESC +
                               "[1K" + ESC + "[48;5;100mz\r\n";
    const auto state = [] {
        std::string cells;
        for (int row = 0; row < gridRows; ++row) {
            cells += std::string(reinterpret_cast<const char*>(terminalRow(row)), static_cast<std::size_t>(gridColumns));
            for (int col = 0; col < gridColumns; ++col) {
                cells += static_cast<char>(colours(row, col).text);
                cells += static_cast<char>(colours(row, col).back);
            }
        }
        return cells + std::to_string(cursorRow) + "," + std::to_string(cursorCol);
    };
    ReferenceScreen model = makeReferenceScreen(gridColumns, gridRows, HISTORY_ROWS);
    referenceReadSequences(model, true);
    for (char c : stream) referencePut(model, static_cast<unsigned char>(c), false);
    std::string expected;
    for (const ReferenceRow& row : model.grid) {
        for (const ReferenceCell& cell : row) expected += static_cast<char>(cell.character);
        for (const ReferenceCell& cell : row) {
            expected += static_cast<char>(cell.colours.text);
            expected += static_cast<char>(cell.colours.back);
        }
    }
    expected += std::to_string(model.row) + "," + std::to_string(model.col);
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        makeWindowGrid();
        setAnsiSequences(true);
        feed(stream.substr(0, cut));
        feed(stream.substr(cut));
        ASSERT_EQ(expected, state()) << "cut at " << cut;
    }
    EXPECT_EQ("E (1234) wifi: lost", rowText(0));
    expectColours({1, DEFAULT_BACK}, 0, 0, "the error line is red");
    expectColours({11, DEFAULT_BACK}, 1, 0, "the warning bright yellow");
    EXPECT_EQ("uart:~$ helloi", rowText(2));
    EXPECT_EQ(std::string(14, ' ') + "z", rowText(5));
}

TEST_F(SequencesTest, AnEchoGoesBetweenThePeersBytesAndNeverIntoItsSequence) {
    showGridAsIs();
    feed(ESC + "[3");
    const std::string typed = "ab\x1b[1m\r";
    putEchoBytes(reinterpret_cast<const unsigned char*>(typed.data()), typed.size());
    feed("1mX");
    EXPECT_EQ("Xb\x1b[1m", rowText(0));  // the echo's ESC is a character; its CR went home
    expectColours({1, DEFAULT_BACK}, 0, 0, "the peer's sequence went on after the echo");
    expectColours(SENT_CELLS, 0, 1, "the echo is in the colour of what was sent");
    showChangesNow();
    EXPECT_EQ(1u, traceCount("drawRow 10 31 1 colours 1 17")) << traceText();
    EXPECT_EQ(1u, traceCount("drawRow 20 31 5 sent")) << traceText();
}

}  // namespace
