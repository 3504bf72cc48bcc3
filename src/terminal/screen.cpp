#include "terminal/screen.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform.h"
#include "session/settings.h"
#include "terminal/byte_scan.h"
#include "terminal/chunk_pieces.h"
#include "terminal/layout.h"

unsigned char* screenBuffer = nullptr;
int gridColumns = 0;
int gridRows = 0;
int cursorRow = 0;
int cursorCol = 0;
int historyRows = 0;

void* (*allocateGridBuffer)(std::size_t size) = std::malloc;

namespace {

const int TAB_STOP = 8;
const unsigned char TAB_BLANKS[TAB_STOP] = {BLANK, BLANK, BLANK, BLANK, BLANK, BLANK, BLANK, BLANK};

int ringRows = 0;  // HISTORY_ROWS + gridRows
int ringTop = 0;   // the ring's row that is the grid's row 0

// The grid's row 0, numbered from the first row the grid ever had: each scroll adds
// one. A grid made anew is numbered on after the rows of the old one, so that no
// number is used twice.
RowNumber gridTop = 0;

// ---- the rows written since the view last took them -------------------------------
// The columns of a ring row written since; from is -1 for none. Kept by ring row,
// so a row's marks move with it when the grid scrolls.
struct ChangedSpan {
    int from;
    int to;
};
ChangedSpan* ringChanges = nullptr;  // one per ring row
int ringTurnsSinceTaken = 0;         // up to ringRows: the rows that may hold marks

ChunkPiece chunkPieces[MOST_CHUNK_PIECES];

int cellsAcross(int extent, int cell) {
    int count = cell > 0 ? extent / cell : 0;
    return count > 0 ? count : 1;
}

std::size_t rowBytes() {
    return static_cast<std::size_t>(gridColumns);
}

// The ring's row that holds row `row` of the grid (history rows below 0).
int ringIndex(int row) {
    int stored = ringTop + row;
    if (stored >= ringRows) stored -= ringRows;
    else if (stored < 0) stored += ringRows;
    return stored;
}

unsigned char* ringRow(int row) {
    return screenBuffer + static_cast<std::size_t>(ringIndex(row)) * rowBytes();
}

void markChanged(int row, int from, int to) {
    ChangedSpan& span = ringChanges[ringIndex(row)];
    if (span.from < 0 || from < span.from) span.from = from;
    if (to > span.to) span.to = to;
}

// The grid moves up one row: its top row becomes the newest of the history, and
// the ring row that becomes the grid's last one (the oldest history row once the
// history is full) is blanked.
void turnRingUp() {
    if (++ringTop == ringRows) ringTop = 0;
    if (historyRows < HISTORY_ROWS) historyRows++;
    gridTop++;
    std::memset(ringRow(gridRows - 1), BLANK, rowBytes());
    markChanged(gridRows - 1, 0, gridColumns - 1);
    if (ringTurnsSinceTaken < ringRows) ringTurnsSinceTaken++;
}

void markGridWritten() {
    for (int row = 0; row < gridRows; ++row) markChanged(row, 0, gridColumns - 1);
}

// The grid's rows lie in the ring in one piece, or in two where they pass its end.
void blankGridRows() {
    const int inOnePiece = ringRows - ringTop < gridRows ? ringRows - ringTop : gridRows;
    std::memset(ringRow(0), BLANK, static_cast<std::size_t>(inOnePiece) * rowBytes());
    if (inOnePiece < gridRows) {
        std::memset(screenBuffer, BLANK, static_cast<std::size_t>(gridRows - inOnePiece) * rowBytes());
    }
    markGridWritten();
}

void clearScreen() {
    cursorRow = 0;
    cursorCol = 0;
    if (screenGridReady()) blankGridRows();
}

}  // namespace

bool screenGridReady() {
    return screenBuffer != nullptr && ringChanges != nullptr;
}

void releaseScreenGrid() {
    std::free(screenBuffer);
    screenBuffer = nullptr;
    std::free(ringChanges);
    ringChanges = nullptr;
    historyRows = 0;
    ringTop = 0;
    ringTurnsSinceTaken = 0;
}

const unsigned char* terminalRow(int row) {
    return ringRow(row);
}

void createScreenGrid() {
    const RowNumber afterTheOldRows = gridTop + gridRows;
    gridColumns = cellsAcross(textRect.right - textRect.left, cellWidth);
    gridRows = cellsAcross(textRect.bottom - textRect.top, cellHeight);
    releaseScreenGrid();
    ringRows = HISTORY_ROWS + gridRows;
    const std::size_t ringSize = static_cast<std::size_t>(ringRows) * rowBytes();
    screenBuffer = static_cast<unsigned char*>(allocateGridBuffer(ringSize));
    ringChanges = static_cast<ChangedSpan*>(
        allocateGridBuffer(static_cast<std::size_t>(ringRows) * sizeof(ChangedSpan)));
    if (!screenGridReady()) {
        releaseScreenGrid();
        showErrorBox(NOT_ENOUGH_MEMORY_TEXT, "erreur");
        return;
    }
    std::memset(screenBuffer, BLANK, ringSize);
    for (int row = 0; row < ringRows; ++row) ringChanges[row] = ChangedSpan{-1, -1};
    gridTop = afterTheOldRows;
    cursorCol = 0;
    cursorRow = 0;
    textOriginX = textRect.left;
    textOriginY = textRect.top;
}

