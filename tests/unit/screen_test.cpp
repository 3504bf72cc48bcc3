// The character grid and its interpreter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "reference_screen.h"
#include "session/settings.h"
#include "terminal/history_view.h"
#include "terminal/byte_scan.h"
#include "terminal/layout.h"
#include "terminal/screen.h"

namespace {

typedef std::vector<std::string> Lines;

class ScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        makeWindowGrid();
    }
    void TearDown() override { resetAll(); }

    static unsigned char cell(int row, int col) {
        return terminalRow(row)[col];
    }
    static void moveTo(int row, int col) {
        cursorRow = row;
        cursorCol = col;
    }
    static std::string rowText(int row) {
        return std::string(reinterpret_cast<const char*>(terminalRow(row)),
                           static_cast<std::size_t>(gridColumns));
    }
    static void putText(const std::string& text) {
        for (char c : text) putTerminalChar(static_cast<unsigned char>(c));
    }
};

TEST_F(ScreenTest, CreationBlanksTheGridAndHomesTheCursor) {
    resetAll();
    setCellSize(10, 18);
    layoutTextArea(511);
    cursorRow = 4;
    cursorCol = 9;
    createScreenGrid();
    ASSERT_TRUE(screenGridReady());
    EXPECT_EQ(79, gridColumns);
    EXPECT_EQ(25, gridRows);
    EXPECT_EQ(Bytes(static_cast<std::size_t>(gridColumns) * gridRows, 32), gridCells());
    EXPECT_EQ(0, cursorRow);
    EXPECT_EQ(0, cursorCol);
    EXPECT_EQ(10, textOriginX);
    EXPECT_EQ(31, textOriginY);
    EXPECT_TRUE(fake.trace.empty()) << traceText();

    // Creating again releases the old buffers (the leak checker watches) and starts blank.
    putText("xyz");
    createScreenGrid();
    EXPECT_EQ(32, cell(0, 0));
    EXPECT_EQ(0, cursorCol);
}

TEST_F(ScreenTest, ColumnCountFollowsTheCellWidth) {
    const int widths[] = {5, 9, 10, 16};
    const int columns[] = {78, 78, 79, 79};
    for (int i = 0; i < 4; ++i) {
        setCellSize(widths[i], 18);
        layoutTextArea(511);
        createScreenGrid();
        EXPECT_EQ(columns[i], gridColumns) << "cell width " << widths[i];
        EXPECT_EQ(25, gridRows);
    }
}

TEST_F(ScreenTest, OneCharacterIsStoredItsCellDrawnAtOnceThenTheCaretPlaced) {
    showGridAsIs();
    sendTermCharMessage(65);
    EXPECT_EQ(Lines({"beginDrawing", "drawRow 10 31 1", "caret 20 31", "endDrawing"}), fake.trace);
    sendTermCharMessage(66);
    EXPECT_EQ(65, cell(0, 0));
    EXPECT_EQ(66, cell(0, 1));
    EXPECT_EQ(0, cursorRow);
    EXPECT_EQ(2, cursorCol);
    EXPECT_EQ("drawRow 20 31 1", fake.trace[5]);
    EXPECT_EQ("caret 30 31", fake.trace[6]);
    EXPECT_EQ(gridCells(), fake.shown);
}

TEST_F(ScreenTest, EveryNonControlValueStoresItsLowByte) {
    // Only the five exact values 8, 9, 10, 12, 13 are controls.
    const int values[] = {0, 7, 11, 127, -23, -128, -1, 256 + 9, -247, 256 + 65};
    const int stored[] = {0, 7, 11, 127, 0xE9, 0x80, 0xFF, 9, 9, 65};
    for (int i = 0; i < 10; ++i) {
        putTerminalChar(values[i]);
        EXPECT_EQ(stored[i], cell(0, i)) << "value " << values[i];
        EXPECT_EQ(i + 1, cursorCol) << "value " << values[i];  // 256 + 9 is no tab
    }
}

