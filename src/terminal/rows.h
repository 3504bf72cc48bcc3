// Rows as the window shows them, whichever store keeps them: the text rows (the grid
// and its history, screen.h) or the octet rows (the bytes kept as they came,
// received_bytes.h). Each store is a source of rows behind the small interface
// below; the view (history_view.h) asks the source it shows, once a frame, what
// changed, and the stores call nothing of it.
#ifndef ORU_ROWS_H
#define ORU_ROWS_H

#include <cstdint>

#include "platform.h"

// Rows are numbered from the first one a store ever made, so a row keeps its
// number for as long as it is kept.
typedef std::int64_t RowNumber;

// The blank cell.
const unsigned char BLANK = 32;

// ---- a row as shown --------------------------------------------------------------
// A cell holding 0 reads as a blank, and the blanks that end a row are not part of
// it: selecting, copying and finding all take a row so.
inline unsigned char cellAsShown(unsigned char cell) {
    return cell == 0 ? BLANK : cell;
}
inline bool isBlankCell(unsigned char cell) {
    return cellAsShown(cell) == BLANK;
}
// The cells of a row of `columns` cells that are part of it: up to its last cell
// that is not blank.
inline int shownRowLength(const unsigned char* cells, int columns) {
    while (columns > 0 && isBlankCell(cells[columns - 1])) columns--;
    return columns;
}

// ---- a source of rows ------------------------------------------------------------
// What changed since the view last asked is told by the numbers: rows appended move
// the end, the oldest dropped move the first row kept; the text rows' grid moves up
// one row for each row appended. Rows written since are told row by row, until the
// view says it has drawn them.
struct RowSource {
    // The first row kept, and the row after the newest.
    RowNumber (*firstRow)();
    RowNumber (*rowsEnd)();
    // A kept row's cells, `columns` of them: the store's own, or written into
    // `scratch` (room for `columns` cells); valid until the store changes.
    const unsigned char* (*rowCells)(RowNumber row, unsigned char* scratch, int columns);
    // The colours of a kept row's cells when not selected, `columns` of them: the
    // store's own, or written into `scratch`; valid until the store changes.
    const CellColours* (*rowColours)(RowNumber row, CellColours* scratch, int columns);
    // The first row that can still be written: the text rows' grid; the end for
    // rows that are never written again. When rows are appended, these move up.
    RowNumber (*firstWritableRow)();
    // The columns of a kept row written since forgetWrittenRows; false for none.
    bool (*writtenColumns)(RowNumber row, int* from, int* to);
    // The view has taken every row written so far.
    void (*forgetWrittenRows)();
};

#endif
