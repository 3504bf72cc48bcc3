#include "terminal/chunk_pieces.h"

#include "terminal/byte_scan.h"

namespace {

const std::size_t TAB_STOP = 8;

// The walk back: the stretch walked now ends at segmentEnd (a form feed, or the
// chunk's end), and what of it lies behind the walk holds lineFeeds and tabs.
struct ChunkWalk {
    const ChunkGrid& grid;
    std::size_t count;
    std::size_t segmentEnd;
    std::size_t lineFeeds;
    std::size_t tabs;
    std::size_t scrollsAfter;  // at least this many scrolls follow segmentEnd
    int found;                 // pieces so far; -1 when there were too many to keep
    ChunkPiece* pieces;
};

void keepPiece(ChunkWalk& walk, std::size_t from, bool fromCarriageReturn) {
    if (walk.found < 0) return;
    if (walk.found == MOST_CHUNK_PIECES) {
        walk.found = -1;
        return;
    }
    walk.pieces[walk.found++] = ChunkPiece{from, walk.segmentEnd, fromCarriageReturn};
}

// Whether the stretch from `from` to segmentEnd can move the cursor past the last
// row, starting on `row` in `col`: each wrap takes the grid's columns of advance,
// and a tab advances at most 8.
bool stretchCanScroll(const ChunkWalk& walk, std::size_t from, int row, int col) {
    std::size_t advances = walk.lineFeeds;
    if (walk.grid.autoWrap) {
        std::size_t columns = static_cast<std::size_t>(col) + (walk.segmentEnd - from) +
                              (TAB_STOP - 1) * walk.tabs;
        advances += columns / static_cast<std::size_t>(walk.grid.columns);
    }
    return advances >= static_cast<std::size_t>(walk.grid.rows - row);
}

// Line feeds after a carriage return that push everything before it out of the
// history.
std::size_t enoughLineFeeds(const ChunkGrid& grid) {
    return static_cast<std::size_t>(grid.rows) + static_cast<std::size_t>(grid.historyRows);
}

// One control byte met on the walk back; true when the walk is over.
bool walkBackOver(ChunkWalk& walk, const unsigned char* bytes, std::size_t at) {
    switch (bytes[at]) {
    case 9:
        walk.tabs++;
        return false;
    case 10:
        walk.lineFeeds++;
        return false;
    case 13:
        if (walk.lineFeeds < enoughLineFeeds(walk.grid)) return false;
        keepPiece(walk, at, true);
        return true;
    case 12: {
        if (walk.segmentEnd == walk.count || stretchCanScroll(walk, at + 1, 0, 0)) {
            keepPiece(walk, at, false);
        }
        const std::size_t rowsBelow = static_cast<std::size_t>(walk.grid.rows - 1);
        if (walk.lineFeeds > rowsBelow) walk.scrollsAfter += walk.lineFeeds - rowsBelow;
        walk.segmentEnd = at;
        walk.lineFeeds = 0;
        walk.tabs = 0;
        return walk.scrollsAfter >= static_cast<std::size_t>(walk.grid.historyRows) || walk.found < 0;
    }
    default:  // a backspace
        return false;
    }
}

}  // namespace

int findChunkPieces(const unsigned char* bytes, std::size_t count, const ChunkGrid& grid,
                    ChunkPiece pieces[MOST_CHUNK_PIECES]) {
    ChunkWalk walk = {grid, count, count, 0, 0, 0, 0, pieces};
    const std::size_t lineFeedsEnough = enoughLineFeeds(grid);
    std::size_t at = count;
    using namespace byteScan;
    while (at >= BLOCK_BYTES) {
        at -= BLOCK_BYTES;
        const Block block = loadBlock(bytes + at);
        // Counted a block at a time, unless it holds a form feed, or a carriage return
        // that may have enough line feeds after it: those are met one byte at a time.
        // Without a branch on which bytes a block holds, which random bytes make
        // impossible to foresee.
        const std::size_t lineFeeds = walk.lineFeeds + markedBytes(bytesEqual(block, 10));
        if (bytesEqual(block, 12) == 0 &&
            (lineFeeds < lineFeedsEnough || bytesEqual(block, 13) == 0)) {
            walk.lineFeeds = lineFeeds;
            if (grid.autoWrap) walk.tabs += markedBytes(bytesEqual(block, 9));  // only wraps need them
            continue;
        }
        for (Marks controls = controlBytes(block); controls != 0;) {  // the last first
            const std::size_t k = highestMarkedByte(controls);
            if (walkBackOver(walk, bytes, at + k)) return walk.found;
            controls = withoutByte(controls, k);
        }
    }
    while (at-- > 0) {
        if (isControlByte(bytes[at]) && walkBackOver(walk, bytes, at)) return walk.found;
    }
    // The stretch before the first form feed starts where the cursor is.
    if (walk.segmentEnd == count || stretchCanScroll(walk, 0, grid.cursorRow, grid.cursorCol)) {
        keepPiece(walk, 0, false);
    }
    return walk.found;
}

