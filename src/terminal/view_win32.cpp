// The terminal's pixels: the font, the caret, the cells and the painting.
#include <windows.h>

#include "app/app_win32.h"
#include "platform.h"
#include "terminal/layout.h"
#include "terminal/screen.h"

namespace {

LOGFONTA terminalFont;
// Made from terminalFont when the font is measured, kept until the window goes.
HFONT terminalFontHandle = nullptr;
// The main window owns the caret only while it has the keyboard focus; the caret
// of a dialog's edit box must never be moved by received characters.
bool caretOwned = false;

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
    if (caretOwned) SetCaretPos(p.x, p.y);
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

void drawRows(HDC dc) {
    if (!screenGridReady()) return;
    HGDIOBJ previousFont = SelectObject(dc, terminalFontHandle);
    for (int row = 0; row < gridRows; ++row) {
        Point p = cellPosition(row, 0);
        drawCellRun(dc, p.x, p.y, screenBuffer + static_cast<std::size_t>(row) * gridColumns,
                    gridColumns);
    }
    SelectObject(dc, previousFont);
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
    relayoutTextArea(clientHeight);
    placeCaret(cursorCaretPosition());
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
        placeCaret(cursorCaretPosition());
        ShowCaret(window);
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
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    drawFrame(dc);
    drawRows(dc);
    EndPaint(window, &paint);
}

// ---- terminal operations of the seam ---------------------------------------------

void drawTerminalCell(int x, int y, unsigned char byte) {
    hideTerminalCaret();
    drawTerminalRow(x, y, &byte, 1);
}

void drawTerminalRow(int x, int y, const unsigned char* cells, int count) {
    HWND window = ownerWindow();
    HDC dc = GetDC(window);
    HGDIOBJ previousFont = SelectObject(dc, terminalFontHandle);
    drawCellRun(dc, x, y, cells, count);
    SelectObject(dc, previousFont);
    ReleaseDC(window, dc);
}

void hideTerminalCaret() {
    HideCaret(ownerWindow());
}

void requestTextRepaint() {
    RECT area = textRectangle();
    InvalidateRect(ownerWindow(), &area, TRUE);
}

void showTerminalCaret() {
    ShowCaret(ownerWindow());
}

void placeTerminalCaret(int x, int y) {
    placeCaret(Point{x, y});
}

void deliverTerminalChar(int value) {
    SendMessageA(ownerWindow(), WM_TERM_CHAR, static_cast<WPARAM>(value), 1);
}
