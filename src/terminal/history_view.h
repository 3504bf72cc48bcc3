// What the window shows: 25 rows of one source of rows (rows.h), the text rows
// (the grid and its history, screen.h) or the octet rows (the received bytes as
// they came, received_bytes.h); the cells the person selects there; the place a
// search goes on from; and the frames that bring the window up to date.
//
// Only this module knows which source is shown. The stores change without telling
// it; the link tells it that they did (showChangesWithinAFrame), and at its next
// frame it asks the source shown what changed, moves its place, selection and
// search place, and draws. Rows and positions are row numbers (rows.h).
#ifndef ORU_HISTORY_VIEW_H
#define ORU_HISTORY_VIEW_H

#include <string>

#include "terminal/rows.h"

// True while cells are selected.
bool selectionIsShown();
// The octet rows are shown instead of the text rows.
bool octetViewIsShown();
// The view shows the newest rows of the source shown, and goes on showing them as
// rows come; false while it stays at rows further back.
bool viewFollowsNewestRows();

// ---- the rows shown ----------------------------------------------------------------
// The source's first row kept, the row after its newest, and where its newest page
// begins: its newest gridRows rows, or all of them while there are fewer.
RowNumber firstShownRow();
RowNumber shownRowsEnd();
RowNumber shownPageTop();
// The row at the top of the view.
RowNumber viewTopRow();
// Rows the view is back from the newest page, 0 to shownHistoryRows(); 0 while it
// follows the newest rows.
int viewOffset();
// Rows of the source shown above its newest page.
int shownHistoryRows();
// A row's gridColumns cells as shown (blanks outside the rows kept), valid until the
// next call.
const unsigned char* shownRowCells(RowNumber row);
// Shows the other source of rows as it was left, at its place among its rows; the
// selection ends, and the caret hides while the octet rows are shown.
void toggleOctetView();
// The system menu's "Sequences ANSI": the peer's sequences are read from now on, or
// no longer; what the rows hold stays as it is.
void toggleAnsiSequences();

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
// clipboard, and a search goes on from it. Without a drag nothing is selected.
void releaseSelection(int viewRow, int col);
// The run of non-blank cells under a double-click is selected and copied, and a
// search goes on from it.
void selectWordAt(int viewRow, int col);
void clearSelection();
// The selected cells, each row as shown (rows.h), rows joined by CR LF.
std::string selectionText();
// The selected columns of a row, when it holds any.
bool selectedColumns(RowNumber row, int* from, int* to);
// A match found: the columns from..to of `row` are selected (the clipboard is left
// as it is), a search goes on from it, and the view moves the least that shows the
// row: a row above the view becomes its top row, one below its bottom row.
void selectMatch(RowNumber row, int from, int to);
// Where a search in the source shown goes on from: the match found last or the
// selection the person made last, whichever came later, while its row is kept.
// Rows coming and going leave it where it is.
bool searchPlace(RowNumber* row, int* col);

// ---- the frames ------------------------------------------------------------------
// The stores changed (bytes came, a connection began or ended): the window catches
// up at once when a display frame has passed since it last did, else at the next
// frame, which the platform's timer brings.
const int FRAME_MILLISECONDS = 16;
void showChangesWithinAFrame();
// The stores changed and the window shows it at once (a character of the
// terminal-character message).
void showChangesNow();
// A frame has come: what is owed is drawn; after a while with nothing owed, the
// frames stop until changes ask for them again.
void onScreenDrawingDue();
// Whether the window lags what it should show.
bool screenDrawingOwed();
// Brings the window up to date: rows still shown move up with their pixels, and
// only the rows that came into view or were written are drawn.
void bringScreenUpToDate();
// Draws every row of the view (a paint), which brings it up to date.
void drawWholeView();
// Places the caret at the cursor's cell as the view shows it, hidden while that
// row is out of view.
void placeCaretAtCursor();
// The cursor's row is out of the view: the caret is hidden meanwhile.
bool caretRowOutOfView();
// As at start-up: both sources shown from their newest rows, the text rows shown,
// nothing selected, no search place, nothing owed.
void resetHistoryView();

#endif
