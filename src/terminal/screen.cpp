#include "terminal/screen.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform.h"
#include "session/settings.h"
#include "terminal/byte_scan.h"
#include "terminal/chunk_pieces.h"
#include "terminal/colours.h"
#include "terminal/layout.h"
#include "terminal/sequences.h"

unsigned char* screenBuffer = nullptr;
int gridColumns = 0;
int gridRows = 0;
int cursorRow = 0;
int cursorCol = 0;
int historyRows = 0;
bool ansiSequences = false;

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

// ---- the cells' colours --------------------------------------------------------------
// The colours of every cell of the ring, row by row like the cells; a ring row that
// is not marked coloured is plain throughout, whatever its colours hold, so that
// plain text costs no colour written.
CellColours* ringColours = nullptr;
unsigned char* ringColoured = nullptr;  // one per ring row
// The colours characters are stored in now: the peer's, or those of what is echoed.
CellColours pen = PLAIN_CELLS;

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
// A chunk shorter than this is applied whole: looking for what of it can be skipped
// would cost more than skipping saves.
const std::size_t SMALLEST_CHUNK_TO_SKIP = 256;

// ---- the device's sequences ------------------------------------------------------
// What the peer's graphics sequences chose: the text's colour (one of 30 to 37, which
// bright turns into its bright one, or any other), the background's, bright, inverse.
struct Graphics {
    unsigned char text;
    bool textBrightens;
    unsigned char back;
    bool bright;
    bool inverse;
};
const Graphics PLAIN_GRAPHICS = {DEFAULT_TEXT, false, DEFAULT_BACK, false, false};
Graphics graphics = PLAIN_GRAPHICS;
CellColours peerPen = PLAIN_CELLS;  // the colours graphics gives
Sequence sequence = NO_SEQUENCE;    // the sequence under way, which a chunk may cut
int savedRow = 0;                   // the cursor ESC 7 saved
int savedCol = 0;
// The cursor may have moved up other than through a form feed, so that rows below
// it may hold text: what a chunk can skip must not rest on them being blank.
bool rowsBelowMayHoldText = false;

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

CellColours* ringRowColours(int ring) {
    return ringColours + static_cast<std::size_t>(ring) * rowBytes();
}

// Cells from..to of a ring row were written.
void markRingChanged(int ring, int from, int to) {
    ChangedSpan& span = ringChanges[ring];
    if (span.from < 0 || from < span.from) span.from = from;
    if (to > span.to) span.to = to;
}

void markChanged(int row, int from, int to) {
    markRingChanged(ringIndex(row), from, to);
}

// `count` cells take `colours`, four at a time: a run of a coloured line is written
// for every line of a colourful log.
void fillColours(CellColours* cells, std::size_t count, CellColours colours) {
    static_assert(sizeof(CellColours) == 2, "a cell's colours are two bytes");
    std::uint16_t one;
    std::memcpy(&one, &colours, sizeof one);
    const std::uint64_t four = one * 0x0001000100010001u;
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) std::memcpy(cells + i, &four, sizeof four);
    for (; i < count; ++i) cells[i] = colours;
}

// Cells from..to of a ring row take `colours`.
void colourRingCells(int ring, int from, int to, CellColours colours) {
    if (!ringColoured[ring]) {
        if (sameColours(colours, PLAIN_CELLS)) return;
        fillColours(ringRowColours(ring), rowBytes(), PLAIN_CELLS);
        ringColoured[ring] = 1;
    }
    fillColours(ringRowColours(ring) + from, static_cast<std::size_t>(to - from + 1), colours);
}

// Cells from..to of a grid row become plain blanks.
void blankCells(int row, int from, int to) {
    std::memset(ringRow(row) + from, BLANK, static_cast<std::size_t>(to - from + 1));
    const int ring = ringIndex(row);
    colourRingCells(ring, from, to, PLAIN_CELLS);
    markRingChanged(ring, from, to);
}

// The grid moves up one row: its top row becomes the newest of the history, and
// the ring row that becomes the grid's last one (the oldest history row once the
// history is full) is blanked.
void turnRingUp() {
    if (++ringTop == ringRows) ringTop = 0;
    if (historyRows < HISTORY_ROWS) historyRows++;
    gridTop++;
    std::memset(ringRow(gridRows - 1), BLANK, rowBytes());
    ringColoured[ringIndex(gridRows - 1)] = 0;
    markChanged(gridRows - 1, 0, gridColumns - 1);
    if (ringTurnsSinceTaken < ringRows) ringTurnsSinceTaken++;
}

void blankGridRows() {
    for (int row = 0; row < gridRows; ++row) {
        std::memset(ringRow(row), BLANK, rowBytes());
        ringColoured[ringIndex(row)] = 0;
        markChanged(row, 0, gridColumns - 1);
    }
}

