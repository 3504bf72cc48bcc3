#include "terminal/layout.h"

#include "terminal/screen.h"

int cellWidth = 0;
int cellHeight = 0;
TextRect textRect = {0, 0, 0, 0};
int textOriginX = 0;
int textOriginY = 0;

namespace {
const int TEXT_LEFT = 10;
const int TEXT_BOTTOM_MARGIN = 30;  // text area bottom above the client bottom
const int COLUMNS_ALLOWED = 80;
const int FRAME_GAP = 10;           // frame lines outside the text area
const int FRAME_GAP_RIGHT = 12;
const int PANEL_GAP = 3;
const int MIN_EXTRA_WIDTH = 24;     // window frame around the text area
const int MIN_EXTRA_HEIGHT = 90;    // frame, title, menu and status bar
}  // namespace

void setCellSize(int averageCharWidth, int charHeight) {
    cellWidth = averageCharWidth;
    cellHeight = charHeight;
}

void layoutTextArea(int clientHeight) {
    textRect.left = TEXT_LEFT;
    textRect.right = COLUMNS_ALLOWED * cellWidth;
    textRect.bottom = clientHeight - TEXT_BOTTOM_MARGIN;
    textRect.top = clientHeight - TEXT_BOTTOM_MARGIN - GRID_ROWS_SHOWN * cellHeight;
}

void relayoutTextArea(int clientHeight) {
    layoutTextArea(clientHeight);
    textOriginX = TEXT_LEFT;
    textOriginY = textRect.top;
}

Point cellPosition(int row, int col) {
    Point p = {textOriginX + col * cellWidth, textOriginY + row * cellHeight};
    return p;
}

Point cursorCaretPosition() {
    return cellPosition(cursorRow, cursorCol);
}

Point minimumTrackSize() {
    Point p = {COLUMNS_ALLOWED * cellWidth + MIN_EXTRA_WIDTH,
               GRID_ROWS_SHOWN * cellHeight + MIN_EXTRA_HEIGHT};
    return p;
}

TerminalFrame terminalFrame() {
    const TextRect& r = textRect;
    TerminalFrame f;
    f.start = Point{r.left - FRAME_GAP, r.bottom + FRAME_GAP};
    f.topLeft = Point{r.left - FRAME_GAP, r.top - FRAME_GAP};
    f.topRight = Point{r.right + FRAME_GAP_RIGHT, r.top - FRAME_GAP};
    f.bottomRight = Point{r.right + FRAME_GAP_RIGHT, r.bottom + FRAME_GAP};
    f.panel = TextRect{r.left - PANEL_GAP, r.top - PANEL_GAP, r.right + PANEL_GAP,
                       r.bottom + PANEL_GAP};
    return f;
}

Placement statusBarPlacement(int clientWidth, int clientHeight) {
    Placement r = {0, clientHeight - STATUS_BAR_HEIGHT, clientWidth, STATUS_BAR_HEIGHT};
    return r;
}