TEST_F(ScreenTest, BackspaceCarriageReturnAndLineFeedMoveOnlyTheCursor) {
    putText("abcd");
    showChangesNow();
    fake.trace.clear();
    sendTermCharMessage(8);
    EXPECT_EQ(3, cursorCol);
    EXPECT_EQ('d', cell(0, 3));  // not erased
    EXPECT_EQ(Lines({"caret 40 31"}), fake.trace);

    sendTermCharMessage(10);  // line feed keeps the column
    EXPECT_EQ(1, cursorRow);
    EXPECT_EQ(3, cursorCol);
    sendTermCharMessage(13);  // carriage return keeps the row
    EXPECT_EQ(1, cursorRow);
    EXPECT_EQ(0, cursorCol);
    sendTermCharMessage(8);  // never back to the previous row
    EXPECT_EQ(1, cursorRow);
    EXPECT_EQ(0, cursorCol);
    EXPECT_EQ(Lines({"caret 40 31", "caret 40 49", "caret 10 49", "caret 10 49"}), fake.trace);
    EXPECT_EQ("abcd", rowText(0).substr(0, 4));
}

TEST_F(ScreenTest, FormFeedBlanksEverythingAndHomes) {
    moveTo(24, 78);
    putText("Q");
    moveTo(12, 40);
    putText("hello");
    showChangesNow();
    showGridAsIs();
    fake.trace.clear();
    sendTermCharMessage(12);
    EXPECT_EQ(Bytes(static_cast<std::size_t>(gridColumns) * gridRows, 32), gridCells());
    EXPECT_EQ(0, cursorRow);
    EXPECT_EQ(0, cursorCol);
    EXPECT_EQ(gridCells(), fake.shown);
    EXPECT_EQ("caret 10 31", fake.trace[fake.trace.size() - 2]);
}

TEST_F(ScreenTest, LineFeedOnTheLastRowScrolls) {
    for (int r = 0; r < gridRows; ++r) {
        moveTo(r, 0);
        putText(std::string(3, static_cast<char>('A' + r)));
    }
    moveTo(24, 5);
    showChangesNow();
    fake.trace.clear();
    sendTermCharMessage(10);
    EXPECT_EQ(24, cursorRow);
    EXPECT_EQ(5, cursorCol);
    for (int r = 0; r < gridRows - 1; ++r) {
        EXPECT_EQ(static_cast<char>('B' + r), static_cast<char>(cell(r, 0))) << "row " << r;
    }
    EXPECT_EQ(std::string(79, ' '), rowText(24));
    EXPECT_EQ(Lines({"beginDrawing", "scrollText 1", "drawRow 10 463 79", "caret 60 463", "endDrawing"}),
              fake.trace);
}

TEST_F(ScreenTest, TabWritesBlanksUpToTheNextStop) {
    putText("abcdefghij");
    putTerminalChar(13);
    showGridAsIs();
    sendTermCharMessage(9);  // from column 0: 8 blanks
    EXPECT_EQ(8, cursorCol);
    EXPECT_EQ("        ij", rowText(0).substr(0, 10));
    EXPECT_EQ(gridCells(), fake.shown);

    putTerminalChar(9);  // already on a stop: 8 more
    EXPECT_EQ(16, cursorCol);
    EXPECT_EQ(std::string(16, ' '), rowText(0).substr(0, 16));

    moveTo(3, 5);
    putText("xyz");
    moveTo(3, 5);
    putTerminalChar(9);  // from column 5: 3 blanks
    EXPECT_EQ(8, cursorCol);
    EXPECT_EQ(std::string(79, ' '), rowText(3));
}

TEST_F(ScreenTest, TabNearTheEndOfARowWithoutAutoWrapEndsInTheLastColumn) {
    moveTo(2, 75);
    putText("wxyz");  // cells 75..78; the last one stays under the cursor
    moveTo(2, 75);
    putTerminalChar(9);
    EXPECT_EQ(2, cursorRow);
    EXPECT_EQ(78, cursorCol);
    EXPECT_EQ("    ", rowText(2).substr(75));

    // A tab from the last column itself writes a blank there and stays.
    putText("Z");
    putTerminalChar(9);
    EXPECT_EQ(' ', cell(2, 78));
    EXPECT_EQ(2, cursorRow);
    EXPECT_EQ(78, cursorCol);
    EXPECT_EQ(std::string(79, ' '), rowText(3));
}

TEST_F(ScreenTest, TabWithAutoWrapWrapsToTheNextRowAndEnds) {
    autoWrap = true;
    moveTo(2, 70);
    putText("abcdefghiQ");  // from 70 to the wrap, and on the next row
    moveTo(2, 75);
    putTerminalChar(9);
    EXPECT_EQ(3, cursorRow);
    EXPECT_EQ(0, cursorCol);
    EXPECT_EQ("abcde    ", rowText(2).substr(70));
    EXPECT_EQ('Q', cell(3, 0));  // the wrap ended the tab

    moveTo(24, 77);
    putText("E");
    putTerminalChar(9);  // the blank in the last cell scrolls the grid at once
    EXPECT_EQ(24, cursorRow);
    EXPECT_EQ(0, cursorCol);
    EXPECT_EQ('E', cell(23, 77));
}

