#include "terminal/screen.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform.h"
#include "session/settings.h"
#include "terminal/layout.h"

unsigned char* screenBuffer = nullptr;
unsigned char* scrollBuffer = nullptr;
int gridColumns = 0;
int gridRows = 0;
int cursorRow = 0;
int cursorCol = 0;

void* (*allocateGridBuffer)(std::size_t size) = std::malloc;

namespace {

const unsigned char BLANK = 32;
const int TAB_STOP = 8;
const unsigned char TAB_BLANKS[TAB_STOP] = {BLANK, BLANK, BLANK, BLANK, BLANK, BLANK, BLANK, BLANK};

// The columns of one row that a received chunk changed; from is -1 for none.
struct ChangedSpan {
    int from;
    int to;
};
ChangedSpan* changedSpans = nullptr;  // one per row

// While a received chunk is applied, its scrolls turn the rows instead of moving
// them: row r of the grid lives in buffer row (chunkTopRow + r) % gridRows until the
// chunk ends and the rows are put back in order.
int chunkTopRow = 0;
// Set by a scroll or a form feed: the chunk's end draws every row.
bool chunkRedrawsAll = false;

int cellsAcross(int extent, int cell) {
    int count = cell > 0 ? extent / cell : 0;
    return count > 0 ? count : 1;
}

std::size_t gridSize() {
    return static_cast<std::size_t>(gridColumns) * static_cast<std::size_t>(gridRows);
}

void placeCaretAtCursor() {
    Point caret = cursorCaretPosition();
    placeTerminalCaret(caret.x, caret.y);
}

void advanceCursor() {
    if (cursorCol < gridColumns - 1) {
        cursorCol++;
        return;
    }
    if (!autoWrap) return;  // the next character overwrites the last cell
    cursorCol = 0;
    cursorRow++;
    if (cursorRow >= gridRows) scrollScreenUp();
}

void putCharacter(int value) {
    if (screenGridReady()) {
        unsigned char byte = static_cast<unsigned char>(value & 0xFF);
        screenBuffer[static_cast<std::size_t>(cursorRow) * gridColumns + cursorCol] = byte;
        Point cell = cellPosition(cursorRow, cursorCol);
        drawTerminalCell(cell.x, cell.y, byte);
        advanceCursor();
        showTerminalCaret();
    }
    placeCaretAtCursor();
}

// Blanks up to the next multiple of 8, at least one. Without auto-wrap the cursor
// cannot leave the last column, which is never a tab stop: the tab ends there
// once it has written a blank in it.
void expandTab() {
    do {
        bool inLastColumn = cursorCol >= gridColumns - 1;
        deliverTerminalChar(BLANK);
        if (inLastColumn && !autoWrap) break;
        if (!screenGridReady()) break;  // nothing moves without a grid
    } while (cursorCol % TAB_STOP != 0);
}

void clearScreen() {
    cursorRow = 0;
    cursorCol = 0;
    if (screenGridReady()) {
        std::memset(screenBuffer, BLANK, gridSize());
        requestTextRepaint();
    }
}

}  // namespace

bool screenGridReady() {
    return screenBuffer != nullptr && scrollBuffer != nullptr && changedSpans != nullptr;
}

void releaseScreenGrid() {
    std::free(screenBuffer);
    screenBuffer = nullptr;
    std::free(scrollBuffer);
    scrollBuffer = nullptr;
    std::free(changedSpans);
    changedSpans = nullptr;
}

void createScreenGrid() {
    gridColumns = cellsAcross(textRect.right - textRect.left, cellWidth);
    gridRows = cellsAcross(textRect.bottom - textRect.top, cellHeight);
    releaseScreenGrid();
    screenBuffer = static_cast<unsigned char*>(allocateGridBuffer(gridSize()));
    scrollBuffer = static_cast<unsigned char*>(allocateGridBuffer(gridSize()));
    changedSpans = static_cast<ChangedSpan*>(
        allocateGridBuffer(static_cast<std::size_t>(gridRows) * sizeof(ChangedSpan)));
    if (!screenGridReady()) {
        releaseScreenGrid();
        showErrorBox(NOT_ENOUGH_MEMORY_TEXT, "erreur");
        return;
    }
    std::memset(screenBuffer, BLANK, gridSize());
    for (int row = 0; row < gridRows; ++row) changedSpans[row] = ChangedSpan{-1, -1};
    cursorCol = 0;
    cursorRow = 0;
    textOriginX = textRect.left;
    textOriginY = textRect.top;
    placeTerminalCaret(textOriginX, textOriginY);
}