void clearScreen() {
    cursorRow = 0;
    cursorCol = 0;
    rowsBelowMayHoldText = false;
    if (screenGridReady()) blankGridRows();
}

}  // namespace

bool screenGridReady() {
    return screenBuffer != nullptr && ringChanges != nullptr && ringColours != nullptr &&
           ringColoured != nullptr;
}

void releaseScreenGrid() {
    std::free(screenBuffer);
    screenBuffer = nullptr;
    std::free(ringChanges);
    ringChanges = nullptr;
    std::free(ringColours);
    ringColours = nullptr;
    std::free(ringColoured);
    ringColoured = nullptr;
    historyRows = 0;
    ringTop = 0;
    ringTurnsSinceTaken = 0;
}

const unsigned char* terminalRow(int row) {
    return ringRow(row);
}

CellColours terminalCellColours(int row, int col) {
    const int ring = ringIndex(row);
    return ringColoured[ring] ? ringRowColours(ring)[col] : PLAIN_CELLS;
}

void createScreenGrid() {
    const RowNumber afterTheOldRows = gridTop + gridRows;
    gridColumns = cellsAcross(textRect.right - textRect.left, cellWidth);
    gridRows = cellsAcross(textRect.bottom - textRect.top, cellHeight);
    releaseScreenGrid();
    ringRows = HISTORY_ROWS + gridRows;
    const std::size_t rows = static_cast<std::size_t>(ringRows);
    const std::size_t ringSize = rows * rowBytes();
    screenBuffer = static_cast<unsigned char*>(allocateGridBuffer(ringSize));
    ringChanges = static_cast<ChangedSpan*>(allocateGridBuffer(rows * sizeof(ChangedSpan)));
    ringColours = static_cast<CellColours*>(allocateGridBuffer(ringSize * sizeof(CellColours)));
    ringColoured = static_cast<unsigned char*>(allocateGridBuffer(rows));
    if (!screenGridReady()) {
        releaseScreenGrid();
        showErrorBox(NOT_ENOUGH_MEMORY_TEXT, "erreur");
        return;
    }
    std::memset(screenBuffer, BLANK, ringSize);
    std::memset(ringColoured, 0, rows);
    for (int row = 0; row < ringRows; ++row) ringChanges[row] = ChangedSpan{-1, -1};
    gridTop = afterTheOldRows;
    cursorCol = 0;
    cursorRow = 0;
    savedRow = 0;
    savedCol = 0;
    rowsBelowMayHoldText = false;
    textOriginX = textRect.left;
    textOriginY = textRect.top;
}

// ---- the interpreter ---------------------------------------------------------------
// Bytes are taken a chunk at a time (a byte is a chunk of one): the grid changes in
// memory, and the view brings the window up to date once the chunk is in.

