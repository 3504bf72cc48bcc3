// The terminal's pixels: the font, the caret, the cells and the painting.
#include <windows.h>

#include <cstring>
#include <vector>

#include "app/app_win32.h"
#include "net/link.h"
#include "net/outgoing.h"
#include "platform.h"
#include "terminal/colours.h"
#include "terminal/history_view.h"
#include "terminal/layout.h"
#include "terminal/screen.h"

namespace {

COLORREF colourOf(unsigned char index) {
    const std::uint32_t rgb = paletteColour(index);
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

LOGFONTA terminalFont;
// Made from terminalFont when the font is measured, kept until the window goes.
HFONT terminalFontHandle = nullptr;
// The main window owns the caret only while it has the keyboard focus; the caret
// of a dialog's edit box must never be moved by received characters.
bool caretOwned = false;
// Where the caret was last placed, so that it is moved only when that changes.
Point caretPlacedAt = {0, 0};
bool caretPlaced = false;
// The frame is composed off screen, in a bitmap as large as the text area, and put
// on the window in one blit of the part it changed: the window system is asked for
// one operation a frame, not one a run of cells. The bitmap keeps what the window
// should show, so a scroll moves its pixels there, never the window's, which another
// window may have covered or a paint still owe. The terminal font stays selected in
// it.
struct ShownCell {
    unsigned char character;
    CellColours colours;
    bool known;
};
struct Composition {
    HDC dc;  // null until a drawing needs it, and again when the font or the area changes
    HBITMAP bitmap;
    HGDIOBJ bitmapBefore;
    HGDIOBJ fontBefore;
    RECT area;      // the text area it was made for, in client pixels
    bool underWay;  // between beginTerminalDrawing and endTerminalDrawing
    RECT changed;   // of the text area, in client pixels; empty when nothing was drawn
    // What each cell of the bitmap and of the window holds, row by row: the caret's
    // cell is left alone on the window when the frame did not change it there.
    std::vector<ShownCell> composed;
    std::vector<ShownCell> onWindow;
};
Composition composition = {};
// Wheel turns smaller than a notch add up until they make one.
int wheelRemainder = 0;
// The clipboard is open, and the text block it lends locked, until they are given
// back.
bool clipboardOpen = false;
HANDLE lentClipboardBlock = nullptr;

void fillTerminalFont() {
    ZeroMemory(&terminalFont, sizeof terminalFont);
    terminalFont.lfHeight = terminalFontHeight();
    terminalFont.lfWeight = FW_NORMAL;
    terminalFont.lfPitchAndFamily = FIXED_PITCH | FF_DONTCARE;
    lstrcpyA(terminalFont.lfFaceName, "Terminal");
}

RECT textRectangle() {
    RECT r = {textRect.left, textRect.top, textRect.right, textRect.bottom};
    return r;
}

void placeCaret(Point p) {
    if (!caretOwned) return;
    if (caretPlaced && caretPlacedAt.x == p.x && caretPlacedAt.y == p.y) return;
    SetCaretPos(p.x, p.y);
    caretPlacedAt = p;
    caretPlaced = true;
}

void dropComposition() {
    Composition& c = composition;
    if (c.dc != nullptr && c.bitmapBefore != nullptr) {
        SelectObject(c.dc, c.fontBefore);
        SelectObject(c.dc, c.bitmapBefore);
    }
    if (c.dc != nullptr) DeleteDC(c.dc);
    if (c.bitmap != nullptr) DeleteObject(c.bitmap);
    c = Composition{};
}

// The bitmap the frames are composed in, for the text area as it lies now: made
// when first needed and again when the area moved or changed size, white as the
// panel under it, no cell known. False when the system could not make it; nothing
// is drawn then.
bool makeCompositionReady() {
    Composition& c = composition;
    const RECT area = textRectangle();
    const std::size_t cells = static_cast<std::size_t>(gridRows > 0 ? gridRows : 0) *
                              static_cast<std::size_t>(gridColumns > 0 ? gridColumns : 0);
    if (c.dc != nullptr && EqualRect(&c.area, &area) && c.composed.size() == cells) return true;
    dropComposition();
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0 || terminalFontHandle == nullptr) return false;
    HWND window = ownerWindow();
    HDC screen = GetDC(window);
    c.dc = CreateCompatibleDC(screen);
    c.bitmap = c.dc != nullptr ? CreateCompatibleBitmap(screen, width, height) : nullptr;
    ReleaseDC(window, screen);
    if (c.bitmap == nullptr) {
        dropComposition();
        return false;
    }
    c.bitmapBefore = SelectObject(c.dc, c.bitmap);
    c.fontBefore = SelectObject(c.dc, terminalFontHandle);
    // Client pixels address the bitmap: its corner is the text area's.
    SetWindowOrgEx(c.dc, area.left, area.top, nullptr);
    PatBlt(c.dc, area.left, area.top, width, height, WHITENESS);
    c.area = area;
    c.composed.assign(cells, ShownCell{});
    c.onWindow.assign(cells, ShownCell{});
    return true;
}

// The part of the text area a frame drew, which goes on the window at its end.
void noteComposed(RECT part) {
    const RECT area = textRectangle();
    IntersectRect(&part, &part, &area);
    UnionRect(&composition.changed, &composition.changed, &part);
}

// The index of the cell whose top-left corner is (x, y); -1 for none of the grid.
long cellIndexAt(int x, int y) {
    if (cellWidth <= 0 || cellHeight <= 0 || x < textOriginX || y < textOriginY) return -1;
    const int col = (x - textOriginX) / cellWidth;
    const int row = (y - textOriginY) / cellHeight;
    if (col >= gridColumns || row >= gridRows) return -1;
    return static_cast<long>(row) * gridColumns + col;
}

void noteCellsComposed(int x, int y, const unsigned char* cells, int count, CellColours colours) {
    const long first = cellIndexAt(x, y);
    if (first < 0) return;
    const long rowEnd = first - first % gridColumns + gridColumns;
    for (long i = first; i < rowEnd && i - first < count; ++i) {
        composition.composed[static_cast<std::size_t>(i)] = ShownCell{cells[i - first], colours, true};
    }
}

bool sameCell(const ShownCell& a, const ShownCell& b) {
    return a.known && b.known && a.character == b.character && sameColours(a.colours, b.colours);
}

// Shows a part of the composed text area on the window. The caret's inverted cell
// is never copied over while it shows (a paint hides it), since its pixels would
// lose the caret: when the frame left what the window shows there as it was, that
// cell is left out; else the caret hides for the copy.
void putCompositionOn(HDC dc, const RECT& part, bool caretMayShow) {
    const bool caretShows = caretMayShow && caretOwned && caretPlaced && !caretRowOutOfView();
    const RECT caretCell = {caretPlacedAt.x, caretPlacedAt.y, caretPlacedAt.x + cellWidth,
                            caretPlacedAt.y + cellHeight};
    RECT covered;
    bool hideCaret = false;
    if (caretShows && IntersectRect(&covered, &caretCell, &part)) {
        const long at = cellIndexAt(caretPlacedAt.x, caretPlacedAt.y);
        const std::size_t i = static_cast<std::size_t>(at);
        if (at >= 0 && sameCell(composition.composed[i], composition.onWindow[i])) {
            ExcludeClipRect(dc, caretCell.left, caretCell.top, caretCell.right, caretCell.bottom);
        } else {
            hideCaret = true;
        }
    }
    HWND window = ownerWindow();
    if (hideCaret) HideCaret(window);
    BitBlt(dc, part.left, part.top, part.right - part.left, part.bottom - part.top, composition.dc,
           part.left, part.top, SRCCOPY);
    if (hideCaret) ShowCaret(window);
    // The cells the part covers are on the window as composed.
    if (cellWidth <= 0 || cellHeight <= 0) return;
    const int firstRow = (part.top - textOriginY) / cellHeight;
    const int lastRow = (part.bottom - 1 - textOriginY) / cellHeight;
    const int firstCol = (part.left - textOriginX) / cellWidth;
    const int lastCol = (part.right - 1 - textOriginX) / cellWidth;
    for (int row = firstRow < 0 ? 0 : firstRow; row <= lastRow && row < gridRows; ++row) {
        for (int col = firstCol < 0 ? 0 : firstCol; col <= lastCol && col < gridColumns; ++col) {
            const std::size_t i = static_cast<std::size_t>(row) * static_cast<std::size_t>(gridColumns) +
                                  static_cast<std::size_t>(col);
            composition.onWindow[i] = composition.composed[i];
        }
    }
}

void drawFrame(HDC dc) {
    TerminalFrame frame = terminalFrame();
    HPEN white = CreatePen(PS_SOLID, framePenWidth(), RGB(255, 255, 255));
    HPEN shadow = CreatePen(PS_SOLID, framePenWidth(), GetSysColor(COLOR_BTNSHADOW));
    HGDIOBJ previousPen = SelectObject(dc, white);
    MoveToEx(dc, frame.start.x, frame.start.y, nullptr);
    LineTo(dc, frame.topLeft.x, frame.topLeft.y);
    LineTo(dc, frame.topRight.x, frame.topRight.y);
    SelectObject(dc, shadow);
    DeleteObject(white);
    LineTo(dc, frame.bottomRight.x, frame.bottomRight.y);
    LineTo(dc, frame.start.x, frame.start.y);
    SelectObject(dc, previousPen);
    DeleteObject(shadow);
    Rectangle(dc, frame.panel.left, frame.panel.top, frame.panel.right, frame.panel.bottom);
}

// One ExtTextOut for a run of cells, each one cell width from the last: a glyph
// that the font takes from another font must not shift the cells after it.
void drawCellRun(HDC dc, int x, int y, const unsigned char* cells, int count) {
    const int PIECE = 128;
    INT advances[PIECE];
    for (int i = 0; i < PIECE; ++i) advances[i] = cellWidth;
    RECT clip = textRectangle();
    for (int done = 0; done < count; done += PIECE) {
        int length = count - done < PIECE ? count - done : PIECE;
        ExtTextOutA(dc, x + done * cellWidth, y, ETO_CLIPPED, &clip,
                    reinterpret_cast<const char*>(cells + done), static_cast<UINT>(length),
                    advances);
    }
}

typedef UINT(WINAPI* DpiForWindowCall)(HWND window);
typedef BOOL(WINAPI* AdjustForDpiCall)(RECT* rect, DWORD style, BOOL menu, DWORD exStyle,
                                       UINT dpi);

typedef void (*AnyCall)();

// A user32 function that only newer Windows have, looked up when needed so that
// the program still starts where it is missing; null there.
AnyCall newerUser32Call(const char* name) {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    FARPROC found = user32 != nullptr ? GetProcAddress(user32, name) : nullptr;
    return reinterpret_cast<AnyCall>(found);
}

// The status bar sizes itself from its font: the layout takes the height it has.
// True when that changed the layout's figure.
bool takeStatusBarHeight() {
    if (statusBar == nullptr) return false;
    RECT bar;
    GetWindowRect(statusBar, &bar);
    const int before = statusBarHeight;
    setStatusBarHeight(bar.bottom - bar.top);
    return statusBarHeight != before;
}

void relayoutClientArea(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    onTerminalSize(window, client.right, client.bottom);
}

}  // namespace

