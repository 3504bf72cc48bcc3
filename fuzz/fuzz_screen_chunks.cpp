// Fuzzes the received-chunk path of the interpreter against the single-character one.
//
// The first byte picks the grid's columns (1 to 79), the second its rows (1 to 25)
// and, in its top bit, auto-wrap at the start. The rest is a series of chunks, each
// one a header byte and then up to 127 bytes: the header's low 7 bits are the
// chunk's length, its top bit switches auto-wrap before the chunk. Every chunk is
// applied once through putTerminalChar, one byte at a time and widened with its sign
// as received bytes were, and once through putTerminalBytes; after each chunk both
// must leave the same grid, history and cursor.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "session/settings.h"
#include "terminal/layout.h"
#include "terminal/screen.h"

namespace {

struct Chunk {
    const std::uint8_t* bytes;
    std::size_t count;
    bool switchWrap;
};

struct Snapshot {
    std::vector<unsigned char> cells;  // the history's rows, oldest first, then the grid's
    int historyRows;
    int row;
    int col;
};

void makeGrid(int columns, int rows) {
    setCellSize(10, 18);
    textRect = TextRect{10, 31, 10 + 10 * columns, 31 + 18 * rows};
    createScreenGrid();
    if (!screenGridReady()) std::abort();
}

Snapshot snapshot() {
    std::vector<unsigned char> cells;
    for (int row = -historyRows; row < gridRows; ++row) {
        cells.insert(cells.end(), terminalRow(row), terminalRow(row) + gridColumns);
    }
    return Snapshot{cells, historyRows, cursorRow, cursorCol};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int columns = 1 + data[0] % 79;
    const int rows = 1 + (data[1] & 0x7F) % 25;
    const bool wrapAtStart = (data[1] & 0x80) != 0;
    std::vector<Chunk> chunks;
    for (std::size_t at = 2; at < size;) {
        std::size_t count = data[at] & 0x7F;
        bool switchWrap = (data[at] & 0x80) != 0;
        at++;
        if (count > size - at) count = size - at;
        chunks.push_back(Chunk{data + at, count, switchWrap});
        at += count;
    }

    makeGrid(columns, rows);
    autoWrap = wrapAtStart;
    std::vector<Snapshot> expected;
    for (const Chunk& chunk : chunks) {
        if (chunk.switchWrap) autoWrap = !autoWrap;
        for (std::size_t i = 0; i < chunk.count; i++)
            putTerminalChar(static_cast<signed char>(chunk.bytes[i]));
        expected.push_back(snapshot());
    }

    makeGrid(columns, rows);
    autoWrap = wrapAtStart;
    for (std::size_t c = 0; c < chunks.size(); c++) {
        if (chunks[c].switchWrap) autoWrap = !autoWrap;
        putTerminalBytes(chunks[c].bytes, chunks[c].count);
        Snapshot got = snapshot();
        if (got.row != expected[c].row || got.col != expected[c].col ||
            got.historyRows != expected[c].historyRows || got.cells != expected[c].cells) {
            std::fprintf(stderr,
                         "chunk %zu of %zu on a %d x %d grid: cursor %d,%d, one at a time %d,%d; "
                         "cells %s\n",
                         c, chunks.size(), columns, rows, got.row, got.col, expected[c].row,
                         expected[c].col, got.cells == expected[c].cells ? "equal" : "differ");
            std::abort();
        }
    }
    releaseScreenGrid();
    return 0;
}
