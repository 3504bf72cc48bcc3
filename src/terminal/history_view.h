// What the window shows, and the cells the person selects there. The view shows one
// of two sources of rows: the text rows (the grid and its history) or the octet rows
// (the received bytes as they came, received_bytes.h).
//
// Rows are named as terminalRow names them: 0 to gridRows - 1 the newest page (the
// grid), -1 and below the rows above it, back to -shownHistoryRows(). The view shows
// gridRows rows; view row v shows row v - viewOffset, so the newest page is shown
// while viewOffset is 0.
#ifndef ORU_HISTORY_VIEW_H
#define ORU_HISTORY_VIEW_H

#include <string>

// Rows the view is back in the history, 0 to shownHistoryRows().
extern int viewOffset;
// True while cells are selected; read on the interpreter's way.
extern bool selectionShown;
// The octet rows are shown instead of the text rows.
extern bool octetViewShown;

// ---- the rows shown ----------------------------------------------------------------
// Rows of the source shown above its newest page.
int shownHistoryRows();
// The gridColumns cells of a row of the source shown, valid until the next call.
const unsigned char* shownRow(int row);
// Shows the other source of rows as it was left, at its place among its rows; the
// selection ends, and the caret hides while the octet rows are shown.
void toggleOctetView();

// ---- looking back ----------------------------------------------------------------
// A page: the rows shown less one, so that one row stays in sight.
int pageRows();
// Moves the view back into the history by `rows` (forward toward the live grid when
// negative), as far as there is history.
void scrollViewBack(int rows);
void showOldestRows();
void showLiveRows();

// ---- selecting -------------------------------------------------------------------
// The left button went down on a cell of the view: what was selected is cleared
// and a drag may begin there.
void pressSelection(int viewRow, int col);
// The mouse moved to a cell with the button down: the cells from the pressed one to
// this one, in reading order, are selected.
void dragSelection(int viewRow, int col);
// The button came up over a cell: the selection ends there and is copied to the
// clipboard. Without a drag nothing is selected.
void releaseSelection(int viewRow, int col);
// The run of non-blank cells under a double-click is selected and copied.
void selectWordAt(int viewRow, int col);
void clearSelection();
// The selected cells, row by row as shown, without the blanks that end each row,
// rows joined by CR LF; a cell holding 0 reads as a blank.
std::string selectionText();
// The selected columns of a row, when it holds any.
bool selectedColumns(int row, int* from, int* to);
// A match found: the columns from..to of `row` are selected (the clipboard is left
// as it is) and the view moves the least that shows the row: a row above the view
// becomes its top row, one below its bottom row.
void selectMatch(int row, int from, int to);
// Where the match selected last begins, while it is still the selection.
bool currentMatch(int* row, int* col);

// ---- told by the interpreter -----------------------------------------------------
// A new grid: the view is live, nothing is selected.
void resetHistoryView();
// The grid moved up `count` rows into the history: a view that is back keeps its
// rows while they are kept; a selection on the grid's rows ends. Returns how many
// rows the view's rows moved up with the grid.
int noteRowsScrolled(int count);
// Cells of a grid row were written.
void clearSelectionOnRow(int row);
inline void noteRowWritten(int row) {
    if (selectionShown && !octetViewShown) clearSelectionOnRow(row);
}
// Every cell of the grid became blank.
void noteGridBlanked();

// ---- told by the received bytes ----------------------------------------------------
// Octet rows came, and the oldest may have gone: a view that is back keeps its rows.
void noteOctetRowsChanged();

// ---- drawing ---------------------------------------------------------------------
// Draws the columns from..to of one view row, selected cells inverted.
void drawViewRow(int viewRow, int from, int to);
// Draws every row of the view (a paint).
void drawWholeView();
// Places the caret at the cursor's cell as the view shows it, hidden while that
// row is out of view.
void placeCaretAtCursor();
// The cursor's row is out of the view: the caret is hidden meanwhile.
bool caretRowOutOfView();

#endif
