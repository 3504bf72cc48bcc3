// The character grid, the history of the rows that left it, and the interpreter of
// the characters put on the grid.
#ifndef ORU_SCREEN_H
#define ORU_SCREEN_H

#include <cstddef>

#include "terminal/rows.h"

// Rows kept after they leave the top of the grid; the oldest is dropped first.
const int HISTORY_ROWS = 2000;

// Grid and history as one ring of HISTORY_ROWS + gridRows rows of gridColumns cells:
// a scroll turns the ring by one row and blanks the row that becomes the last one,
// so it copies no row and allocates nothing. Read rows through terminalRow.
extern unsigned char* screenBuffer;
extern int gridColumns;
extern int gridRows;
extern int cursorRow;
extern int cursorCol;
// Rows of history kept now, 0 to HISTORY_ROWS. It lasts as long as the grid.
extern int historyRows;

// How the grid buffers are obtained; tests replace it to make the allocation fail.
extern void* (*allocateGridBuffer)(std::size_t size);

const char NOT_ENOUGH_MEMORY_TEXT[] = "Not enough memory.";

// Sizes the grid from the text area and cell size, allocates and blanks it with an
// empty history, homes the cursor and sets the text origin. On an allocation
// failure it says so and leaves the grid missing.
void createScreenGrid();
// True when the grid buffers exist.
bool screenGridReady();
// Frees the buffers, each only if allocated.
void releaseScreenGrid();
// The gridColumns cells of a row: 0 to gridRows - 1 are the grid's rows, -1 to
// -historyRows the history's, -1 the newest. The grid must exist.
const unsigned char* terminalRow(int row);
// The colours of a cell of the grid (row 0 to gridRows - 1) or of the history (rows
// below 0, as terminalRow numbers them).
CellColours terminalCellColours(int row, int col);
// Received bytes for the terminal, in order: backspace, tab, line feed, form feed
// and carriage return move the cursor, blank the grid or expand; every other byte is
// stored under the cursor, which advances. With ansiSequences, ESC starts a sequence
// of the device's console (colours, cursor, erasing), which shows nothing and may go
// on in the next chunk. Only what can still be seen or kept is applied
// (chunk_pieces.h). The grid changes in memory; the view shows it.
void putTerminalBytes(const unsigned char* bytes, std::size_t count);
// What the person sent, echoed: the five controls act, every other byte is a
// character drawn in the colour of what was sent. No sequence is read in it, and a
// sequence of the peer's under way goes on after it.
void putEchoBytes(const unsigned char* bytes, std::size_t count);
// Whether the peer's sequences are read (the system menu's "Sequences ANSI"); off at
// every start. Switching starts afresh: no sequence under way, plain colours.
extern bool ansiSequences;
void setAnsiSequences(bool on);
// One value of the terminal-character message: a byte widened with its sign goes
// as a chunk of one; any other value stores its low byte as a character.
void putTerminalChar(int value);

// ---- the text rows as a source of rows (rows.h) --------------------------------------
// The grid's row 0 is row gridTopRow(); the history's rows are numbered below it.
// Every row written (a character, a tab's blanks, a form feed's blanks, the blank
// row a scroll brings) is marked until the view has taken it.
RowNumber gridTopRow();
extern const RowSource textRows;

#endif
