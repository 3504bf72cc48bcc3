#include "terminal/screen.h"

#include <cstdlib>
#include <cstring>

#include "platform.h"
#include "session/settings.h"
#include "terminal/layout.h"

unsigned char* screenBuffer = nullptr;
unsigned char* scrollBuffer = nullptr;
int gridColumns = 0;
int gridRows = 0;
int cursorRow = 0;
int cursorCol = 0;

void* (*allocateGridBuffer)(std::size_t size) = std::malloc;

namespace {

const unsigned char BLANK = 32;
const int TAB_STOP = 8;

int cellsAcross(int extent, int cell) {
    int count = cell > 0 ? extent / cell : 0;
    return count > 0 ? count : 1;
}

std::size_t gridSize() {
    return static_cast<std::size_t>(gridColumns) * static_cast<std::size_t>(gridRows);
}

void placeCaretAtCursor() {
    Point caret = cursorCaretPosition();
    placeTerminalCaret(caret.x, caret.y);
}

void advanceCursor() {
    if (cursorCol < gridColumns - 1) {
        cursorCol++;
        return;
    }
    if (!autoWrap) return;  // the next character overwrites the last cell
    cursorCol = 0;
    cursorRow++;
    if (cursorRow >= gridRows) scrollScreenUp();
}

void putCharacter(int value) {
    if (screenGridReady()) {
        unsigned char byte = static_cast<unsigned char>(value & 0xFF);
        screenBuffer[static_cast<std::size_t>(cursorRow) * gridColumns + cursorCol] = byte;
        Point cell = cellPosition(cursorRow, cursorCol);
        drawTerminalCell(cell.x, cell.y, byte);
        advanceCursor();
        showTerminalCaret();
    }
    placeCaretAtCursor();
}

// Blanks up to the next multiple of 8, at least one. Without auto-wrap the cursor
// cannot leave the last column, which is never a tab stop: the tab ends there
// once it has written a blank in it.
void expandTab() {
    do {
        bool inLastColumn = cursorCol >= gridColumns - 1;
        deliverTerminalChar(BLANK);
        if (inLastColumn && !autoWrap) break;
        if (!screenGridReady()) break;  // nothing moves without a grid
    } while (cursorCol % TAB_STOP != 0);
}

void clearScreen() {
    cursorRow = 0;
    cursorCol = 0;
    if (screenGridReady()) {
        std::memset(screenBuffer, BLANK, gridSize());
        requestTextRepaint();
    }
}

}  // namespace

bool screenGridReady() {
    return screenBuffer != nullptr && scrollBuffer != nullptr;
}

void releaseScreenGrid() {
    std::free(screenBuffer);
    screenBuffer = nullptr;
    std::free(scrollBuffer);
    scrollBuffer = nullptr;
}

void createScreenGrid() {
    gridColumns = cellsAcross(textRect.right - textRect.left, cellWidth);
    gridRows = cellsAcross(textRect.bottom - textRect.top, cellHeight);
    releaseScreenGrid();
    screenBuffer = static_cast<unsigned char*>(allocateGridBuffer(gridSize()));
    scrollBuffer = static_cast<unsigned char*>(allocateGridBuffer(gridSize()));
    if (!screenGridReady()) {
        releaseScreenGrid();
        showErrorBox(NOT_ENOUGH_MEMORY_TEXT, "erreur");
        return;
    }
    std::memset(screenBuffer, BLANK, gridSize());
    cursorCol = 0;
    cursorRow = 0;
    textOriginX = textRect.left;
    textOriginY = textRect.top;
    placeTerminalCaret(textOriginX, textOriginY);
}

void scrollScreenUp() {
    cursorRow = gridRows - 1;
    if (!screenGridReady()) return;
    std::size_t rowBytes = static_cast<std::size_t>(gridColumns);
    std::memcpy(scrollBuffer, screenBuffer + rowBytes, rowBytes * (gridRows - 1));
    std::memset(scrollBuffer + rowBytes * (gridRows - 1), BLANK, rowBytes);
    std::memcpy(screenBuffer, scrollBuffer, gridSize());
    requestTextRepaint();
}

void putTerminalChar(int value) {
    switch (value) {
    case 8:
        if (cursorCol > 0) cursorCol--;
        break;
    case 9:
        expandTab();
        break;
    case 10:
        if (cursorRow < gridRows - 1) cursorRow++;
        else scrollScreenUp();
        break;
    case 12:
        clearScreen();
        break;
    case 13:
        cursorCol = 0;
        break;
    default:
        putCharacter(value);
        return;
    }
    placeCaretAtCursor();
}
