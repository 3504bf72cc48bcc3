#include "reference_screen.h"

#include "terminal/colours.h"

namespace {

const unsigned char BLANK_CELL = 32;

ReferenceCell blankCell() {
    return ReferenceCell{BLANK_CELL, PLAIN_CELLS};
}

ReferenceRow blankRow(const ReferenceScreen& screen) {
    return ReferenceRow(static_cast<std::size_t>(screen.columns), blankCell());
}

void resetGraphics(ReferenceScreen& screen) {
    screen.text = -1;
    screen.textIsBasic = false;
    screen.back = -1;
    screen.bright = false;
    screen.inverse = false;
}

// The colours a received character takes now.
CellColours peerColours(const ReferenceScreen& screen) {
    if (!screen.ansi) return PLAIN_CELLS;
    int text = screen.text < 0 ? DEFAULT_TEXT : screen.text;
    if (screen.textIsBasic && screen.bright) text += 8;
    const int back = screen.back < 0 ? DEFAULT_BACK : screen.back;
    CellColours colours = {static_cast<unsigned char>(text), static_cast<unsigned char>(back)};
    if (screen.inverse) colours = CellColours{colours.back, colours.text};
    return colours;
}

ReferenceCell& cellAt(ReferenceScreen& screen, int row, int col) {
    return screen.grid[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
}

void scrollUp(ReferenceScreen& screen) {
    screen.history.push_back(screen.grid.front());
    if (static_cast<int>(screen.history.size()) > screen.historyLimit) screen.history.pop_front();
    screen.grid.erase(screen.grid.begin());
    screen.grid.push_back(blankRow(screen));
}

void lineFeed(ReferenceScreen& screen) {
    if (screen.row < screen.rows - 1) screen.row++;
    else scrollUp(screen);
}

void putCharacter(ReferenceScreen& screen, unsigned char byte, CellColours colours, bool autoWrap) {
    cellAt(screen, screen.row, screen.col) = ReferenceCell{byte, colours};
    if (screen.col < screen.columns - 1) {
        screen.col++;
    } else if (autoWrap) {
        screen.col = 0;
        lineFeed(screen);
    }
}

// The description's controls, and every other byte a character in `colours`.
void putByte(ReferenceScreen& screen, unsigned char byte, CellColours colours, bool autoWrap) {
    switch (byte) {
    case 8:
        if (screen.col > 0) screen.col--;
        break;
    case 9:
        // One blank at a time, then the test for a stop; in the last column without
        // auto-wrap the cursor stays, and the tab ends there.
        do {
            const bool inLastColumn = screen.col == screen.columns - 1;
            putCharacter(screen, BLANK_CELL, colours, autoWrap);
            if (inLastColumn && !autoWrap) break;
        } while (screen.col % 8 != 0);
        break;
    case 10:
        lineFeed(screen);
        break;
    case 12:
        screen.grid.assign(static_cast<std::size_t>(screen.rows), blankRow(screen));
        screen.row = 0;
        screen.col = 0;
        break;
    case 13:
        screen.col = 0;
        break;
    default:
        putCharacter(screen, byte, colours, autoWrap);
        break;
    }
}

int parameter(const ReferenceScreen& screen, int index) {
    const Sequence& s = screen.sequence;
    return index < s.parameterCount && index < MOST_SEQUENCE_PARAMETERS ? s.parameters[index] : 0;
}

int atLeastOne(int value) {
    return value == 0 ? 1 : value;
}

void moveTo(ReferenceScreen& screen, int row, int col) {
    screen.row = row < 0 ? 0 : row >= screen.rows ? screen.rows - 1 : row;
    screen.col = col < 0 ? 0 : col >= screen.columns ? screen.columns - 1 : col;
}

void erase(ReferenceScreen& screen, int row, int from, int to) {
    for (int col = from; col <= to; ++col) cellAt(screen, row, col) = blankCell();
}

// A colour of 38 or 48 from the parameters after `at`; false when they are missing.
bool extendedColour(const ReferenceScreen& screen, int& at, int& colour) {
    const int count = screen.sequence.parameterCount;
    const int kind = parameter(screen, at + 1);
    if (kind == 5 && at + 2 < count) {
        const int n = parameter(screen, at + 2);
        colour = ansiColourOf256(n > 255 ? 255 : n);
        at += 2;
        return true;
    }
    if (kind == 2 && at + 4 < count) {
        int rgb[3];
        for (int i = 0; i < 3; ++i) rgb[i] = parameter(screen, at + 2 + i) > 255 ? 255 : parameter(screen, at + 2 + i);
        colour = nearestAnsiColour(rgb[0], rgb[1], rgb[2]);
        at += 4;
        return true;
    }
    return false;
}

void graphics(ReferenceScreen& screen) {
    int count = screen.sequence.parameterCount;
    if (count == 0) count = 1;
    if (count > MOST_SEQUENCE_PARAMETERS) count = MOST_SEQUENCE_PARAMETERS;
    for (int at = 0; at < count; ++at) {
        const int p = parameter(screen, at);
        if (p == 0) {
            resetGraphics(screen);
        } else if (p == 1 || p == 22) {
            screen.bright = p == 1;
        } else if (p == 7 || p == 27) {
            screen.inverse = p == 7;
        } else if ((p >= 30 && p <= 37) || (p >= 90 && p <= 97) || p == 39) {
            screen.text = p == 39 ? -1 : p >= 90 ? p - 90 + 8 : p - 30;
            screen.textIsBasic = p <= 37;
        } else if ((p >= 40 && p <= 47) || (p >= 100 && p <= 107) || p == 49) {
            screen.back = p == 49 ? -1 : p >= 100 ? p - 100 + 8 : p - 40;
        } else if (p == 38 || p == 48) {
            int colour = 0;
            if (!extendedColour(screen, at, colour)) return;
            if (p == 38) {
                screen.text = colour;
                screen.textIsBasic = false;
            } else {
                screen.back = colour;
            }
        }
    }
}

void act(ReferenceScreen& screen, int final) {
    const int n = atLeastOne(parameter(screen, 0));
    switch (final) {
    case 'm': graphics(screen); break;
    case 'A': moveTo(screen, screen.row - n, screen.col); break;
    case 'B': moveTo(screen, screen.row + n, screen.col); break;
    case 'C': moveTo(screen, screen.row, screen.col + n); break;
    case 'D': moveTo(screen, screen.row, screen.col - n); break;
    case 'H':
    case 'f': moveTo(screen, n - 1, atLeastOne(parameter(screen, 1)) - 1); break;
    case 'J':
        for (int row = 0; row < screen.rows; ++row) {
            const bool above = row < screen.row;
            const bool below = row > screen.row;
            switch (parameter(screen, 0)) {
            case 0:
                if (below) erase(screen, row, 0, screen.columns - 1);
                if (row == screen.row) erase(screen, row, screen.col, screen.columns - 1);
                break;
            case 1:
                if (above) erase(screen, row, 0, screen.columns - 1);
                if (row == screen.row) erase(screen, row, 0, screen.col);
                break;
            case 2: erase(screen, row, 0, screen.columns - 1); break;
            default: break;
            }
        }
        break;
    case 'K':
        switch (parameter(screen, 0)) {
        case 0: erase(screen, screen.row, screen.col, screen.columns - 1); break;
        case 1: erase(screen, screen.row, 0, screen.col); break;
        case 2: erase(screen, screen.row, 0, screen.columns - 1); break;
        default: break;
        }
        break;
    case '7':
        screen.savedRow = screen.row;
        screen.savedCol = screen.col;
        break;
    case '8': moveTo(screen, screen.savedRow, screen.savedCol); break;
    default: break;
    }
}

}  // namespace

ReferenceScreen makeReferenceScreen(int columns, int rows, int historyLimit) {
    ReferenceScreen screen = {columns, rows, historyLimit, {}, {}, 0, 0, false, NO_SEQUENCE,
                              -1,      false, -1,         false, false, 0, 0};
    screen.grid.assign(static_cast<std::size_t>(rows), blankRow(screen));
    return screen;
}

void referencePut(ReferenceScreen& screen, unsigned char byte, bool autoWrap) {
    if (screen.ansi && screen.sequence.state != SEQUENCE_NONE) {
        const int step = takeSequenceByte(screen.sequence, byte);
        if (step > 0) act(screen, step);
        if (step != SEQUENCE_REFUSED) return;
    }
    if (screen.ansi && byte == ESCAPE) {
        startSequence(screen.sequence);
        return;
    }
    putByte(screen, byte, peerColours(screen), autoWrap);
}

void referenceEcho(ReferenceScreen& screen, unsigned char byte, bool autoWrap) {
    putByte(screen, byte, SENT_CELLS, autoWrap);
}

void referenceReadSequences(ReferenceScreen& screen, bool on) {
    screen.ansi = on;
    screen.sequence = NO_SEQUENCE;
    resetGraphics(screen);
}
