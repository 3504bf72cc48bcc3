// Fuzzes the character interpreter.
//
// Each input gets a fresh grid. Its first byte picks the cell width (and, with its
// top bit set, a small grid of 1 to 16 columns instead of the window's layout), its
// second the cell height (and the small grid's 1 to 8 rows). Then every byte goes to
// putTerminalChar sign-extended, as received bytes do. Besides, 0x11 switches
// auto-wrap on and 0x13 off, and 0xFE also sends the next four bytes as one raw
// 32-bit value. After every value the cursor must be inside the grid, and the
// control or character must have had its effect.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "session/settings.h"
#include "terminal/layout.h"
#include "terminal/screen.h"

namespace {

const int CLIENT_HEIGHT = 511;
const std::uint8_t WRAP_ON = 0x11;
const std::uint8_t WRAP_OFF = 0x13;
const std::uint8_t RAW_VALUE = 0xFE;

void fail(const char* what, int value) {
    std::fprintf(stderr, "interpreter: %s after value %d (cursor %d,%d grid %dx%d wrap %d)\n",
                 what, value, cursorRow, cursorCol, gridRows, gridColumns, autoWrap ? 1 : 0);
    std::abort();
}

unsigned char cell(int row, int col) {
    return terminalRow(row)[col];
}

bool rowBlank(int row) {
    for (int col = 0; col < gridColumns; col++)
        if (cell(row, col) != 32) return false;
    return true;
}

void setUpGrid(const std::uint8_t* data, std::size_t size) {
    std::uint8_t first = size > 0 ? data[0] : 0;
    std::uint8_t second = size > 1 ? data[1] : 0;
    setCellSize(1 + (first & 0x0F), 1 + (second & 0x1F));
    if (first & 0x80) {
        int columns = 1 + ((first >> 3) & 0x0F);
        int rows = 1 + (second >> 5);
        textRect = TextRect{0, 0, columns * cellWidth, rows * cellHeight};
    } else {
        layoutTextArea(CLIENT_HEIGHT);
    }
    autoWrap = false;
    createScreenGrid();
    if (!screenGridReady()) fail("no grid", 0);
    if (cursorRow != 0 || cursorCol != 0) fail("cursor not home after set-up", 0);
    for (int row = 0; row < gridRows; row++)
        if (!rowBlank(row)) fail("grid not blank after set-up", 0);
}

void put(int value) {
    const int row = cursorRow;
    const int col = cursorCol;
    const int lastRow = gridRows - 1;
    const int lastCol = gridColumns - 1;
    putTerminalChar(value);

    if (cursorRow < 0 || cursorRow >= gridRows || cursorCol < 0 || cursorCol >= gridColumns)
        fail("cursor outside the grid", value);

    switch (value) {
    case 8:
        if (cursorRow != row || cursorCol != (col > 0 ? col - 1 : 0)) fail("backspace", value);
        return;
    case 9:
        if (cursorCol % 8 != 0 && cursorCol != lastCol) fail("tab stopped short", value);
        return;
    case 10:
        if (cursorCol != col || cursorRow != (row < lastRow ? row + 1 : lastRow))
            fail("line feed", value);
        if (row == lastRow && !rowBlank(lastRow)) fail("scroll left the last row", value);
        return;
    case 12:
        if (cursorRow != 0 || cursorCol != 0) fail("form feed cursor", value);
        for (int r = 0; r < gridRows; r++)
            if (!rowBlank(r)) fail("form feed left a cell", value);
        return;
    case 13:
        if (cursorRow != row || cursorCol != 0) fail("carriage return", value);
        return;
    default:
        break;
    }

    // A character: stored at the old cursor, which then advances, wraps or stays.
    const unsigned char byte = static_cast<unsigned char>(value & 0xFF);
    int storedRow = row;
    int nextRow = row;
    int nextCol = col + 1;
    if (col == lastCol) {
        nextCol = autoWrap ? 0 : col;
        if (autoWrap && row < lastRow) nextRow = row + 1;
        if (autoWrap && row == lastRow) {
            storedRow = row - 1;  // scrolled up with the rest of the grid
            if (!rowBlank(lastRow)) fail("wrap scroll left the last row", value);
        }
    }
    if (storedRow >= 0 && cell(storedRow, col) != byte) fail("character not stored", value);
    if (cursorRow != nextRow || cursorCol != nextCol) fail("cursor after a character", value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    setUpGrid(data, size);
    for (std::size_t i = 0; i < size; i++) {
        const std::uint8_t b = data[i];
        put(static_cast<signed char>(b));
        if (b == WRAP_ON) autoWrap = true;
        if (b == WRAP_OFF) autoWrap = false;
        if (b == RAW_VALUE && i + 4 < size) {
            std::uint32_t raw = static_cast<std::uint32_t>(data[i + 1]) |
                                static_cast<std::uint32_t>(data[i + 2]) << 8 |
                                static_cast<std::uint32_t>(data[i + 3]) << 16 |
                                static_cast<std::uint32_t>(data[i + 4]) << 24;
            int value;
            std::memcpy(&value, &raw, sizeof value);
            put(value);
        }
    }
    return 0;
}
