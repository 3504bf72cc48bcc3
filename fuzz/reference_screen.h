// The terminal's interpreter as a plain model, one byte at a time, for the fuzz
// targets and the unit tests to hold the program's chunk path against. It keeps
// every row as it would be read: written for being obviously right, not fast.
#ifndef ORU_REFERENCE_SCREEN_H
#define ORU_REFERENCE_SCREEN_H

#include <cstddef>
#include <deque>
#include <vector>

typedef std::vector<unsigned char> ReferenceRow;

struct ReferenceScreen {
    int columns;
    int rows;
    int historyLimit;               // the most rows the history keeps
    std::vector<ReferenceRow> grid;  // rows top first
    std::deque<ReferenceRow> history;  // oldest first
    int row;
    int col;
};

// A blank grid of `columns` x `rows`, the cursor home, the history empty.
ReferenceScreen makeReferenceScreen(int columns, int rows, int historyLimit);
// One received byte, as the terminal takes it, auto-wrap as given.
void referencePut(ReferenceScreen& screen, unsigned char byte, bool autoWrap);

#endif
