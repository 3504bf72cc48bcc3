// Fuzzes the interpreter, which takes received bytes a chunk at a time and skips
// what can no longer be seen, against the plain model that takes them one at a time.
//
// The first byte picks the grid's columns (1 to 79), the second its rows (1 to 25)
// and, in its top bit, auto-wrap at the start. The rest is a series of chunks, each
// one a header byte and then up to 63 bytes: the header's low 6 bits are the
// chunk's length. With the header's bit 6 set, a count byte follows the header and
// the chunk is its bytes repeated 16 times (count + 1): a few bytes make a chunk of
// thousands of rows, more than the grid and the history keep, so that what the chunk
// path skips is checked too. With its top bit set, a switch byte follows (before any
// count byte): its bit 0 switches auto-wrap, bit 1 the reading of the device's
// sequences, and bit 2 makes the chunk an echo of what the person sent. Every chunk
// goes to the model byte by byte and to the program whole; after each chunk both must
// leave the same grid, history, colours and cursor.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "reference_screen.h"
#include "session/settings.h"
#include "terminal/layout.h"
#include "terminal/screen.h"

namespace {

const std::size_t MOST_BYTES = 64 * 1024;
// Chunks this long or longer are compared with their history; shorter ones with the
// grid, the cursor and the number of history rows, and the last chunk with all.
const std::size_t LONG_CHUNK = 64;

struct Chunk {
    std::vector<std::uint8_t> bytes;
    bool switchWrap;
    bool switchSequences;
    bool echo;
};

struct Snapshot {
    std::vector<unsigned char> cells;  // the history's rows, oldest first (when taken), then the grid's
    std::vector<unsigned char> colours;  // each cell's text and background
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

Snapshot snapshot(bool withHistory) {
    Snapshot s = {{}, {}, historyRows, cursorRow, cursorCol};
    for (int row = withHistory ? -historyRows : 0; row < gridRows; ++row) {
        s.cells.insert(s.cells.end(), terminalRow(row), terminalRow(row) + gridColumns);
        for (int col = 0; col < gridColumns; ++col) {
            const CellColours colours = terminalCellColours(row, col);
            s.colours.push_back(colours.text);
            s.colours.push_back(colours.back);
        }
    }
    return s;
}

void addRow(Snapshot& s, const ReferenceRow& row) {
    for (const ReferenceCell& cell : row) {
        s.cells.push_back(cell.character);
        s.colours.push_back(cell.colours.text);
        s.colours.push_back(cell.colours.back);
    }
}

Snapshot modelSnapshot(const ReferenceScreen& model, bool withHistory) {
    Snapshot s = {{}, {}, static_cast<int>(model.history.size()), model.row, model.col};
    if (withHistory) {
        for (const ReferenceRow& row : model.history) addRow(s, row);
    }
    for (const ReferenceRow& row : model.grid) addRow(s, row);
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int columns = 1 + data[0] % 79;
    const int rows = 1 + (data[1] & 0x7F) % 25;
    const bool wrapAtStart = (data[1] & 0x80) != 0;
    std::vector<Chunk> chunks;
    std::size_t total = 0;  // at most MOST_BYTES in all, so that one input runs quickly
    for (std::size_t at = 2; at < size;) {
        const std::uint8_t header = data[at++];
        const std::uint8_t switches = (header & 0x80) != 0 && at < size ? data[at++] : 0;
        std::size_t repeats = 1;
        if ((header & 0x40) != 0 && at < size) repeats = 16 * (static_cast<std::size_t>(data[at++]) + 1);
        std::size_t count = header & 0x3F;
        if (count > size - at) count = size - at;
        if (total + count * repeats > MOST_BYTES) repeats = 1;
        total += count * repeats;
        Chunk chunk = {{}, (switches & 1) != 0, (switches & 2) != 0, (switches & 4) != 0};
        for (std::size_t r = 0; r < repeats; r++) chunk.bytes.insert(chunk.bytes.end(), data + at, data + at + count);
        chunks.push_back(chunk);
        at += count;
    }

    makeGrid(columns, rows);
    setAnsiSequences(false);
    ReferenceScreen model = makeReferenceScreen(columns, rows, HISTORY_ROWS);
    autoWrap = wrapAtStart;
    for (std::size_t c = 0; c < chunks.size(); c++) {
        const Chunk& chunk = chunks[c];
        if (chunk.switchWrap) autoWrap = !autoWrap;
        if (chunk.switchSequences) {
            setAnsiSequences(!ansiSequences);
            referenceReadSequences(model, ansiSequences);
        }
        for (std::uint8_t byte : chunk.bytes) {
            if (chunk.echo) referenceEcho(model, byte, autoWrap);
            else referencePut(model, byte, autoWrap);
        }
        if (chunk.echo) putEchoBytes(chunk.bytes.data(), chunk.bytes.size());
        else putTerminalBytes(chunk.bytes.data(), chunk.bytes.size());
        const bool withHistory = chunk.bytes.size() >= LONG_CHUNK || c + 1 == chunks.size();
        const Snapshot expected = modelSnapshot(model, withHistory);
        const Snapshot got = snapshot(withHistory);
        if (got.row != expected.row || got.col != expected.col || got.historyRows != expected.historyRows ||
            got.cells != expected.cells || got.colours != expected.colours) {
            std::fprintf(stderr,
                         "chunk %zu of %zu on a %d x %d grid, sequences %d: cursor %d,%d, one at a time "
                         "%d,%d; cells %s, colours %s\n",
                         c, chunks.size(), columns, rows, ansiSequences ? 1 : 0, got.row, got.col, expected.row,
                         expected.col, got.cells == expected.cells ? "equal" : "differ",
                         got.colours == expected.colours ? "equal" : "differ");
            std::abort();
        }
    }
    setAnsiSequences(false);
    releaseScreenGrid();
    return 0;
}