// ---- the interpreter ---------------------------------------------------------------
// Bytes are taken a chunk at a time (a byte is a chunk of one): the grid changes in
// memory, and the view brings the window up to date once the chunk is in.

namespace {

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

// Moves the grid up one row into the history; the last row becomes blank.
void scrollGridUp() {
    cursorRow = gridRows - 1;
    if (screenGridReady()) turnRingUp();
}

void nextRow() {
    if (cursorRow < gridRows - 1) cursorRow++;
    else scrollGridUp();
}

// Characters stored from the cursor on, each advancing the cursor: to the next
// column; in the last column, with auto-wrap, to the next row's first (scrolling
// from the last row at once), without it nowhere, so that the next one overwrites it.
void putCharacters(const unsigned char* run, std::size_t count) {
    if (!screenGridReady()) return;
    while (count > 0) {
        std::size_t room = static_cast<std::size_t>(gridColumns - cursorCol);
        unsigned char* row = ringRow(cursorRow);
        if (count < room) {  // the run ends before the last column
            std::memcpy(row + cursorCol, run, count);
            markChanged(cursorRow, cursorCol, cursorCol + static_cast<int>(count) - 1);
            cursorCol += static_cast<int>(count);
            return;
        }
        markChanged(cursorRow, cursorCol, gridColumns - 1);
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
        nextRow();
    }
}

// Blanks up to the next tab stop, at least one. Without auto-wrap the cursor cannot
// leave the last column, which is never a tab stop: the tab ends there once it has
// written a blank in it; with auto-wrap, the wrap there ends it.
void expandTab() {
    int stop = std::min((cursorCol / TAB_STOP + 1) * TAB_STOP, gridColumns);
    putCharacters(TAB_BLANKS, static_cast<std::size_t>(stop - cursorCol));
}

void putControl(unsigned char control) {
    switch (control) {
    case 8:
        if (cursorCol > 0) cursorCol--;
        break;
    case 9:
        expandTab();
        break;
    case 10:
        nextRow();
        break;
    case 12:
        clearScreen();
        break;
    default:  // 13
        cursorCol = 0;
        break;
    }
}

void applyChunkBytes(const unsigned char* bytes, std::size_t count) {
    std::size_t i = 0;
    while (i < count) {
        std::size_t end = endOfCharacters(bytes, i, count);
        if (end > i) {
            putCharacters(bytes + i, end - i);
            i = end;
        } else {
            putControl(bytes[i++]);
        }
    }
}

}  // namespace

void putTerminalBytes(const unsigned char* bytes, std::size_t count) {
    const ChunkGrid grid = {gridRows, gridColumns, HISTORY_ROWS, cursorRow, cursorCol, autoWrap};
    const int pieces = screenGridReady() ? findChunkPieces(bytes, count, grid, chunkPieces) : -1;
    if (pieces < 0) applyChunkBytes(bytes, count);
    for (int piece = pieces - 1; piece >= 0; --piece) {
        const ChunkPiece& p = chunkPieces[piece];
        if (p.fromCarriageReturn) cursorRow = gridRows - 1;
        applyChunkBytes(bytes + p.from, p.to - p.from);
    }
}

void putTerminalChar(int value) {
    const unsigned char byte = static_cast<unsigned char>(value & 0xFF);
    // A received byte comes widened with its sign; any other value is a character
    // whose low byte is stored, a control's value among them (256 + 9 is no tab).
    if (value >= -128 && value <= 255) putTerminalBytes(&byte, 1);
    else putCharacters(&byte, 1);
}

// ---- the text rows as a source of rows ----------------------------------------------

namespace {

RowNumber firstTextRow() {
    return gridTop - historyRows;
}

RowNumber textRowsEnd() {
    return gridTop + gridRows;
}

bool isKeptTextRow(RowNumber row) {
    return screenGridReady() && row >= firstTextRow() && row < textRowsEnd();
}

const unsigned char* textRowCells(RowNumber row, unsigned char*, int) {
    return ringRow(static_cast<int>(row - gridTop));
}

CellLook textRowLook(RowNumber) {
    return CELLS_PLAIN;
}

bool textRowWrittenColumns(RowNumber row, int* from, int* to) {
    if (!isKeptTextRow(row)) return false;
    const ChangedSpan& span = ringChanges[ringIndex(static_cast<int>(row - gridTop))];
    if (span.from < 0) return false;
    *from = span.from;
    *to = span.to;
    return true;
}

// The marks of every ring row that was the grid's at some time since are cleared.
void forgetWrittenTextRows() {
    if (!screenGridReady()) return;
    if (ringTurnsSinceTaken + gridRows >= ringRows) {
        for (int row = 0; row < ringRows; ++row) ringChanges[row] = ChangedSpan{-1, -1};
    } else {
        for (int row = -ringTurnsSinceTaken; row < gridRows; ++row) ringChanges[ringIndex(row)] = ChangedSpan{-1, -1};
    }
    ringTurnsSinceTaken = 0;
}

}  // namespace

RowNumber gridTopRow() {
    return gridTop;
}

const RowSource textRows = {firstTextRow,         textRowsEnd,           textRowCells, textRowLook,
                            gridTopRow,           textRowWrittenColumns, forgetWrittenTextRows};