TEST_F(ScreenTest, LastColumnWithoutAutoWrapIsOverwritten) {
    moveTo(6, 78);
    putText("ABC");
    EXPECT_EQ('C', cell(6, 78));
    EXPECT_EQ(6, cursorRow);
    EXPECT_EQ(78, cursorCol);
    EXPECT_EQ(' ', cell(7, 0));
    putTerminalChar(13);
    EXPECT_EQ(6, cursorRow);
    EXPECT_EQ(0, cursorCol);
}

TEST_F(ScreenTest, AutoWrapMovesToTheNextRowAndScrollsAtTheLastCell) {
    autoWrap = true;
    moveTo(3, 78);
    putText("A");
    EXPECT_EQ(4, cursorRow);
    EXPECT_EQ(0, cursorCol);
    EXPECT_EQ(0u, traceCount("repaint"));

    moveTo(0, 0);
    putText("top");
    moveTo(24, 78);
    showChangesNow();
    fake.trace.clear();
    sendTermCharMessage('Z');
    EXPECT_EQ(24, cursorRow);
    EXPECT_EQ(0, cursorCol);
    EXPECT_EQ('Z', cell(23, 78));
    EXPECT_EQ('A', cell(2, 78));
    EXPECT_EQ(' ', cell(0, 0));  // the old top row is gone
    EXPECT_EQ(std::string(79, ' '), rowText(24));

    // The flag is read afresh at every character in the last column.
    autoWrap = false;
    moveTo(5, 78);
    putText("q");
    EXPECT_EQ(5, cursorRow);
    EXPECT_EQ(78, cursorCol);
}

void* failingAllocation(std::size_t) { return nullptr; }

int allocationsLeft = 0;
void* allocationThatFailsLater(std::size_t size) {
    if (allocationsLeft-- <= 0) return nullptr;
    return std::malloc(size);
}

TEST_F(ScreenTest, AllocationFailureSaysSoAndLeavesTheMissingGridAlone) {
    const int allowed[] = {0, 1};  // the first allocation fails, or only the second
    for (int ok : allowed) {
        resetAll();
        setCellSize(10, 18);
        layoutTextArea(511);
        cursorRow = 2;
        cursorCol = 3;
        allocationsLeft = ok;
        allocateGridBuffer = ok == 0 ? failingAllocation : allocationThatFailsLater;
        createScreenGrid();
        EXPECT_FALSE(screenGridReady());
        EXPECT_EQ(1u, traceCount("errorBox Not enough memory.|erreur")) << traceText();
        EXPECT_EQ(0u, traceCount("caret 10 31"));
        EXPECT_EQ(2, cursorRow);
        EXPECT_EQ(3, cursorCol);
        EXPECT_EQ(0, textOriginX);

        // Nothing may touch the missing buffers now; a tab must still end.
        const int values[] = {65, -23, 9, 10, 12, 13, 8, 0};
        for (int v : values) putTerminalChar(v);
        autoWrap = true;
        for (int i = 0; i < 200; ++i) putTerminalChar('x');
        putTerminalChar(9);
        const unsigned char chunk[] = {'a', 9, 10, 10, 12, 'b', 13, 8, 0xE9, 9};
        putTerminalBytes(chunk, sizeof chunk);
        for (const std::string& line : fake.trace) EXPECT_NE(0u, line.rfind("draw", 0)) << line;
        releaseScreenGrid();
    }
}

// ---- received chunks against one character at a time ----------------------------

struct GridState {
    Bytes cells;
    Bytes history;  // oldest row first
    int row;
    int col;
};

Bytes historyCells() {
    Bytes cells;
    for (int row = -historyRows; row < 0; ++row) {
        cells.insert(cells.end(), terminalRow(row), terminalRow(row) + gridColumns);
    }
    return cells;
}

GridState gridState() {
    return GridState{gridCells(), historyCells(), cursorRow, cursorCol};
}

GridState modelState(const ReferenceScreen& model) {
    GridState state = {{}, {}, model.row, model.col};
    for (const ReferenceRow& row : model.grid) {
        for (const ReferenceCell& cell : row) state.cells.push_back(cell.character);
    }
    for (const ReferenceRow& row : model.history) {
        for (const ReferenceCell& cell : row) state.history.push_back(cell.character);
    }
    return state;
}