int windowDpi(HWND window) {
    // Windows 10 (1607): the DPI of this window. Before it, the system DPI, which a
    // process that declares itself DPI-aware gets from the screen.
    DpiForWindowCall dpiForWindow =
        reinterpret_cast<DpiForWindowCall>(newerUser32Call("GetDpiForWindow"));
    const UINT dpi = dpiForWindow != nullptr ? dpiForWindow(window) : 0;
    if (dpi != 0) return static_cast<int>(dpi);
    HDC screen = GetDC(nullptr);
    const int systemDpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return systemDpi > 0 ? systemDpi : DEFAULT_DPI;
}

Point windowFrameSize(HWND window) {
    RECT r = {0, 0, 0, 0};
    const DWORD style = static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE));
    const BOOL menu = GetMenu(window) != nullptr;
    AdjustForDpiCall adjustForDpi =
        reinterpret_cast<AdjustForDpiCall>(newerUser32Call("AdjustWindowRectExForDpi"));
    if (adjustForDpi != nullptr) {
        adjustForDpi(&r, style, menu, exStyle, static_cast<UINT>(layoutDpi));
    } else {
        AdjustWindowRectEx(&r, style, menu, exStyle);
    }
    return Point{r.right - r.left, r.bottom - r.top};
}

void fitWindowToScale(HWND window) {
    if (takeStatusBarHeight()) relayoutClientArea(window);
    const Point size = initialWindowSize(windowFrameSize(window));
    RECT frame;
    GetWindowRect(window, &frame);
    if (size.x != frame.right - frame.left || size.y != frame.bottom - frame.top) {
        SetWindowPos(window, nullptr, 0, 0, size.x, size.y,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void onTerminalDpiChanged(HWND window, int dpi, const RECT& suggested) {
    setLayoutDpi(dpi);
    measureTerminalFont(window);
    SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    takeStatusBarHeight();
    clearSelection();
    relayoutClientArea(window);  // also when the window kept its size
    if (caretOwned) {
        destroyTerminalCaret();
        onTerminalFocus(window, true);
    }
    // The frame and the text area moved: the old ones are erased.
    InvalidateRect(window, nullptr, TRUE);
}

void measureTerminalFont(HWND window) {
    HDC dc = GetDC(window);
    fillTerminalFont();
    releaseTerminalFont();
    terminalFontHandle = CreateFontIndirectA(&terminalFont);
    HGDIOBJ previousFont = SelectObject(dc, terminalFontHandle);
    TEXTMETRICA metrics;
    if (GetTextMetricsA(dc, &metrics)) setCellSize(metrics.tmAveCharWidth, metrics.tmHeight);
    SelectObject(dc, previousFont);
    ReleaseDC(window, dc);
}

void releaseTerminalFont() {
    dropComposition();  // which holds the font
    if (terminalFontHandle != nullptr) DeleteObject(terminalFontHandle);
    terminalFontHandle = nullptr;
}

void onTerminalSize(HWND window, int clientWidth, int clientHeight) {
    clearSelection();  // the grid is laid out again
    relayoutTextArea(clientHeight);
    placeCaretAtCursor();
    // Erased too: what the old layout drew outside the new frame and panel must go.
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
    if (statusBar != nullptr) {
        Placement bar = statusBarPlacement(clientWidth, clientHeight);
        MoveWindow(statusBar, bar.x, bar.y, bar.width, bar.height, TRUE);
    }
}

void onTerminalFocus(HWND window, bool gained) {
    if (gained) {
        CreateCaret(window, nullptr, cellWidth, cellHeight);
        caretOwned = true;
        caretPlaced = false;
        placeCaretAtCursor();
        if (!caretRowOutOfView()) ShowCaret(window);
    } else {
        HideCaret(window);
        destroyTerminalCaret();
    }
}

void destroyTerminalCaret() {
    DestroyCaret();
    caretOwned = false;
}

void paintTerminal(HWND window) {
    // What the window still owes is drawn by this paint: the whole text area is part
    // of it then.
    if (screenDrawingOwed()) {
        RECT area = textRectangle();
        InvalidateRect(window, &area, FALSE);
    }
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);  // hides the caret until EndPaint
    drawFrame(dc);
    beginTerminalDrawing();
    drawWholeView();
    placeCaretAtCursor();
    composition.underWay = false;
    if (composition.dc != nullptr) putCompositionOn(dc, textRectangle(), false);
    SetRectEmpty(&composition.changed);
    EndPaint(window, &paint);
}

namespace {

// The cell of the view under the mouse; false outside the text area.
bool cellUnderMouse(LPARAM position, int* row, int* col) {
    return cellAtPoint(static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position)),
                       gridRows, gridColumns, row, col);
}

// Rows one notch of the wheel moves the view, as the system is set.
int wheelRowsPerNotch() {
    UINT lines = 3;
    SystemParametersInfoA(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
    return lines == WHEEL_PAGESCROLL ? pageRows() : static_cast<int>(lines);
}

}  // namespace

void onTerminalMouse(HWND window, UINT message, LPARAM position) {
    int row = 0;
    int col = 0;
    const bool inText = cellUnderMouse(position, &row, &col);
    switch (message) {
    case WM_LBUTTONDOWN:
        if (!inText) return;
        pressSelection(row, col);
        SetCapture(window);
        break;
    case WM_MOUSEMOVE:
        if (GetCapture() == window) dragSelection(row, col);
        break;
    case WM_LBUTTONUP:
        if (GetCapture() != window) return;
        releaseSelection(row, col);
        ReleaseCapture();
        break;
    case WM_LBUTTONDBLCLK:
        if (inText) selectWordAt(row, col);
        break;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:  // the class asks for double-clicks: a quick second click
        if (inText) pasteClipboardText();
        break;
    default:
        break;
    }
}

void onTerminalCaptureLost() {
    DWORD at = GetMessagePos();
    POINT p = {static_cast<short>(LOWORD(at)), static_cast<short>(HIWORD(at))};
    ScreenToClient(ownerWindow(), &p);
    int row = 0;
    int col = 0;
    cellAtPoint(p.x, p.y, gridRows, gridColumns, &row, &col);
    releaseSelection(row, col);
}

void onTerminalWheel(WPARAM wParam) {
    wheelRemainder += static_cast<short>(HIWORD(wParam));
    const int notches = wheelRemainder / WHEEL_DELTA;
    wheelRemainder -= notches * WHEEL_DELTA;
    if (notches != 0) scrollViewBack(notches * wheelRowsPerNotch());
}

void onTerminalKey(WPARAM key) {
    if (GetKeyState(VK_SHIFT) >= 0) return;
    switch (key) {
    case VK_PRIOR: scrollViewBack(pageRows()); break;
    case VK_NEXT: scrollViewBack(-pageRows()); break;
    case VK_HOME: showOldestRows(); break;
    case VK_END: showLiveRows(); break;
    case VK_INSERT: pasteClipboardText(); break;
    default: break;
    }
}

// ---- terminal operations of the seam ---------------------------------------------

void drawTerminalRow(int x, int y, const unsigned char* cells, int count, CellColours colours) {
    const bool alone = !composition.underWay;  // not inside a drawing: one of its own
    if (alone) beginTerminalDrawing();
    HDC dc = composition.dc;
    if (dc != nullptr) {
        SetTextColor(dc, colourOf(colours.text));
        SetBkColor(dc, colourOf(colours.back));
        drawCellRun(dc, x, y, cells, count);
        noteCellsComposed(x, y, cells, count, colours);
        RECT run = {x, y, x + count * cellWidth, y + cellHeight};
        noteComposed(run);
    }
    if (alone) endTerminalDrawing();
}

void beginTerminalDrawing() {
    makeCompositionReady();
    composition.underWay = true;
    SetRectEmpty(&composition.changed);
}

void endTerminalDrawing() {
    composition.underWay = false;
    if (composition.dc == nullptr || IsRectEmpty(&composition.changed)) return;
    HWND window = ownerWindow();
    HDC dc = GetDC(window);
    putCompositionOn(dc, composition.changed, true);
    ReleaseDC(window, dc);
    SetRectEmpty(&composition.changed);
}

void scrollTextAreaUp(int rows) {
    if (composition.dc == nullptr || rows <= 0) return;
    RECT area = textRectangle();
    ScrollDC(composition.dc, 0, -rows * cellHeight, &area, &area, nullptr, nullptr);
    noteComposed(area);
    std::vector<ShownCell>& cells = composition.composed;
    const std::size_t moved = static_cast<std::size_t>(rows < gridRows ? rows : gridRows) *
                              static_cast<std::size_t>(gridColumns);
    cells.erase(cells.begin(), cells.begin() + static_cast<std::ptrdiff_t>(moved));
    cells.insert(cells.end(), moved, ShownCell{});  // drawn next, by the caller
}

void placeTerminalCaret(int x, int y) {
    placeCaret(Point{x, y});
}

void setTerminalCaretOutOfView(bool outOfView) {
    if (!caretOwned) return;
    if (outOfView) HideCaret(ownerWindow());
    else ShowCaret(ownerWindow());
}

void copyTextToClipboard(const char* text, std::size_t length) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, length + 1);
    if (block == nullptr) return;
    char* copy = static_cast<char*>(GlobalLock(block));
    if (copy == nullptr) {
        GlobalFree(block);
        return;
    }
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    GlobalUnlock(block);
    if (!OpenClipboard(ownerWindow())) {
        GlobalFree(block);
        return;
    }
    EmptyClipboard();
    // Once the clipboard has taken the block, it is the clipboard's.
    if (SetClipboardData(CF_TEXT, block) == nullptr) GlobalFree(block);
    CloseClipboard();
}

const char* borrowClipboardText(std::size_t* length) {
    *length = 0;
    if (!OpenClipboard(ownerWindow())) return nullptr;
    clipboardOpen = true;
    HANDLE block = GetClipboardData(CF_TEXT);
    const char* data = block != nullptr ? static_cast<const char*>(GlobalLock(block)) : nullptr;
    if (data == nullptr) return nullptr;
    lentClipboardBlock = block;
    // Up to the terminator, and never past the block, which may lack one.
    const std::size_t size = GlobalSize(block);
    const void* end = std::memchr(data, '\0', size);
    *length = end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - data) : size;
    return data;
}

void releaseClipboardText() {
    if (lentClipboardBlock != nullptr) GlobalUnlock(lentClipboardBlock);
    lentClipboardBlock = nullptr;
    if (clipboardOpen) CloseClipboard();
    clipboardOpen = false;
}
