// What of a received chunk can still be seen or kept once the whole chunk is in.
//
// The cursor never moves up but through a form feed, which blanks the grid and
// leaves the history, and the rows below the cursor are always blank. So once
// enough rows follow, what came before them no longer shows in the grid, the
// history or the cursor:
// - from a carriage return followed by gridRows + HISTORY_ROWS line feeds and no
//   form feed, everything before it has left the history by the chunk's end.
//   Applied from there with the cursor on the last row, it leaves what the whole
//   chunk leaves: the rows the cursor then visits are blank ones, whichever row it
//   starts on, and the rows it leaves behind are all pushed out of the history.
// - a stretch between two form feeds (or from the chunk's start to its first one)
//   in which the cursor cannot move past the last row sends nothing to the
//   history, and the form feed after it blanks what it wrote.
// - once the rows scrolled after a form feed fill the history, nothing before the
//   form feed is left.
#ifndef ORU_CHUNK_PIECES_H
#define ORU_CHUNK_PIECES_H

#include <cstddef>

// A piece of a chunk that counts: bytes `from` to `to` (not included), applied as
// received, after moving the cursor to the last row when `fromCarriageReturn`.
struct ChunkPiece {
    std::size_t from;
    std::size_t to;
    bool fromCarriageReturn;
};

const int MOST_CHUNK_PIECES = 64;

// The grid the chunk goes to, as it is when the chunk comes.
struct ChunkGrid {
    int rows;
    int columns;
    int historyRows;  // the most rows the history keeps
    int cursorRow;
    int cursorCol;
    bool autoWrap;
};

// Finds the pieces of a chunk that count for `grid` by a walk back from its end;
// puts them in `pieces`, last first, and returns how many. -1 when there are more
// than MOST_CHUNK_PIECES: the whole chunk is applied.
int findChunkPieces(const unsigned char* bytes, std::size_t count, const ChunkGrid& grid,
                    ChunkPiece pieces[MOST_CHUNK_PIECES]);

#endif