void makeGrid(int columns, int rows) {
    resetAll();
    setCellSize(10, 18);
    textRect = TextRect{10, 31, 10 + 10 * columns, 31 + 18 * rows};
    createScreenGrid();
}

// Mostly the five controls, so that tabs, wraps, scrolls and form feeds meet each
// other and the row ends; the rest is any byte. With `rareFormFeeds`, most form
// feeds become line feeds, so that the grid scrolls and the history fills.
Bytes randomStream(std::mt19937& random, std::size_t length, bool rareFormFeeds) {
    const unsigned char controls[] = {8, 9, 10, 12, 13};
    Bytes bytes(length);
    for (unsigned char& b : bytes) {
        unsigned pick = random() % 100;
        b = pick < 40 ? controls[pick % 5] : static_cast<unsigned char>(random() % 256);
        if (b == 12 && rareFormFeeds && random() % 500 != 0) b = 10;
    }
    return bytes;
}

// Lines of text ended by CR LF, now and then with a tab or a backspace, without
// their CR, or ended by a form feed instead: long chunks of it hold more rows than
// the grid and the history keep.
Bytes lineStream(std::mt19937& random, std::size_t length) {
    Bytes bytes;
    while (bytes.size() < length) {
        const int width = static_cast<int>(random() % 100);
        for (int i = 0; i < width; ++i) {
            unsigned pick = random() % 200;
            bytes.push_back(pick == 0 ? 9 : pick == 1 ? 8 : static_cast<unsigned char>(32 + random() % 224));
        }
        if (random() % 50 != 0) bytes.push_back(13);
        bytes.push_back(random() % 3000 == 0 ? 12 : 10);
    }
    bytes.resize(length);
    return bytes;
}

// What one kind of block (terminal/byte_scan.h) reads in a block of bytes: its
// controls and the bytes equal to `value`, how many, the first and the last (the
// block's size when none), and the controls taken from the last to the first.
struct BlockReading {
    std::size_t controls;
    std::size_t firstControl;
    std::size_t lastControl;
    std::size_t equal;
    std::size_t firstEqual;
    std::vector<std::size_t> controlsBackward;
};

// What a kind of block reads, through its functions.
template <typename Load, typename Controls, typename Equal, typename Count, typename Mark,
          typename Without>
BlockReading readBlock(const unsigned char* bytes, unsigned char value, std::size_t size, Load load,
                       Controls controlBytes, Equal bytesEqual, Count markedBytes, Mark lowestMarkedByte,
                       Mark highestMarkedByte, Without withoutByte) {
    const auto block = load(bytes);
    const auto controls = controlBytes(block);
    const auto equal = bytesEqual(block, value);
    BlockReading r = {markedBytes(controls), controls != 0 ? lowestMarkedByte(controls) : size,
                      controls != 0 ? highestMarkedByte(controls) : size,
                      markedBytes(equal), equal != 0 ? lowestMarkedByte(equal) : size, {}};
    for (auto left = controls; left != 0 && r.controlsBackward.size() <= size;) {
        r.controlsBackward.push_back(highestMarkedByte(left));
        left = withoutByte(left, r.controlsBackward.back());
    }
    return r;
}

BlockReading readWordBlock(const unsigned char* bytes, unsigned char value) {
    using namespace wordScan;
    return readBlock(bytes, value, BLOCK_BYTES, loadBlock, controlBytes, bytesEqual, markedBytes,
                     lowestMarkedByte, highestMarkedByte, withoutByte);
}

#if defined(__SSE2__)
BlockReading readVectorBlock(const unsigned char* bytes, unsigned char value) {
    using namespace vectorScan;
    return readBlock(bytes, value, BLOCK_BYTES, loadBlock, controlBytes, bytesEqual, markedBytes,
                     lowestMarkedByte, highestMarkedByte, withoutByte);
}
#endif

// The same, a byte at a time.
BlockReading readByteByByte(const unsigned char* bytes, std::size_t size, unsigned char value) {
    BlockReading r = {0, size, size, 0, size, {}};
    for (std::size_t i = size; i-- > 0;) {
        if (isControlByte(bytes[i])) {
            if (r.controls++ == 0) r.lastControl = i;
            r.firstControl = i;
            r.controlsBackward.push_back(i);
        }
        if (bytes[i] == value) r.equal++, r.firstEqual = i;
    }
    return r;
}

