#include "terminal/chunk_pieces.h"

#include <cstdint>
#include <cstring>

#include "session/settings.h"
#include "terminal/byte_scan.h"
#include "terminal/screen.h"

namespace {

const std::size_t TAB_STOP = 8;

// The walk back: the stretch walked now ends at segmentEnd (a form feed, or the
// chunk's end), and what of it lies behind the walk holds lineFeeds and tabs.
struct ChunkWalk {
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
// row, starting on `row` in `col`: each wrap takes gridColumns columns of advance,
// and a tab advances at most 8.
bool stretchCanScroll(const ChunkWalk& walk, std::size_t from, int row, int col) {
    std::size_t advances = walk.lineFeeds;
    if (autoWrap) {
        std::size_t columns = static_cast<std::size_t>(col) + (walk.segmentEnd - from) +
                              (TAB_STOP - 1) * walk.tabs;
        advances += columns / static_cast<std::size_t>(gridColumns);
    }
    return advances >= static_cast<std::size_t>(gridRows - row);
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
        if (walk.lineFeeds < static_cast<std::size_t>(gridRows) + HISTORY_ROWS) return false;
        keepPiece(walk, at, true);
        return true;
    case 12: {
        if (walk.segmentEnd == walk.count || stretchCanScroll(walk, at + 1, 0, 0)) {
            keepPiece(walk, at, false);
        }
        const std::size_t rowsBelow = static_cast<std::size_t>(gridRows - 1);
        if (walk.lineFeeds > rowsBelow) walk.scrollsAfter += walk.lineFeeds - rowsBelow;
        walk.segmentEnd = at;
        walk.lineFeeds = 0;
        walk.tabs = 0;
        return walk.scrollsAfter >= HISTORY_ROWS || walk.found < 0;
    }
    default:  // a backspace
        return false;
    }
}

}  // namespace

int findChunkPieces(const unsigned char* bytes, std::size_t count,
                    ChunkPiece pieces[MOST_CHUNK_PIECES]) {
    ChunkWalk walk = {count, count, 0, 0, 0, 0, pieces};
    const std::size_t enoughLineFeeds = static_cast<std::size_t>(gridRows) + HISTORY_ROWS;
    std::size_t at = count;
    while (at >= sizeof(std::uint64_t)) {
        std::uint64_t word;
        std::memcpy(&word, bytes + at - sizeof word, sizeof word);
        at -= sizeof word;
        // Counted a word at a time, unless it holds a form feed, or a carriage return
        // that may have enough line feeds after it: those are met one byte at a time.
        // Without a branch on which bytes a word holds, which random bytes make
        // impossible to foresee.
        const std::size_t lineFeeds = walk.lineFeeds + markedBytes(bytesEqual(word, 10));
        if (bytesEqual(word, 12) == 0 &&
            (lineFeeds < enoughLineFeeds || bytesEqual(word, 13) == 0)) {
            walk.lineFeeds = lineFeeds;
            if (autoWrap) walk.tabs += markedBytes(bytesEqual(word, 9));  // only wraps need them
            continue;
        }
        for (std::size_t k = sizeof word; k-- > 0;) {
            if (isControlByte(bytes[at + k]) && walkBackOver(walk, bytes, at + k)) return walk.found;
        }
    }
    while (at-- > 0) {
        if (isControlByte(bytes[at]) && walkBackOver(walk, bytes, at)) return walk.found;
    }
    // The stretch before the first form feed starts where the cursor is.
    if (walk.segmentEnd == count || stretchCanScroll(walk, 0, cursorRow, cursorCol)) {
        keepPiece(walk, 0, false);
    }
    return walk.found;
}

