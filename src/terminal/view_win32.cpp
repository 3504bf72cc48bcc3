// The terminal's pixels: the font, the caret, the cells and the painting.
#include <windows.h>

#include <cstring>

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
// The drawing under way hid the caret, and shows it at its end.
bool drawingHidCaret = false;
// The device context of the drawing under way (a paint's, or one of
// beginTerminalDrawing's own), with the terminal font selected into it once for all
// its rows: selecting a font costs (under Wine it rereads the X resources each time);
// none between drawings.
HDC drawingContext = nullptr;
bool drawingContextOwned = false;
HGDIOBJ fontBeforeDrawing = nullptr;
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

namespace {

void startDrawingIn(HDC dc) {
    drawingContext = dc;
    fontBeforeDrawing = SelectObject(dc, terminalFontHandle);
}

void endDrawingIn(HDC dc) {
    SelectObject(dc, fontBeforeDrawing);
    fontBeforeDrawing = nullptr;
    drawingContext = nullptr;
}

}  // namespace

void paintTerminal(HWND window) {
    // What the window still owes is drawn by this paint: the whole text area is part
    // of it then.
    if (screenDrawingOwed()) {
        RECT area = textRectangle();
        InvalidateRect(window, &area, FALSE);
    }
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    drawFrame(dc);
    startDrawingIn(dc);
    drawWholeView();
    placeCaretAtCursor();
    endDrawingIn(dc);
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
    HWND window = ownerWindow();
    const bool alone = drawingContext == nullptr;  // not inside a drawing: a context of its own
    if (alone) startDrawingIn(GetDC(window));
    HDC dc = drawingContext;
    const COLORREF previousText = SetTextColor(dc, colourOf(colours.text));
    const COLORREF previousBack = SetBkColor(dc, colourOf(colours.back));
    drawCellRun(dc, x, y, cells, count);
    SetTextColor(dc, previousText);
    SetBkColor(dc, previousBack);
    if (!alone) return;
    endDrawingIn(dc);
    ReleaseDC(window, dc);
}

// A caret on show is hidden while the rows are drawn, so that no drawing lands on
// its inverted cell; hiding one that does not show would cost for nothing.
void beginTerminalDrawing() {
    HWND window = ownerWindow();
    startDrawingIn(GetDC(window));
    drawingContextOwned = true;
    drawingHidCaret = caretOwned && !caretRowOutOfView();
    if (drawingHidCaret) HideCaret(window);
}

void endTerminalDrawing() {
    HWND window = ownerWindow();
    if (drawingHidCaret) ShowCaret(window);
    drawingHidCaret = false;
    HDC dc = drawingContext;
    if (dc != nullptr) endDrawingIn(dc);
    if (drawingContextOwned) ReleaseDC(window, dc);
    drawingContextOwned = false;
}

bool windowWaitsForPaint() {
    return GetUpdateRect(ownerWindow(), nullptr, FALSE) != FALSE;
}

void scrollTextAreaUp(int rows) {
    HWND window = ownerWindow();
    RECT area = textRectangle();
    HRGN uncovered = CreateRectRgn(0, 0, 0, 0);
    ScrollDC(drawingContext, 0, -rows * cellHeight, &area, &area, uncovered, nullptr);
    // The rows that came in below are drawn next, by the caller; what else the
    // scroll left uncovered (a window above this one hid its source) is painted.
    HRGN comeIn = CreateRectRgn(area.left, area.bottom - rows * cellHeight, area.right, area.bottom);
    if (CombineRgn(uncovered, uncovered, comeIn, RGN_DIFF) != NULLREGION) {
        InvalidateRgn(window, uncovered, FALSE);
    }
    DeleteObject(comeIn);
    DeleteObject(uncovered);
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