// Every value at every place of a block among bytes of every sort, then random
// blocks with many marks: each kind of block reads what a byte at a time reads.
TEST(ByteBlocks, EachKindReadsControlsAndValuesAsAByteAtATimeDoes) {
    struct Kind {
        const char* name;
        BlockReading (*read)(const unsigned char*, unsigned char);
        std::size_t size;
    };
    std::vector<Kind> kinds = {{"words", readWordBlock, sizeof(wordScan::Block)}};
#if defined(__SSE2__)
    kinds.push_back({"vectors", readVectorBlock, sizeof(vectorScan::Block)});
#endif
    std::mt19937 random(20261210);
    for (const Kind& kind : kinds) {
        int wrong = 0;
        std::string firstWrong;
        const auto check = [&](const unsigned char* bytes, unsigned char value) {
            const BlockReading got = kind.read(bytes, value);
            const BlockReading want = readByteByByte(bytes, kind.size, value);
            if (got.controls == want.controls && got.firstControl == want.firstControl &&
                got.lastControl == want.lastControl && got.equal == want.equal &&
                got.firstEqual == want.firstEqual && got.controlsBackward == want.controlsBackward) {
                return;
            }
            if (wrong++ == 0) {
                for (std::size_t i = 0; i < kind.size; ++i) firstWrong += std::to_string(bytes[i]) + " ";
                firstWrong += "value " + std::to_string(value);
            }
        };
        unsigned char bytes[16];
        for (unsigned char around : {0, 7, 11, 13, 14, 97, 127, 128, 136, 255}) {
            for (std::size_t place = 0; place < kind.size; ++place) {
                for (int value = 0; value < 256; ++value) {
                    std::fill(bytes, bytes + sizeof bytes, around);
                    bytes[place] = static_cast<unsigned char>(value);
                    check(bytes, static_cast<unsigned char>(value));
                    check(bytes, around);
                }
            }
        }
        for (int round = 0; round < 20000; ++round) {
            for (unsigned char& b : bytes) b = static_cast<unsigned char>(random() % 16 < 8 ? 6 + random() % 10 : random());
            check(bytes, static_cast<unsigned char>(6 + random() % 10));
        }
        EXPECT_EQ(wrong, 0) << kind.name << ", first: " << firstWrong;
    }
}

TEST(ScreenChunks, AChunkLeavesTheGridHistoryCursorAndScreenOfTheModelOneByteAtATime) {
    std::mt19937 random(20261208);
    int roundsThatFilledHistory = 0;
    for (int round = 0; round < 600; ++round) {
        const int columns = round == 0 ? 1 : round == 1 ? 79 : 1 + static_cast<int>(random() % 79);
        const int rows = round == 0 ? 1 : round == 1 ? 25 : 1 + static_cast<int>(random() % 25);
        const bool wrapAtStart = random() % 2 == 0;
        // Now and then a stream long enough to fill the history and drop its oldest
        // rows, or long lines of text in chunks far longer than the grid and history.
        const bool longRound = round % 60 == 7;
        const bool linesRound = round % 30 == 17;
        const std::size_t streamLength = linesRound  ? 150000 + random() % 150000
                                         : longRound ? 30000 + random() % 30000
                                                     : random() % 4000;
        const Bytes stream = linesRound ? lineStream(random, streamLength)
                                        : randomStream(random, streamLength, longRound);
        // Chunk ends, and whether auto-wrap is switched before each chunk.
        std::vector<std::size_t> ends;
        std::vector<bool> flips;
        for (std::size_t at = 0; at < stream.size();) {
            const unsigned kind = random() % 8;
            std::size_t length = kind < 2 ? random() % 3
                                 : kind < 7 || !(longRound || linesRound) ? random() % 600
                                                                           : random() % (stream.size() + 1);
            at = std::min(stream.size(), at + length);
            ends.push_back(at);
            flips.push_back(random() % 8 == 0);
        }
        SCOPED_TRACE("round " + std::to_string(round) + ": " + std::to_string(columns) + " x " +
                     std::to_string(rows) + ", " + std::to_string(stream.size()) + " bytes");

        ReferenceScreen model = makeReferenceScreen(columns, rows, HISTORY_ROWS);
        autoWrap = wrapAtStart;
        std::vector<GridState> expected;
        std::size_t from = 0;
        for (std::size_t c = 0; c < ends.size(); ++c) {
            if (flips[c]) autoWrap = !autoWrap;
            for (std::size_t i = from; i < ends[c]; ++i) referencePut(model, stream[i], autoWrap);
            expected.push_back(modelState(model));
            from = ends[c];
        }

        makeGrid(columns, rows);
        autoWrap = wrapAtStart;
        showGridAsIs();
        from = 0;
        for (std::size_t c = 0; c < ends.size(); ++c) {
            if (flips[c]) autoWrap = !autoWrap;
            // Now and then chunks come within a frame of the last drawing, and the
            // frame comes only after a few of them.
            fake.clockStep = random() % 3 == 0 ? 0 : 16;
            fake.trace.clear();
            showReceivedBytes(stream.data() + from, ends[c] - from);
            GridState got = gridState();
            ASSERT_EQ(expected[c].row, got.row) << "chunk " << c;
            ASSERT_EQ(expected[c].col, got.col) << "chunk " << c;
            ASSERT_EQ(expected[c].cells, got.cells) << "chunk " << c;
            ASSERT_EQ(expected[c].history, got.history) << "chunk " << c;
            if (fake.framesAskedFor && random() % 2 == 0) onScreenDrawingDue();
            // Once drawn, the screen shows the grid, its unchanged rows moved up with
            // the pixels, and nothing is left to a repaint.
            if (!screenDrawingOwed()) {
                ASSERT_EQ(got.cells, fake.shown) << "the screen differs from the grid after chunk " << c;
                ASSERT_EQ(traceCount("beginDrawing"), traceCount("endDrawing")) << "chunk " << c;
            }
            from = ends[c];
        }
        if (historyRows == HISTORY_ROWS) roundsThatFilledHistory++;
    }
    EXPECT_GE(roundsThatFilledHistory, 5) << "the streams must fill the history";
}

