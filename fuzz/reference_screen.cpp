#include "reference_screen.h"

namespace {

const unsigned char BLANK_CELL = 32;

ReferenceRow blankRow(const ReferenceScreen& screen) {
    return ReferenceRow(static_cast<std::size_t>(screen.columns), BLANK_CELL);
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

void putCharacter(ReferenceScreen& screen, unsigned char byte, bool autoWrap) {
    screen.grid[static_cast<std::size_t>(screen.row)][static_cast<std::size_t>(screen.col)] = byte;
    if (screen.col < screen.columns - 1) {
        screen.col++;
    } else if (autoWrap) {
        screen.col = 0;
        lineFeed(screen);
    }
}

}  // namespace

ReferenceScreen makeReferenceScreen(int columns, int rows, int historyLimit) {
    ReferenceScreen screen = {columns, rows, historyLimit, {}, {}, 0, 0};
    screen.grid.assign(static_cast<std::size_t>(rows), blankRow(screen));
    return screen;
}

void referencePut(ReferenceScreen& screen, unsigned char byte, bool autoWrap) {
    switch (byte) {
    case 8:
        if (screen.col > 0) screen.col--;
        break;
    case 9:
        // One blank at a time, then the test for a stop; in the last column without
        // auto-wrap the cursor stays, and the tab ends there.
        do {
            const bool inLastColumn = screen.col == screen.columns - 1;
            putCharacter(screen, BLANK_CELL, autoWrap);
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
        putCharacter(screen, byte, autoWrap);
        break;
    }
}
