// Pixel geometry of the terminal: cell size, text area, frame, caret, minimum size.
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
const int STATUS_BAR_HEIGHT = 20;

extern int cellWidth;
extern int cellHeight;
extern TextRect textRect;
extern int textOriginX;
extern int textOriginY;

// Takes the cell size from the terminal font's average character width and height.
void setCellSize(int averageCharWidth, int charHeight);
// Places the text area for a client area `clientHeight` pixels high.
void layoutTextArea(int clientHeight);
// A new client size: the text area follows the bottom edge, the text origin with it.
void relayoutTextArea(int clientHeight);
// Pixel position of the top-left corner of a cell.
Point cellPosition(int row, int col);
// Where the caret stands: the cell of the output cursor.
Point cursorCaretPosition();
// Smallest window size the user can drag to.
Point minimumTrackSize();
TerminalFrame terminalFrame();
struct Placement {
    int x;
    int y;
    int width;
    int height;
};
// Where the status bar goes in a client area of the given size.
Placement statusBarPlacement(int clientWidth, int clientHeight);

#endif
