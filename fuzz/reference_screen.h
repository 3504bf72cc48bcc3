// The terminal's interpreter as a plain model, one byte at a time, for the fuzz
// targets and the unit tests to hold the program's chunk path against. It keeps
// every row as it would be read: written for being obviously right, not fast. It
// reads sequences with the program's reader (terminal/sequences.h) and does what
// they say on its own.
#ifndef ORU_REFERENCE_SCREEN_H
#define ORU_REFERENCE_SCREEN_H

#include <cstddef>
#include <deque>
#include <vector>

#include "platform.h"
#include "terminal/sequences.h"

struct ReferenceCell {
    unsigned char character;
    CellColours colours;
};
typedef std::vector<ReferenceCell> ReferenceRow;

struct ReferenceScreen {
    int columns;
    int rows;
    int historyLimit;                  // the most rows the history keeps
    std::vector<ReferenceRow> grid;    // rows top first
    std::deque<ReferenceRow> history;  // oldest first
    int row;
    int col;
    bool ansi;  // the device's sequences are read
    Sequence sequence;
    int text;  // 0 to 15, or -1 for the default
    bool textIsBasic;  // one of 30 to 37, which bright turns bright
    int back;  // 0 to 15, or -1
    bool bright;
    bool inverse;
    int savedRow;
    int savedCol;
};

// A blank grid of `columns` x `rows`, the cursor home, the history empty, no
// sequences read.
ReferenceScreen makeReferenceScreen(int columns, int rows, int historyLimit);
// One received byte, as the terminal takes it, auto-wrap as given.
void referencePut(ReferenceScreen& screen, unsigned char byte, bool autoWrap);
// One byte of what the person sent, echoed.
void referenceEcho(ReferenceScreen& screen, unsigned char byte, bool autoWrap);
// The device's sequences read from now on, or not; either way from a plain start.
void referenceReadSequences(ReferenceScreen& screen, bool on);

#endif
