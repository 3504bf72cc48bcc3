// The character grid and the interpreter of the characters put on it.
#ifndef ORU_SCREEN_H
#define ORU_SCREEN_H

#include <cstddef>

extern unsigned char* screenBuffer;  // gridRows x gridColumns cells, row-major
extern unsigned char* scrollBuffer;  // scratch space of scrollScreenUp
extern int gridColumns;
extern int gridRows;
extern int cursorRow;
extern int cursorCol;

// How the grid buffers are obtained; tests replace it to make the allocation fail.
extern void* (*allocateGridBuffer)(std::size_t size);

const char NOT_ENOUGH_MEMORY_TEXT[] = "Not enough memory.";

// Sizes the grid from the text area and cell size, allocates and blanks it, homes
// the cursor and sets the text origin. On an allocation failure it says so and
// leaves the grid missing.
void createScreenGrid();
// True when both grid buffers exist.
bool screenGridReady();
// Frees both buffers, each only if allocated.
void releaseScreenGrid();
// One character for the terminal: a control or a byte to store and draw.
void putTerminalChar(int value);
// Received bytes for the terminal, with the result of handing each one, widened
// with its sign, to putTerminalChar; the screen is brought up to date once, at the
// end, with the caret hidden meanwhile.
void putTerminalBytes(const unsigned char* bytes, std::size_t count);
// Moves the grid up one row; the last row becomes blank.
void scrollScreenUp();

#endif
