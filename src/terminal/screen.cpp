#include "terminal/screen.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform.h"
#include "session/settings.h"
#include "terminal/history_view.h"
#include "terminal/layout.h"

unsigned char* screenBuffer = nullptr;
int gridColumns = 0;
int gridRows = 0;
int cursorRow = 0;
int cursorCol = 0;
int historyRows = 0;

void* (*allocateGridBuffer)(std::size_t size) = std::malloc;

namespace {

const unsigned char BLANK = 32;
const int TAB_STOP = 8;
const unsigned char TAB_BLANKS[TAB_STOP] = {BLANK, BLANK, BLANK, BLANK, BLANK, BLANK, BLANK, BLANK};

int ringRows = 0;  // HISTORY_ROWS + gridRows
int ringTop = 0;   // the ring's row that is the grid's row 0

// The columns of one grid row that a received chunk changed; from is -1 for none.
struct ChangedSpan {
    int from;
    int to;
};
ChangedSpan* changedSpans = nullptr;  // one per grid row

// Set by a scroll or a form feed: the chunk's end draws every row.
bool chunkRedrawsAll = false;

int cellsAcross(int extent, int cell) {
    int count = cell > 0 ? extent / cell : 0;
    return count > 0 ? count : 1;
}

std::size_t rowBytes() {
    return static_cast<std::size_t>(gridColumns);
}

// Row `row` of the grid (history rows below 0) in the ring.
unsigned char* ringRow(int row) {
    int stored = ringTop + row;
    if (stored >= ringRows) stored -= ringRows;
    else if (stored < 0) stored += ringRows;
    return screenBuffer + static_cast<std::size_t>(stored) * rowBytes();
}

// The grid moves up one row: its top row becomes the newest of the history, and
// the ring row that becomes the grid's last one (the oldest history row once the
// history is full) is blanked.
void turnRingUp() {
    if (++ringTop == ringRows) ringTop = 0;
    if (historyRows < HISTORY_ROWS) historyRows++;
    std::memset(ringRow(gridRows - 1), BLANK, rowBytes());
    noteRowsScrolled(1);
}

// The grid's rows lie in the ring in one piece, or in two where they pass its end.
void blankGridRows() {
    const int inOnePiece = ringRows - ringTop < gridRows ? ringRows - ringTop : gridRows;
    std::memset(ringRow(0), BLANK, static_cast<std::size_t>(inOnePiece) * rowBytes());
    if (inOnePiece < gridRows) {
        std::memset(screenBuffer, BLANK, static_cast<std::size_t>(gridRows - inOnePiece) * rowBytes());
    }
    noteGridBlanked();
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
        ringRow(cursorRow)[cursorCol] = byte;
        noteRowWritten(cursorRow);
        const int shownRow = cursorRow + viewOffset;
        if (shownRow < gridRows) {
            Point cell = cellPosition(shownRow, cursorCol);
            drawTerminalCell(cell.x, cell.y, byte);
        } else {
            hideTerminalCaret();  // out of view: nothing to draw, the caret as always
        }
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
        blankGridRows();
        requestTextRepaint();
    }
}

}  // namespace

bool screenGridReady() {
    return screenBuffer != nullptr && changedSpans != nullptr;
}

void releaseScreenGrid() {
    std::free(screenBuffer);
    screenBuffer = nullptr;
    std::free(changedSpans);
    changedSpans = nullptr;
    historyRows = 0;
    ringTop = 0;
    resetHistoryView();
}

const unsigned char* terminalRow(int row) {
    return ringRow(row);
}

void createScreenGrid() {
    gridColumns = cellsAcross(textRect.right - textRect.left, cellWidth);
    gridRows = cellsAcross(textRect.bottom - textRect.top, cellHeight);
    releaseScreenGrid();
    ringRows = HISTORY_ROWS + gridRows;
    const std::size_t ringSize = static_cast<std::size_t>(ringRows) * rowBytes();
    screenBuffer = static_cast<unsigned char*>(allocateGridBuffer(ringSize));
    changedSpans = static_cast<ChangedSpan*>(
        allocateGridBuffer(static_cast<std::size_t>(gridRows) * sizeof(ChangedSpan)));
    if (!screenGridReady()) {
        releaseScreenGrid();
        showErrorBox(NOT_ENOUGH_MEMORY_TEXT, "erreur");
        return;
    }
    std::memset(screenBuffer, BLANK, ringSize);
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
    turnRingUp();
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

void noteChanged(int row, int from, int to) {
    if (chunkRedrawsAll) return;  // every row is drawn anyway
    ChangedSpan& span = changedSpans[row];
    if (span.from < 0 || from < span.from) span.from = from;
    if (to > span.to) span.to = to;
}

void scrollChunkUp() {
    cursorRow = gridRows - 1;
    if (!screenGridReady()) return;
    turnRingUp();
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
        unsigned char* row = ringRow(cursorRow);
        noteRowWritten(cursorRow);
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
    blankGridRows();
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

// Each changed row where the view shows it; after a scroll or a form feed, every
// row of the view.
void drawChangedRows() {
    for (int row = 0; row < gridRows; ++row) {
        ChangedSpan& span = changedSpans[row];
        const int shownRow = row + viewOffset;
        if (chunkRedrawsAll) {
            drawViewRow(row, 0, gridColumns - 1);
        } else if (span.from >= 0 && shownRow < gridRows) {
            drawViewRow(shownRow, span.from, span.to);
        }
        span = ChangedSpan{-1, -1};
    }
    chunkRedrawsAll = false;
}

void finishChunk() {
    if (screenGridReady()) drawChangedRows();
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