namespace {

// The end of the run of bytes that are stored as characters from `from` on: up to a
// control, or to an ESC too when it starts a sequence.
std::size_t endOfCharacters(const unsigned char* bytes, std::size_t from, std::size_t count, bool escapes) {
    using namespace byteScan;
    for (; from + BLOCK_BYTES <= count; from += BLOCK_BYTES) {
        const Block block = loadBlock(bytes + from);
        Marks stops = controlBytes(block);
        if (escapes) stops |= bytesEqual(block, ESCAPE);
        if (stops != 0) return from + lowestMarkedByte(stops);
    }
    while (from < count && !isControlByte(bytes[from]) && !(escapes && bytes[from] == ESCAPE)) from++;
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

// Cells from..to of the cursor's ring row were written in the pen's colours.
void markWritten(int ring, int from, int to) {
    if (ringColoured[ring] || !sameColours(pen, PLAIN_CELLS)) colourRingCells(ring, from, to, pen);
    markRingChanged(ring, from, to);
}

// Characters stored from the cursor on in the pen's colours, each advancing the
// cursor: to the next column; in the last column, with auto-wrap, to the next row's
// first (scrolling from the last row at once), without it nowhere, so that the next
// one overwrites it.
void putCharacters(const unsigned char* run, std::size_t count) {
    if (!screenGridReady()) return;
    while (count > 0) {
        std::size_t room = static_cast<std::size_t>(gridColumns - cursorCol);
        const int ring = ringIndex(cursorRow);
        unsigned char* row = screenBuffer + static_cast<std::size_t>(ring) * rowBytes();
        if (count < room) {  // the run ends before the last column
            std::memcpy(row + cursorCol, run, count);
            markWritten(ring, cursorCol, cursorCol + static_cast<int>(count) - 1);
            cursorCol += static_cast<int>(count);
            return;
        }
        markWritten(ring, cursorCol, gridColumns - 1);
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

// The characters from `at` up to the next control (or ESC, when it starts a
// sequence), or else the control at `at`; returns where the bytes go on.
std::size_t applyCharactersOrControl(const unsigned char* bytes, std::size_t at, std::size_t count, bool escapes) {
    const std::size_t end = endOfCharacters(bytes, at, count, escapes);
    if (end > at) {
        putCharacters(bytes + at, end - at);
        return end;
    }
    putControl(bytes[at]);
    return at + 1;
}

// The five controls act; every other byte is a character.
void applyBytes(const unsigned char* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count;) i = applyCharactersOrControl(bytes, i, count, false);
}

// ---- what the sequences do ------------------------------------------------------

int clamp(int value, int lowest, int highest) {
    return value < lowest ? lowest : value > highest ? highest : value;
}

void moveCursor(int row, int col) {
    row = clamp(row, 0, gridRows - 1);
    if (row < cursorRow) rowsBelowMayHoldText = true;
    cursorRow = row;
    cursorCol = clamp(col, 0, gridColumns - 1);
}

// J: 0 from the cursor to the grid's end, 1 from its start to the cursor, 2 all.
void eraseInGrid(int how) {
    if (!screenGridReady() || how < 0 || how > 2) return;
    if (how == 0) {
        blankCells(cursorRow, cursorCol, gridColumns - 1);
        for (int row = cursorRow + 1; row < gridRows; ++row) blankCells(row, 0, gridColumns - 1);
        rowsBelowMayHoldText = false;
    } else if (how == 1) {
        for (int row = 0; row < cursorRow; ++row) blankCells(row, 0, gridColumns - 1);
        blankCells(cursorRow, 0, cursorCol);
    } else {
        for (int row = 0; row < gridRows; ++row) blankCells(row, 0, gridColumns - 1);
        rowsBelowMayHoldText = false;
    }
}

// K: 0 from the cursor to the row's end, 1 from its start to the cursor, 2 the row.
void eraseInRow(int how) {
    if (!screenGridReady() || how < 0 || how > 2) return;
    blankCells(cursorRow, how == 0 ? cursorCol : 0, how == 1 ? cursorCol : gridColumns - 1);
}

CellColours coloursOfGraphics(const Graphics& chosen) {
    const unsigned char text =
        chosen.textBrightens && chosen.bright ? static_cast<unsigned char>(chosen.text + 8) : chosen.text;
    const CellColours colours = {text, chosen.back};
    return chosen.inverse ? swappedColours(colours) : colours;
}

// 38 and 48: `;5;n` one of the 256, `;2;r;g;b` a colour; the parameters they take are
// passed over. False when they are missing: the rest of the list is ignored.
bool takeExtendedColour(int* at, unsigned char* colour) {
    const int kind = sequenceParameter(sequence, *at + 1, 0);
    if (kind == 5 && *at + 2 < sequence.parameterCount) {
        *colour = ansiColourOf256(std::min(sequenceParameter(sequence, *at + 2, 0), 255));
        *at += 2;
        return true;
    }
    if (kind == 2 && *at + 4 < sequence.parameterCount) {
        const int red = std::min(sequenceParameter(sequence, *at + 2, 0), 255);
        const int green = std::min(sequenceParameter(sequence, *at + 3, 0), 255);
        const int blue = std::min(sequenceParameter(sequence, *at + 4, 0), 255);
        *colour = nearestAnsiColour(red, green, blue);
        *at += 4;
        return true;
    }
    return false;
}

// m: the graphics of what follows, a parameter after another; none is 0.
void selectGraphics() {
    const int count = std::min(std::max(sequence.parameterCount, 1), MOST_SEQUENCE_PARAMETERS);
    for (int at = 0; at < count; ++at) {
        const int p = sequenceParameter(sequence, at, 0);
        if (p == 0) graphics = PLAIN_GRAPHICS;
        else if (p == 1) graphics.bright = true;
        else if (p == 22) graphics.bright = false;
        else if (p == 7) graphics.inverse = true;
        else if (p == 27) graphics.inverse = false;
        else if (p >= 30 && p <= 37) graphics.text = static_cast<unsigned char>(p - 30), graphics.textBrightens = true;
        else if (p == 39) graphics.text = DEFAULT_TEXT, graphics.textBrightens = false;
        else if (p >= 90 && p <= 97) graphics.text = static_cast<unsigned char>(p - 90 + 8), graphics.textBrightens = false;
        else if (p >= 40 && p <= 47) graphics.back = static_cast<unsigned char>(p - 40);
        else if (p == 49) graphics.back = DEFAULT_BACK;
        else if (p >= 100 && p <= 107) graphics.back = static_cast<unsigned char>(p - 100 + 8);
        else if (p == 38 || p == 48) {
            unsigned char colour = 0;
            if (!takeExtendedColour(&at, &colour)) break;
            if (p == 38) graphics.text = colour, graphics.textBrightens = false;
            else graphics.back = colour;
        }
    }
    peerPen = coloursOfGraphics(graphics);
    pen = peerPen;
}

void actOnSequence(int final) {
    const int first = sequenceParameter(sequence, 0, 1);
    switch (final) {
    case 'm': selectGraphics(); break;
    case 'A': moveCursor(cursorRow - first, cursorCol); break;
    case 'B': moveCursor(cursorRow + first, cursorCol); break;
    case 'C': moveCursor(cursorRow, cursorCol + first); break;
    case 'D': moveCursor(cursorRow, cursorCol - first); break;
    case 'H':
    case 'f': moveCursor(first - 1, sequenceParameter(sequence, 1, 1) - 1); break;
    case 'J': eraseInGrid(sequenceParameter(sequence, 0, 0)); break;
    case 'K': eraseInRow(sequenceParameter(sequence, 0, 0)); break;
    case '7':
        savedRow = cursorRow;
        savedCol = cursorCol;
        break;
    case '8': moveCursor(savedRow, savedCol); break;
    default: break;
    }
}

// The bytes with the device's sequences read: an ESC starts one, which may go on in
// the next chunk; what it does is done, and it shows nothing.
void applyBytesWithSequences(const unsigned char* bytes, std::size_t count) {
    std::size_t i = 0;
    while (i < count) {
        if (sequence.state != SEQUENCE_NONE) {
            const int step = takeSequenceByte(sequence, bytes[i]);
            if (step != SEQUENCE_REFUSED) {
                ++i;
                if (step != SEQUENCE_TAKEN) actOnSequence(step);
                continue;
            }
        }
        if (bytes[i] == ESCAPE) {
            startSequence(sequence);
            ++i;
            continue;
        }
        i = applyCharactersOrControl(bytes, i, count, true);
    }
}

// Whether what the chunk path skips stays what the whole chunk leaves: the cursor
// moved up only through form feeds and no sequence comes (chunk_pieces.h).
bool mayBeSkipped(const unsigned char* bytes, std::size_t count) {
    if (cursorRow == gridRows - 1) rowsBelowMayHoldText = false;
    if (rowsBelowMayHoldText) return false;
    if (!ansiSequences) return true;
    return sequence.state == SEQUENCE_NONE && (count == 0 || std::memchr(bytes, ESCAPE, count) == nullptr);
}

void applyReceived(const unsigned char* bytes, std::size_t count) {
    if (ansiSequences) applyBytesWithSequences(bytes, count);
    else applyBytes(bytes, count);
}

}  // namespace

void putTerminalBytes(const unsigned char* bytes, std::size_t count) {
    pen = peerPen;
    const ChunkGrid grid = {gridRows, gridColumns, HISTORY_ROWS, cursorRow, cursorCol, autoWrap};
    const bool worthSkipping = count >= SMALLEST_CHUNK_TO_SKIP && screenGridReady();
    const int pieces =
        worthSkipping && mayBeSkipped(bytes, count) ? findChunkPieces(bytes, count, grid, chunkPieces) : -1;
    if (pieces < 0) applyReceived(bytes, count);
    for (int piece = pieces - 1; piece >= 0; --piece) {
        const ChunkPiece& p = chunkPieces[piece];
        if (p.fromCarriageReturn) cursorRow = gridRows - 1;
        applyReceived(bytes + p.from, p.to - p.from);
    }
}

void putTerminalChar(int value) {
    const unsigned char byte = static_cast<unsigned char>(value & 0xFF);
    // A received byte comes widened with its sign; any other value is a character
    // whose low byte is stored, a control's value among them (256 + 9 is no tab).
    if (value >= -128 && value <= 255) {
        putTerminalBytes(&byte, 1);
    } else {
        pen = peerPen;
        putCharacters(&byte, 1);
    }
}

void putEchoBytes(const unsigned char* bytes, std::size_t count) {
    pen = SENT_CELLS;
    applyBytes(bytes, count);
    pen = peerPen;
}

void setAnsiSequences(bool on) {
    ansiSequences = on;
    sequence = NO_SEQUENCE;
    graphics = PLAIN_GRAPHICS;
    peerPen = PLAIN_CELLS;
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

const CellColours* textRowColours(RowNumber row, CellColours* scratch, int columns) {
    const int ring = ringIndex(static_cast<int>(row - gridTop));
    if (ringColoured[ring]) return ringRowColours(ring);
    std::fill_n(scratch, columns, PLAIN_CELLS);
    return scratch;
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

const RowSource textRows = {firstTextRow,         textRowsEnd,           textRowCells, textRowColours,
                            gridTopRow,           textRowWrittenColumns, forgetWrittenTextRows};