void scrollScreenUp() {
    cursorRow = gridRows - 1;
    if (!screenGridReady()) return;
    std::size_t rowBytes = static_cast<std::size_t>(gridColumns);
    std::memcpy(scrollBuffer, screenBuffer + rowBytes, rowBytes * (gridRows - 1));
    std::memset(scrollBuffer + rowBytes * (gridRows - 1), BLANK, rowBytes);
    std::memcpy(screenBuffer, scrollBuffer, gridSize());
    requestTextRepaint();
}

void putTerminalChar(int value) {
    switch (value) {
    case 8:
        if (cursorCol > 0) cursorCol--;
        break;
    case 9:
        expandTab();
        break;
    case 10:
        if (cursorRow < gridRows - 1) cursorRow++;
        else scrollScreenUp();
        break;
    case 12:
        clearScreen();
        break;
    case 13:
        cursorCol = 0;
        break;
    default:
        putCharacter(value);
        return;
    }
    placeCaretAtCursor();
}

// ---- a received chunk ----------------------------------------------------------
// The same interpreter as putTerminalChar, for many bytes at once: the grid changes
// in memory and the screen is brought up to date once, at the chunk's end.

namespace {

bool isControlByte(unsigned char byte) {
    return byte == 8 || byte == 9 || byte == 10 || byte == 12 || byte == 13;
}

// Runs of characters are found eight bytes at a time, the bytes of a word taken
// first byte lowest (Windows runs little-endian only).
const std::uint64_t EVERY_BYTE = 0x0101010101010101u;
const std::uint64_t TOP_BITS = EVERY_BYTE * 0x80;
const std::uint64_t LOW_BITS = EVERY_BYTE * 0x7F;

// Marks the top bit of every byte of `word` that is a control: from 8 to 13, but 11.
// Each byte is tested on its own (no carry crosses from one byte into the next).
std::uint64_t controlBytes(std::uint64_t word) {
    std::uint64_t low = word & LOW_BITS;
    std::uint64_t from8To13 = (EVERY_BYTE * (127 + 14) - low) & ~word & (low + EVERY_BYTE * (127 - 7));
    std::uint64_t notEleven = word ^ (EVERY_BYTE * 11);
    std::uint64_t nonzero = ((notEleven & LOW_BITS) + LOW_BITS) | notEleven;
    return from8To13 & nonzero & TOP_BITS;
}

// The index of the byte of the lowest mark.
std::size_t lowestMarkedByte(std::uint64_t marks) {
    std::uint64_t lowest = marks & (~marks + 1);
    return static_cast<std::size_t>(((lowest >> 7) * 0x0001020304050607u) >> 56);
}

// The end of the run of non-control bytes that starts at `from`.
std::size_t endOfCharacters(const unsigned char* bytes, std::size_t from, std::size_t count) {
    std::uint64_t word;
    for (; from + sizeof word <= count; from += sizeof word) {
        std::memcpy(&word, bytes + from, sizeof word);
        std::uint64_t controls = controlBytes(word);
        if (controls != 0) return from + lowestMarkedByte(controls);
    }
    while (from < count && !isControlByte(bytes[from])) from++;
    return from;
}

unsigned char* chunkRow(int row) {
    int stored = chunkTopRow + row;
    if (stored >= gridRows) stored -= gridRows;
    return screenBuffer + static_cast<std::size_t>(stored) * gridColumns;
}

void noteChanged(int row, int from, int to) {
    if (chunkRedrawsAll) return;  // every row is drawn anyway
    ChangedSpan& span = changedSpans[row];
    if (span.from < 0 || from < span.from) span.from = from;
    if (to > span.to) span.to = to;
}

void scrollChunkUp() {
    cursorRow = gridRows - 1;
    if (!screenGridReady()) return;
    if (++chunkTopRow == gridRows) chunkTopRow = 0;
    std::memset(chunkRow(gridRows - 1), BLANK, static_cast<std::size_t>(gridColumns));
    chunkRedrawsAll = true;
}

void nextChunkRow() {
    if (cursorRow < gridRows - 1) cursorRow++;
    else scrollChunkUp();
}

// Characters stored from the cursor on, exactly as one at a time would store them.
void putChunkCharacters(const unsigned char* run, std::size_t count) {
    if (!screenGridReady()) return;
    while (count > 0) {
        std::size_t room = static_cast<std::size_t>(gridColumns - cursorCol);
        unsigned char* row = chunkRow(cursorRow);
        if (count < room) {  // the run ends before the last column
            std::memcpy(row + cursorCol, run, count);
            noteChanged(cursorRow, cursorCol, cursorCol + static_cast<int>(count) - 1);
            cursorCol += static_cast<int>(count);
            return;
        }
        noteChanged(cursorRow, cursorCol, gridColumns - 1);
        if (!autoWrap) {
            // The cursor stops in the last column; there each byte overwrites the last.
            std::memcpy(row + cursorCol, run, room - 1);
            row[gridColumns - 1] = run[count - 1];
            cursorCol = gridColumns - 1;
            return;
        }
        std::memcpy(row + cursorCol, run, room);  // to the row's end: it wraps at once
        run += room;
        count -= room;
        cursorCol = 0;
        nextChunkRow();
    }
}

// Blanks up to the next tab stop, at least one, ending in the last column or with
// the wrap there, as the single-character tab does.
void expandChunkTab() {
    int stop = std::min((cursorCol / TAB_STOP + 1) * TAB_STOP, gridColumns);
    putChunkCharacters(TAB_BLANKS, static_cast<std::size_t>(stop - cursorCol));
}

void clearChunkScreen() {
    cursorRow = 0;
    cursorCol = 0;
    if (!screenGridReady()) return;
    std::memset(screenBuffer, BLANK, gridSize());
    chunkTopRow = 0;  // every row is blank: their order no longer matters
    chunkRedrawsAll = true;
}

void putChunkControl(unsigned char control) {
    switch (control) {
    case 8:
        if (cursorCol > 0) cursorCol--;
        break;
    case 9:
        expandChunkTab();
        break;
    case 10:
        nextChunkRow();
        break;
    case 12:
        clearChunkScreen();
        break;
    default:  // 13
        cursorCol = 0;
        break;
    }
}

void drawChangedRows() {
    for (int row = 0; row < gridRows; ++row) {
        ChangedSpan& span = changedSpans[row];
        int from = chunkRedrawsAll ? 0 : span.from;
        int to = chunkRedrawsAll ? gridColumns - 1 : span.to;
        if (from >= 0) {
            Point p = cellPosition(row, from);
            drawTerminalRow(p.x, p.y, screenBuffer + static_cast<std::size_t>(row) * gridColumns + from,
                            to - from + 1);
        }
        span = ChangedSpan{-1, -1};
    }
    chunkRedrawsAll = false;
}

void finishChunk() {
    if (screenGridReady()) {
        if (chunkTopRow != 0) {
            std::size_t top = static_cast<std::size_t>(chunkTopRow) * gridColumns;
            std::rotate(screenBuffer, screenBuffer + top, screenBuffer + gridSize());
            chunkTopRow = 0;
        }
        drawChangedRows();
    }
    placeCaretAtCursor();
    showTerminalCaret();
}

}  // namespace

void putTerminalBytes(const unsigned char* bytes, std::size_t count) {
    hideTerminalCaret();
    std::size_t i = 0;
    while (i < count) {
        std::size_t end = endOfCharacters(bytes, i, count);
        if (end > i) {
            putChunkCharacters(bytes + i, end - i);
            i = end;
        } else {
            putChunkControl(bytes[i++]);
        }
    }
    finishChunk();
}
