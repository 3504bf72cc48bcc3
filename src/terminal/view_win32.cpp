// The terminal's pixels: the font, the caret, the cells and the painting.
#include <windows.h>

#include "app/app_win32.h"
#include "platform.h"
#include "terminal/layout.h"
#include "terminal/screen.h"

namespace {

LOGFONTA terminalFont;
// The main window owns the caret only while it has the keyboard focus; the caret
// of a dialog's edit box must never be moved by received characters.
bool caretOwned = false;

void fillTerminalFont() {
    ZeroMemory(&terminalFont, sizeof terminalFont);
    terminalFont.lfHeight = 18;
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
    HPEN white = CreatePen(PS_SOLID, 2, RGB(255, 255, 255));
    HPEN shadow = CreatePen(PS_SOLID, 2, GetSysColor(COLOR_BTNSHADOW));
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

void drawRows(HDC dc) {
    HFONT font = CreateFontIndirectA(&terminalFont);
    HGDIOBJ previousFont = SelectObject(dc, font);
    RECT clip = textRectangle();
    if (screenGridReady()) {
        for (int row = 0; row < gridRows; ++row) {
            Point p = cellPosition(row, 0);
            const char* cells = reinterpret_cast<const char*>(screenBuffer) +
                                static_cast<std::size_t>(row) * gridColumns;
            ExtTextOutA(dc, p.x, p.y, ETO_CLIPPED, &clip, cells,
                        static_cast<UINT>(gridColumns), nullptr);
        }
    }
    SelectObject(dc, previousFont);
    DeleteObject(font);
}

}  // namespace

void measureTerminalFont(HWND window) {
    HDC dc = GetDC(window);
    fillTerminalFont();
    HFONT font = CreateFontIndirectA(&terminalFont);
    HGDIOBJ previousFont = SelectObject(dc, font);
    TEXTMETRICA metrics;
    if (GetTextMetricsA(dc, &metrics)) setCellSize(metrics.tmAveCharWidth, metrics.tmHeight);
    SelectObject(dc, previousFont);
    DeleteObject(font);
    ReleaseDC(window, dc);
}

void onTerminalSize(HWND window, int clientWidth, int clientHeight) {
    relayoutTextArea(clientHeight);
    placeCaret(cursorCaretPosition());
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE);
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
    HWND window = ownerWindow();
    HideCaret(window);
    HDC dc = GetDC(window);
    fillTerminalFont();
    HFONT font = CreateFontIndirectA(&terminalFont);
    HGDIOBJ previousFont = SelectObject(dc, font);
    RECT clip = textRectangle();
    char cell = static_cast<char>(byte);
    ExtTextOutA(dc, x, y, ETO_CLIPPED, &clip, &cell, 1, nullptr);
    SelectObject(dc, previousFont);
    DeleteObject(font);
    ReleaseDC(window, dc);
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