TEST_F(ScreenTest, AChunkIsDrawnOnceAFrameWithTheRowsItScrolledMovedUp) {
    showGridAsIs();
    showReceivedBytes("ab\r\ncd\tx");
    EXPECT_EQ(Lines({"beginDrawing", "drawRow 10 31 2", "drawRow 10 49 9", "caret 100 49", "endDrawing"}),
              fake.trace);

    // A scroll moves the pixels; only the changed cell and the new row are drawn.
    moveTo(24, 3);
    fake.trace.clear();
    const unsigned char scroll[] = {'y', 10, 'z'};
    showReceivedBytes(scroll, sizeof scroll);
    EXPECT_EQ(Lines({"beginDrawing", "scrollText 1", "drawRow 40 445 1", "drawRow 10 463 79",
                     "caret 60 463", "endDrawing"}),
              fake.trace);
    EXPECT_EQ(std::string("cd      x"), rowText(0).substr(0, 9));
    EXPECT_EQ(std::string("    z"), rowText(24).substr(0, 5));
    EXPECT_EQ(gridCells(), fake.shown);

    // Chunks within a frame of the last drawing wait for the next frame, together.
    fake.clockStep = 0;
    fake.trace.clear();
    const unsigned char sooner[] = {'1', '2', 10, '3'};
    showReceivedBytes(sooner, sizeof sooner);
    EXPECT_EQ(Lines({"scheduleDrawing 16"}), fake.trace);
    const unsigned char later[] = {10, '4'};
    showReceivedBytes(later, sizeof later);
    EXPECT_EQ(Lines({"scheduleDrawing 16"}), fake.trace);
    EXPECT_NE(gridCells(), fake.shown);
    onScreenDrawingDue();
    EXPECT_EQ("scrollText 2", fake.trace[2]);
    EXPECT_EQ(gridCells(), fake.shown);
    // The frames go on while bytes may come, and stop after a while without any.
    for (int frame = 1; frame < 15; ++frame) onScreenDrawingDue();
    EXPECT_TRUE(fake.framesAskedFor);
    onScreenDrawingDue();
    EXPECT_FALSE(fake.framesAskedFor);

    // A paint draws every row, whatever the frames drew before it.
    fake.clockStep = 16;
    const unsigned char two[] = {'5', 10, 10, '6'};
    showReceivedBytes(two, sizeof two);
    fake.trace.clear();
    drawWholeView();
    EXPECT_EQ(25u, traceCount("drawRow 10 31 79") + traceCount("drawRow 10 463 79") + 23u);
    EXPECT_EQ(gridCells(), fake.shown);
    EXPECT_FALSE(screenDrawingOwed());
}

}  // namespace
