// Pixel geometry of the terminal: cell size, text area, frame, caret, minimum size.
//
// Every figure is written for 96 DPI (100%) and scaled to the window's DPI with the
// same rounding everywhere, that of the platform's MulDiv: to the nearest pixel,
// halves away from zero. At 96 DPI every figure holds as written.
#ifndef ORU_LAYOUT_H
#define ORU_LAYOUT_H

struct TextRect {
    int left;
    int top;
    int right;
    int bottom;
};

struct Point {
    int x;
    int y;
};

// The frame around the text area: white from `start` up to `topLeft` and right to
// `topRight`, then in the shadow colour down to `bottomRight` and back to `start`.
struct TerminalFrame {
    Point start;
    Point topLeft;
    Point topRight;
    Point bottomRight;
    TextRect panel;  // the white panel, 3 pixels outside the text area
};

const int GRID_ROWS_SHOWN = 25;
const int DEFAULT_DPI = 96;          // the scale the figures are written for
const int STATUS_BAR_HEIGHT = 20;    // at 96 DPI
const int MAIN_WINDOW_WIDTH = 845;   // the window at 96 DPI
const int MAIN_WINDOW_HEIGHT = 570;

extern int cellWidth;
extern int cellHeight;
extern TextRect textRect;
extern int textOriginX;
extern int textOriginY;
// The window's DPI, which every figure is scaled to; 96 until the window tells it.
extern int layoutDpi;
// The height the status bar takes at the bottom of the client area.
extern int statusBarHeight;

// A figure of the 96-DPI layout at `dpi`, rounded as MulDiv rounds.
int scaleToDpi(int pixels, int dpi);
// A new DPI for the window; the status bar's height goes back to its scaled
// figure until setStatusBarHeight tells the real one.
void setLayoutDpi(int dpi);
// Height of the terminal font, and width of the frame's pens, at layoutDpi.
int terminalFontHeight();
int framePenWidth();
// The status bar sizes itself from its font: the height it took. At 96 DPI the bar
// keeps its 20 pixels.
void setStatusBarHeight(int measuredHeight);

// Takes the cell size from the terminal font's average character width and height.
void setCellSize(int averageCharWidth, int charHeight);
// Places the text area for a client area `clientHeight` pixels high.
void layoutTextArea(int clientHeight);
// A new client size: the text area follows the bottom edge, the text origin with it.
void relayoutTextArea(int clientHeight);
// Pixel position of the top-left corner of a cell.
Point cellPosition(int row, int col);
// The cell of the view under a point of the client area, clamped into a view of
// `rows` by `columns` cells (so that a drag past an edge selects up to it); false
// when the point is outside the text area.
bool cellAtPoint(int x, int y, int rows, int columns, int* row, int* col);
TerminalFrame terminalFrame();
struct Placement {
    int x;
    int y;
    int width;
    int height;
};
// Where the status bar goes in a client area of the given size.
Placement statusBarPlacement(int clientWidth, int clientHeight);

// The client area that shows the whole frame, every row and the status bar below
// them: as wide as the frame's right edge reaches, as high as the frame's top edge
// is above the client bottom.
Point textAreaClientSize();
// Window sizes, given what the window's frame, caption and menu add to its client
// area (`nonClient`). The window opens at 845 by 570 scaled, larger if the client
// area the text area needs asks for more.
Point initialWindowSize(Point nonClient);
// The smallest window the user can drag to: the client area the text area needs.
// At 96 DPI it stays 80 x cellWidth + 24 by 25 x cellHeight + 90 window pixels.
Point minimumTrackSize(Point nonClient);

#endif
