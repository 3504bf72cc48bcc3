#include "terminal/layout.h"

int cellWidth = 0;
int cellHeight = 0;
TextRect textRect = {0, 0, 0, 0};
int textOriginX = 0;
int textOriginY = 0;
int layoutDpi = DEFAULT_DPI;
int statusBarHeight = STATUS_BAR_HEIGHT;

namespace {
// The figures at 96 DPI.
const int TERMINAL_FONT_HEIGHT = 18;
const int TEXT_LEFT = 10;
const int TEXT_BOTTOM_MARGIN = 30;  // text area bottom above the client bottom
const int COLUMNS_ALLOWED = 80;
const int FRAME_GAP = 10;           // frame lines outside the text area
const int FRAME_GAP_RIGHT = 12;
const int FRAME_PEN_WIDTH = 2;
const int PANEL_GAP = 3;
const int MIN_EXTRA_WIDTH = 24;     // window frame around the text area
const int MIN_EXTRA_HEIGHT = 90;    // frame, title, menu and status bar

int scaled(int pixels) {
    return scaleToDpi(pixels, layoutDpi);
}

int larger(int a, int b) {
    return a > b ? a : b;
}

// The text area's bottom stays 30 pixels (scaled) above the client bottom, more
// when the status bar is taller than its scaled 20, so that the bar never covers
// the frame's bottom line or the last row.
int textBottomMargin() {
    return larger(scaled(TEXT_BOTTOM_MARGIN), statusBarHeight + scaled(FRAME_GAP));
}
}  // namespace

int scaleToDpi(int pixels, int dpi) {
    const long long product = static_cast<long long>(pixels) * dpi;
    const long long half = DEFAULT_DPI / 2;
    const long long rounded = product >= 0 ? (product + half) / DEFAULT_DPI
                                           : -((half - product) / DEFAULT_DPI);
    return static_cast<int>(rounded);
}

void setLayoutDpi(int dpi) {
    layoutDpi = dpi > 0 ? dpi : DEFAULT_DPI;
    statusBarHeight = scaled(STATUS_BAR_HEIGHT);
}

int terminalFontHeight() {
    return scaled(TERMINAL_FONT_HEIGHT);
}

int framePenWidth() {
    return scaled(FRAME_PEN_WIDTH);
}

void setStatusBarHeight(int measuredHeight) {
    const bool keepFigure = layoutDpi == DEFAULT_DPI || measuredHeight <= 0;
    statusBarHeight = keepFigure ? scaled(STATUS_BAR_HEIGHT) : measuredHeight;
}

void setCellSize(int averageCharWidth, int charHeight) {
    cellWidth = averageCharWidth;
    cellHeight = charHeight;
}

// The text area is 80 cells less 10 pixels wide at every scale, so that the grid
// keeps its columns whatever the font's rounding; its margins scale.
void layoutTextArea(int clientHeight) {
    textRect.left = scaled(TEXT_LEFT);
    textRect.right = textRect.left + COLUMNS_ALLOWED * cellWidth - TEXT_LEFT;
    textRect.bottom = clientHeight - textBottomMargin();
    textRect.top = textRect.bottom - GRID_ROWS_SHOWN * cellHeight;
}

void relayoutTextArea(int clientHeight) {
    layoutTextArea(clientHeight);
    textOriginX = textRect.left;
    textOriginY = textRect.top;
}

Point cellPosition(int row, int col) {
    Point p = {textOriginX + col * cellWidth, textOriginY + row * cellHeight};
    return p;
}

namespace {
// Whole cells from the origin, rounded down also left of or above it.
int cellsFrom(int origin, int position, int cell) {
    const int offset = position - origin;
    return offset >= 0 ? offset / cell : -((cell - 1 - offset) / cell);
}
}  // namespace

bool cellAtPoint(int x, int y, int rows, int columns, int* row, int* col) {
    if (cellWidth <= 0 || cellHeight <= 0 || rows <= 0 || columns <= 0) return false;
    const int across = cellsFrom(textOriginX, x, cellWidth);
    const int down = cellsFrom(textOriginY, y, cellHeight);
    *col = across < 0 ? 0 : across >= columns ? columns - 1 : across;
    *row = down < 0 ? 0 : down >= rows ? rows - 1 : down;
    return x >= textRect.left && x < textRect.right && y >= textRect.top && y < textRect.bottom;
}

TerminalFrame terminalFrame() {
    const TextRect& r = textRect;
    const int gap = scaled(FRAME_GAP);
    const int gapRight = scaled(FRAME_GAP_RIGHT);
    const int panel = scaled(PANEL_GAP);
    TerminalFrame f;
    f.start = Point{r.left - gap, r.bottom + gap};
    f.topLeft = Point{r.left - gap, r.top - gap};
    f.topRight = Point{r.right + gapRight, r.top - gap};
    f.bottomRight = Point{r.right + gapRight, r.bottom + gap};
    f.panel = TextRect{r.left - panel, r.top - panel, r.right + panel, r.bottom + panel};
    return f;
}

Placement statusBarPlacement(int clientWidth, int clientHeight) {
    Placement r = {0, clientHeight - statusBarHeight, clientWidth, statusBarHeight};
    return r;
}

// A pen w pixels wide covers w / 2 pixels before its line and the rest after it.
Point textAreaClientSize() {
    const int pen = framePenWidth();
    const int frameRight = scaled(TEXT_LEFT) + COLUMNS_ALLOWED * cellWidth - TEXT_LEFT +
                           scaled(FRAME_GAP_RIGHT);
    const int frameTopAboveText = scaled(FRAME_GAP) + pen / 2;
    Point size = {frameRight + pen - pen / 2,
                  frameTopAboveText + GRID_ROWS_SHOWN * cellHeight + textBottomMargin()};
    return size;
}

Point initialWindowSize(Point nonClient) {
    const Point need = textAreaClientSize();
    Point size = {larger(scaled(MAIN_WINDOW_WIDTH), need.x + nonClient.x),
                  larger(scaled(MAIN_WINDOW_HEIGHT), need.y + nonClient.y)};
    return size;
}

Point minimumTrackSize(Point nonClient) {
    if (layoutDpi == DEFAULT_DPI) {
        Point historic = {COLUMNS_ALLOWED * cellWidth + MIN_EXTRA_WIDTH,
                          GRID_ROWS_SHOWN * cellHeight + MIN_EXTRA_HEIGHT};
        return historic;
    }
    const Point need = textAreaClientSize();
    Point size = {need.x + nonClient.x, need.y + nonClient.y};
    return size;
}
