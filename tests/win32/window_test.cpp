// The main window: class, creation, routing of the terminal character, repaint
// requests, drawing, layout from the measured font, caret, status bar, menu and
// the release order at destruction.
#include "harness.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "app/app_win32.h"
#include "capture/recorder.h"
#include "net/link.h"
#include "session/session.h"
#include "session/settings.h"
#include "terminal/history_view.h"
#include "terminal/layout.h"
#include "terminal/screen.h"
#include "ui/resource.h"

namespace {

unsigned char cell(int row, int col) {
    return gridCell(row, col);
}

RECT clientRect() {
    RECT r;
    GetClientRect(mainWindow, &r);
    return r;
}

// The status bar's rectangle in the main window's client coordinates.
RECT statusBarRect() {
    RECT r;
    GetWindowRect(statusBar, &r);
    MapWindowPoints(nullptr, mainWindow, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void resizeWindow(int width, int height) {
    SetWindowPos(mainWindow, nullptr, 0, 0, width, height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    pumpPending();
}

GUITHREADINFO caretInfo() {
    GUITHREADINFO info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetCurrentThreadId(), &info);
    return info;
}

// The metrics of the terminal font as this test measures them itself.
TEXTMETRICA terminalFontMetrics() {
    LOGFONTA font;
    ZeroMemory(&font, sizeof font);
    font.lfHeight = 18;
    font.lfWeight = FW_NORMAL;
    font.lfPitchAndFamily = FIXED_PITCH | FF_DONTCARE;
    lstrcpyA(font.lfFaceName, "Terminal");
    HDC dc = GetDC(mainWindow);
    HFONT handle = CreateFontIndirectA(&font);
    HGDIOBJ previous = SelectObject(dc, handle);
    TEXTMETRICA metrics;
    ZeroMemory(&metrics, sizeof metrics);
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, previous);
    DeleteObject(handle);
    ReleaseDC(mainWindow, dc);
    return metrics;
}

// Counts the dark pixels of one cell as the window shows it now.
int darkPixelsInCell(int row, int col) {
    HDC dc = GetDC(mainWindow);
    int dark = 0;
    for (int y = 0; y < cellHeight; ++y) {
        for (int x = 0; x < cellWidth; ++x) {
            COLORREF c = GetPixel(dc, textOriginX + col * cellWidth + x,
                                  textOriginY + row * cellHeight + y);
            if (c != CLR_INVALID && GetRValue(c) < 128 && GetGValue(c) < 128 && GetBValue(c) < 128) {
                dark++;
            }
        }
    }
    ReleaseDC(mainWindow, dc);
    return dark;
}

bool hasUpdateRegion(RECT* bounds) {
    return GetUpdateRect(mainWindow, bounds, FALSE) != FALSE;
}

void expectRectEqualsTextRect(const RECT& r) {
    EXPECT_EQ(r.left, textRect.left);
    EXPECT_EQ(r.top, textRect.top);
    EXPECT_EQ(r.right, textRect.right);
    EXPECT_EQ(r.bottom, textRect.bottom);
}

BOOL CALLBACK countAppWindow(HWND window, LPARAM counter) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    if (lstrcmpA(name, MAIN_WINDOW_CLASS) == 0) ++*reinterpret_cast<int*>(counter);
    return TRUE;
}

int countAppWindows() {
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), countAppWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

}  // namespace

TEST_F(MainWindowTest, WindowClassTitleSizeAndStatusBarAtStart) {
    EXPECT_EQ(windowText(mainWindow), "Dazirar OrU");
    RECT frame;
    GetWindowRect(mainWindow, &frame);
    EXPECT_EQ(frame.right - frame.left, 845);
    EXPECT_EQ(frame.bottom - frame.top, 570);
    LONG style = GetWindowLongA(mainWindow, GWL_STYLE);
    EXPECT_EQ(style & WS_OVERLAPPEDWINDOW, static_cast<LONG>(WS_OVERLAPPEDWINDOW));
    EXPECT_EQ(GetMenu(mainWindow), mainMenu);

    WNDCLASSEXA info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetClassInfoExA(GetModuleHandleA(nullptr), MAIN_WINDOW_CLASS, &info));
    EXPECT_EQ(info.style, static_cast<UINT>(CS_DBLCLKS));
    EXPECT_EQ(info.cbClsExtra, 0);
    EXPECT_EQ(info.cbWndExtra, 0);
    EXPECT_EQ(info.hbrBackground, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_SCROLLBAR + 1)));
    EXPECT_EQ(info.hCursor, LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(info.hIcon, LoadIconA(nullptr, IDI_APPLICATION));
    ASSERT_NE(info.lpszMenuName, nullptr);
    EXPECT_STREQ(info.lpszMenuName, "IDD_MENU");

    char barClass[64] = "";
    GetClassNameA(statusBar, barClass, sizeof barClass);
    EXPECT_STREQ(barClass, STATUSCLASSNAMEA);
    EXPECT_EQ(GetParent(statusBar), mainWindow);
    EXPECT_EQ(GetDlgCtrlID(statusBar), 0);
    EXPECT_TRUE(GetWindowLongA(statusBar, GWL_STYLE) & SBARS_SIZEGRIP);
    EXPECT_EQ(statusText(), "") << "no status text before the link's first change";
    RECT client = clientRect();
    RECT bar = statusBarRect();
    EXPECT_EQ(bar.left, 0);
    EXPECT_EQ(bar.right, client.right);
    EXPECT_EQ(bar.bottom, client.bottom);
    EXPECT_EQ(bar.top, client.bottom - 20);
}

TEST_F(MainWindowTest, SecondStartUpFailsWhileTheClassIsRegistered) {
    HWND first = mainWindow;
    HMENU menu = mainMenu;
    EXPECT_FALSE(startApplication(GetModuleHandleA(nullptr), "", SW_SHOWNORMAL));
    EXPECT_EQ(countAppWindows(), 1);
    EXPECT_EQ(mainWindow, first);
    mainMenu = menu;  // the failed start-up loaded a menu of its own before registering
}

TEST_F(MainWindowTest, GridIsMadeFromTheMeasuredFont) {
    TEXTMETRICA metrics = terminalFontMetrics();
    EXPECT_EQ(cellWidth, metrics.tmAveCharWidth);
    EXPECT_EQ(cellHeight, metrics.tmHeight);
    ASSERT_GT(cellWidth, 0);
    ASSERT_GT(cellHeight, 0);
    RECT client = clientRect();
    int h = client.bottom;
    EXPECT_EQ(textRect.left, 10);
    EXPECT_EQ(textRect.right, 80 * cellWidth);
    EXPECT_EQ(textRect.bottom, h - 30);
    EXPECT_EQ(textRect.top, h - 30 - 25 * cellHeight);
    EXPECT_EQ(gridColumns, (80 * cellWidth - 10) / cellWidth);
    EXPECT_EQ(gridRows, 25);
    EXPECT_EQ(textOriginX, 10);
    EXPECT_EQ(textOriginY, textRect.top);
    ASSERT_TRUE(screenGridReady());
    EXPECT_EQ(gridCells(), std::vector<unsigned char>(static_cast<size_t>(gridRows) * gridColumns, 32));
    EXPECT_EQ(cursorRow, 0);
    EXPECT_EQ(cursorCol, 0);
    std::printf("[ measured ] cell %d x %d, client %ld x %ld, grid %d x %d\n", cellWidth,
                cellHeight, client.right, client.bottom, gridColumns, gridRows);
}

TEST_F(MainWindowTest, TerminalCharactersLandThroughTheWindowProcedure) {
    sendTerminalChar('A');
    sendTerminalChar('B');
    EXPECT_EQ(cell(0, 0), 'A');
    EXPECT_EQ(cell(0, 1), 'B');
    EXPECT_EQ(cursorCol, 2);
    // Received bytes above 127 arrive widened with their sign.
    sendTerminalChar(-23);
    EXPECT_EQ(cell(0, 2), 0xE9);
    sendTerminalChar(-1);
    EXPECT_EQ(cell(0, 3), 0xFF);
    sendTerminalChar(0);
    EXPECT_EQ(cell(0, 4), 0);
    EXPECT_EQ(cursorCol, 5);
    // A tab delivers its blanks back through the window, one message each.
    sendTerminalChar('x');
    sendTerminalChar('y');
    sendTerminalChar('x');
    for (int i = 0; i < 3; ++i) sendTerminalChar(8);  // back to column 5
    ASSERT_EQ(cursorCol, 5);
    sendTerminalChar(9);
    EXPECT_EQ(cursorCol, 8);
    EXPECT_EQ(cell(0, 5), ' ');
    EXPECT_EQ(cell(0, 7), ' ');
    sendTerminalChar(13);
    sendTerminalChar(10);
    EXPECT_EQ(cursorRow, 1);
    EXPECT_EQ(cursorCol, 0);
    sendTerminalChar(8);
    EXPECT_EQ(cursorCol, 0);
    sendTerminalChar(12);
    EXPECT_EQ(cursorRow, 0);
    EXPECT_EQ(cell(0, 0), ' ');
    EXPECT_EQ(cell(0, 2), ' ');
}

TEST_F(MainWindowTest, CharactersFormFeedAndScrollShowAtOnce) {
    HideCaret(mainWindow);  // the solid caret would read as a dark cell
    UpdateWindow(mainWindow);
    ValidateRect(mainWindow, nullptr);
    RECT bounds;
    ASSERT_FALSE(hasUpdateRegion(&bounds));

    sendTerminalChar('W');
    EXPECT_GT(darkPixelsInCell(0, 0), 0) << "the character was not drawn at once";

    sendTerminalChar(12);
    EXPECT_EQ(darkPixelsInCell(0, 0), 0) << "the form feed left the cell";

    // A line feed on the last row scrolls: the row and its pixels move up at once.
    for (int i = 0; i < gridRows - 1; ++i) sendTerminalChar(10);
    sendTerminalChar('Z');
    ASSERT_EQ(cursorRow, gridRows - 1);
    sendTerminalChar(10);
    EXPECT_EQ(cell(gridRows - 2, 0), 'Z');
    EXPECT_EQ(cell(gridRows - 1, 0), ' ');
    EXPECT_EQ(darkPixelsInCell(gridRows - 1, 0), 0);
    EXPECT_GT(darkPixelsInCell(gridRows - 2, 0), 0) << "the scrolled row was not shown";
    EXPECT_FALSE(hasUpdateRegion(&bounds)) << "nothing was left to a repaint";
}

TEST_F(MainWindowTest, PaintDrawsFramePanelAndRows) {
    HideCaret(mainWindow);  // the solid caret would read as a dark cell
    sendTerminalChar('M');
    InvalidateRect(mainWindow, nullptr, TRUE);
    UpdateWindow(mainWindow);
    const int l = textRect.left, t = textRect.top, r = textRect.right, b = textRect.bottom;
    const COLORREF white = RGB(255, 255, 255);
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    // White lines on the left and top, shadow on the right and bottom.
    EXPECT_EQ(pixelAt(l - 10, (t + b) / 2), white);
    EXPECT_EQ(pixelAt((l + r) / 2, t - 10), white);
    EXPECT_EQ(pixelAt(r + 12, (t + b) / 2), shadow);
    // The bottom line is centred on the status bar's top edge, which hides its
    // lower half: its upper pixel row shows.
    EXPECT_EQ(pixelAt((l + r) / 2, b + 9), shadow);
    // The panel: black outline 3 pixels outside the text area, white inside.
    EXPECT_EQ(pixelAt(l - 3, (t + b) / 2), RGB(0, 0, 0));
    EXPECT_EQ(pixelAt(r + 2, (t + b) / 2), RGB(0, 0, 0));
    EXPECT_EQ(pixelAt(l - 2, t - 2), white);
    // Between the panel and the frame the class background shows.
    EXPECT_EQ(pixelAt(l - 6, (t + b) / 2), GetSysColor(COLOR_SCROLLBAR));
    // The rows: the character painted in its cell, blank cells white.
    EXPECT_GT(darkPixelsInCell(0, 0), 0);
    EXPECT_EQ(darkPixelsInCell(0, 1), 0);
    EXPECT_EQ(darkPixelsInCell(gridRows - 1, gridColumns - 1), 0);
}

namespace {

// Pixels that differ, with where the first one is, for a failure message.
std::string differences(const std::vector<DWORD>& a, const std::vector<DWORD>& b, int width) {
    if (a.size() != b.size() || a.empty()) return "sizes " + std::to_string(a.size()) + " and " +
                                                  std::to_string(b.size());
    size_t differing = 0;
    size_t first = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && differing++ == 0) first = i;
    }
    if (differing == 0) return "";
    return std::to_string(differing) + " pixels, the first at x " + std::to_string(first % width) +
           ", y " + std::to_string(first / width);
}

void repaintTextArea() {
    RECT area = {textRect.left, textRect.top, textRect.right, textRect.bottom};
    InvalidateRect(mainWindow, &area, TRUE);
    UpdateWindow(mainWindow);
}

// Chunks of received bytes, each drawn as the receive path draws it once its frame
// has come: rows that stay in view move up with their pixels.
struct ChunkCase {
    const char* what;
    bool wrap;
    std::vector<std::string> chunks;
};

std::vector<ChunkCase> chunkCases() {
    // Every byte value on screen first: glyphs that the font borrows from other
    // fonts then stand beside the cells that the later chunks change.
    std::string everyByte;
    for (int b = 0; b < 256; ++b) everyByte += static_cast<char>(b);
    std::string lines;
    for (int i = 0; i < 40; ++i) lines += "line " + std::to_string(i) + "\t|\xE9\x80\x81\x9D\x01\r\n";
    return {
        {"every byte, wrapped", true, {everyByte + everyByte}},
        {"a few cells, no scroll", false, {std::string("\r\n\n\x81x\tAB\x08\x08" "ab\x0b\x7f\0", 15)}},
        {"a tail overwritten in the last column", false, {"\r" + std::string(100, '\x9D') + "end"}},
        {"lines that scroll", false, {lines}},
        {"rows moved up by their pixels, with the rows that changed", false,
         {lines, "two\r\nrows\r\n", "\xE9\xE9\r\n\tx", "\r\n\r\n\r\n" + everyByte.substr(32, 60)}},
        {"a long line that wraps and scrolls", true, {std::string(500, '#') + randomBytes(300, 5)}},
        {"a form feed, then a few cells", false, {"\x0c\xE9\x81 abc"}},
        {"random bytes, wrap off", false, {randomBytes(20000, 1)}},
        {"random bytes, wrap on", true, {randomBytes(20000, 2)}},
    };
}

// Applies the chunks to the grid and counts the text area's pixels that a full
// repaint then changes; `first` gets the offset of the first. Every pixel counts
// as differing when the text area cannot be read.
size_t pixelsAChunkDrawsWrong(const ChunkCase& chunk, size_t* first) {
    repaintTextArea();
    autoWrap = chunk.wrap;
    for (const std::string& bytes : chunk.chunks) {
        putTerminalBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        showChangesNow();  // the frame has come
    }
    std::vector<DWORD> afterChunk = textAreaPixels();
    repaintTextArea();
    std::vector<DWORD> repainted = textAreaPixels();
    *first = 0;
    if (afterChunk.empty() || afterChunk.size() != repainted.size()) return ~static_cast<size_t>(0);
    size_t differing = 0;
    for (size_t i = 0; i < afterChunk.size(); ++i) {
        if (afterChunk[i] != repainted[i] && differing++ == 0) *first = i;
    }
    return differing;
}

}  // namespace

TEST_F(MainWindowTest, AChunkLeavesTheTextAreaAsAFullRepaintDrawsIt) {
    HideCaret(mainWindow);  // a caret that the window may own would be read as dark cells
    for (const ChunkCase& c : chunkCases()) {
        SCOPED_TRACE(c.what);
        size_t first = 0;
        size_t differing = pixelsAChunkDrawsWrong(c, &first);
        const int width = textRect.right - textRect.left;
        EXPECT_EQ(differing, 0u) << "first at x " << first % width << ", y " << first / width
                                 << " of the text area";
    }
    ShowCaret(mainWindow);
}

namespace {

// One thing that brings a frame: bytes from the peer, a person's selecting or
// scrolling back.
struct FrameStep {
    const char* what;
    std::function<void()> act;
};

std::function<void()> bytesCome(const std::string& bytes) {
    return [bytes] {
        putTerminalBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        showChangesNow();
    };
}

// After a frame drawn with the caret showing: what the window lacks, if anything.
// Nothing is left to paint; with the caret hidden the text area is what a full
// repaint draws (a caret drawn over would show as a stray inverted cell); and with
// it showing, the pixels differ from that only inside the caret's cell, and there
// when the cursor's row is in view. The caret's blink is never pumped meanwhile.
std::string whatTheFrameGotWrong() {
    std::string wrong;
    RECT leftToPaint;
    if (GetUpdateRect(mainWindow, &leftToPaint, FALSE)) wrong += "a part left to paint; ";
    const std::vector<DWORD> withCaret = textAreaPixels();
    HideCaret(mainWindow);
    const std::vector<DWORD> frame = textAreaPixels();
    repaintTextArea();
    const std::vector<DWORD> repainted = textAreaPixels();
    ShowCaret(mainWindow);
    const int width = textRect.right - textRect.left;
    const std::string missed = differences(frame, repainted, width);
    if (!missed.empty()) wrong += "the frame and a repaint differ in " + missed + "; ";
    if (withCaret.size() != frame.size() || frame.empty()) return wrong + "no pixels read";
    POINT caret = {0, 0};
    GetCaretPos(&caret);
    size_t outside = 0;
    size_t inside = 0;
    for (size_t i = 0; i < frame.size(); ++i) {
        if (withCaret[i] == frame[i]) continue;
        const int x = textRect.left + static_cast<int>(i % static_cast<size_t>(width));
        const int y = textRect.top + static_cast<int>(i / static_cast<size_t>(width));
        const bool inCaret = x >= caret.x && x < caret.x + cellWidth && y >= caret.y &&
                             y < caret.y + cellHeight;
        ++(inCaret ? inside : outside);
    }
    if (outside != 0) wrong += std::to_string(outside) + " pixels of a caret outside its cell; ";
    if (!caretRowOutOfView() && inside == 0) wrong += "no caret on the cursor's cell; ";
    if (caretRowOutOfView() && inside != 0) wrong += "a caret while the cursor's row is out of view; ";
    return wrong;
}

}  // namespace

// Each frame puts on the window only what it changed, moving the rows still in view
// rather than drawing them again, and leaves the caret's cell alone when it can:
// whatever the frames did, the window shows what a full repaint draws.
TEST_F(MainWindowTest, FramesLeaveTheWindowAsAFullRepaintDrawsIt) {
    ASSERT_TRUE(takeFocus());
    std::string lines;
    for (int i = 0; i < 40; ++i) lines += "line " + std::to_string(i) + " of a device's log\r\n";
    std::string colourful;
    for (int i = 0; i < 8; ++i) {
        colourful += "\x1b[3" + std::to_string(i) + ";4" + std::to_string(7 - i) + "m" +
                     std::to_string(i) + " in colour\x1b[0m, then plain \x1b[1;9" +
                     std::to_string(i) + "mbright\x1b[0m\r\n";
    }
    const std::vector<FrameStep> steps = {
        {"lines that scroll, cut anywhere", bytesCome(lines.substr(0, 700))},
        {"the rest of a line and more", bytesCome(lines.substr(700, 37))},
        {"the rest, the caret at the start of a row", bytesCome(lines.substr(737))},
        {"a row written", bytesCome("abcdef")},
        {"the caret moved back over what the cells show", bytesCome("\rabc")},
        {"the caret's cell written with another character", bytesCome("X")},
        {"the caret's cell and more written again", bytesCome("\b\bxyz\r\n")},
        {"colours that scroll", [&] {
             setAnsiSequences(true);
             bytesCome(colourful)();
         }},
        {"the cursor moved up and colours written there", bytesCome("\x1b[5;10H\x1b[42mXY\x1b[0m")},
        {"the caret's row erased under it", bytesCome("\x1b[5;3H\x1b[K")},
        {"a selection", [] {
             pressSelection(3, 5);
             dragSelection(6, 20);
             releaseSelection(6, 20);
         }},
        {"a row beside the selection written", bytesCome("\x1b[24;1Hnear the selection")},
        {"back into the history", [] { scrollViewBack(10); }},
        {"bytes while looking back", bytesCome("\r\nmore\r\nrows\r\n")},
        {"the live rows again", [] { showLiveRows(); }},
        {"the screen cleared", bytesCome("\x1b[2J\x1b[H\x1b[7mreversed\x1b[0m")},
    };
    for (const FrameStep& step : steps) {
        step.act();
        EXPECT_EQ(whatTheFrameGotWrong(), "") << step.what;
    }
}

TEST_F(MainWindowTest, MinimumTrackSizeFollowsTheCell) {
    MINMAXINFO info;
    ZeroMemory(&info, sizeof info);
    info.ptMaxSize.x = 1111;
    info.ptMaxTrackSize.y = 2222;
    info.ptMinTrackSize.x = 1;
    info.ptMinTrackSize.y = 1;
    EXPECT_EQ(SendMessageA(mainWindow, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info)), 0);
    EXPECT_EQ(info.ptMinTrackSize.x, 80 * cellWidth + 24);
    EXPECT_EQ(info.ptMinTrackSize.y, 25 * cellHeight + 90);
    EXPECT_EQ(info.ptMaxSize.x, 1111);
    EXPECT_EQ(info.ptMaxTrackSize.y, 2222);

    // The platform applies it when the window is made smaller.
    resizeWindow(200, 150);
    RECT frame;
    GetWindowRect(mainWindow, &frame);
    EXPECT_EQ(frame.right - frame.left, 80 * cellWidth + 24);
    EXPECT_EQ(frame.bottom - frame.top, 25 * cellHeight + 90);
}

TEST_F(MainWindowTest, ResizingMovesTextAreaCaretAndStatusBar) {
    ASSERT_TRUE(takeFocus());
    sendTerminalChar('q');
    sendTerminalChar(10);
    ASSERT_EQ(cursorRow, 1);
    ASSERT_EQ(cursorCol, 1);
    RECT before = clientRect();
    TextRect oldText = textRect;

    resizeWindow(1000, 700);
    RECT client = clientRect();
    ASSERT_NE(client.bottom, before.bottom);
    int dy = client.bottom - before.bottom;
    EXPECT_EQ(textRect.left, oldText.left);
    EXPECT_EQ(textRect.right, oldText.right) << "the text area must not follow the width";
    EXPECT_EQ(textRect.top, oldText.top + dy);
    EXPECT_EQ(textRect.bottom, client.bottom - 30);
    EXPECT_EQ(textOriginY, textRect.top);
    EXPECT_EQ(cell(0, 0), 'q') << "resizing changed the cells";
    EXPECT_EQ(cursorRow, 1);
    POINT caret;
    ASSERT_TRUE(GetCaretPos(&caret));
    EXPECT_EQ(caret.x, 10 + 1 * cellWidth);
    EXPECT_EQ(caret.y, textRect.top + 1 * cellHeight);
    RECT bar = statusBarRect();
    EXPECT_EQ(bar.left, 0);
    EXPECT_EQ(bar.right, client.right);
    EXPECT_EQ(bar.bottom, client.bottom);
    EXPECT_EQ(bar.top, client.bottom - 20);

    // Narrower, same height: only the status bar's width follows.
    TextRect wide = textRect;
    resizeWindow(900, 700);
    client = clientRect();
    EXPECT_EQ(textRect.top, wide.top);
    EXPECT_EQ(textRect.right, wide.right);
    bar = statusBarRect();
    EXPECT_EQ(bar.right, client.right);
    EXPECT_EQ(bar.top, client.bottom - 20);
}

TEST_F(MainWindowTest, CaretFollowsTheCursorWhileFocused) {
    ASSERT_TRUE(takeFocus());
    GUITHREADINFO info = caretInfo();
    EXPECT_EQ(info.hwndCaret, mainWindow);
    EXPECT_EQ(info.rcCaret.right - info.rcCaret.left, cellWidth) << "caret one cell wide";
    EXPECT_EQ(info.rcCaret.bottom - info.rcCaret.top, cellHeight) << "caret one cell high";
    POINT caret;
    ASSERT_TRUE(GetCaretPos(&caret));
    EXPECT_EQ(caret.x, textOriginX);
    EXPECT_EQ(caret.y, textOriginY);

    sendTerminalChar('a');
    sendTerminalChar('b');
    sendTerminalChar(10);
    ASSERT_TRUE(GetCaretPos(&caret));
    EXPECT_EQ(caret.x, textOriginX + 2 * cellWidth);
    EXPECT_EQ(caret.y, textOriginY + cellHeight);

    // Losing the focus removes the caret; getting it back puts it at the cursor,
    // wherever characters moved it meanwhile.
    SetFocus(nullptr);
    pumpPending();
    EXPECT_EQ(caretInfo().hwndCaret, nullptr);
    sendTerminalChar('c');
    sendTerminalChar('d');
    ASSERT_TRUE(takeFocus());
    EXPECT_EQ(caretInfo().hwndCaret, mainWindow);
    ASSERT_TRUE(GetCaretPos(&caret));
    EXPECT_EQ(caret.x, textOriginX + 4 * cellWidth);
    EXPECT_EQ(caret.y, textOriginY + cellHeight);
}

TEST_F(MainWindowTest, MenuBarItemsAndStates) {
    ASSERT_EQ(GetMenuItemCount(mainMenu), 5);
    struct Expected {
        const char* text;
        int id;          // -1 for a drop-down
        int children;
    };
    const Expected bar[] = {{"&Fichier", -1, 1}, {"&Connexion", -1, 2}, {"C&apture", IDM_CAPTURE, 0},
                            {"&Proprietes", IDM_PROPERTIES, 0}, {"A propos", IDM_ABOUT, 0}};
    for (int i = 0; i < 5; ++i) {
        char text[64] = "";
        MENUITEMINFOA item;
        ZeroMemory(&item, sizeof item);
        item.cbSize = sizeof item;
        item.fMask = MIIM_STRING | MIIM_ID | MIIM_SUBMENU | MIIM_STATE | MIIM_FTYPE;
        item.dwTypeData = text;
        item.cch = sizeof text;
        ASSERT_TRUE(GetMenuItemInfoA(mainMenu, static_cast<UINT>(i), TRUE, &item)) << i;
        EXPECT_STREQ(text, bar[i].text);
        EXPECT_EQ(item.fType, static_cast<UINT>(MFT_STRING)) << text;
        EXPECT_EQ(item.fState & MFS_GRAYED, 0u) << text;
        if (bar[i].id < 0) {
            ASSERT_NE(item.hSubMenu, nullptr) << text;
            EXPECT_EQ(GetMenuItemCount(item.hSubMenu), bar[i].children) << text;
        } else {
            EXPECT_EQ(item.hSubMenu, nullptr) << text;
            EXPECT_EQ(item.wID, static_cast<UINT>(bar[i].id)) << text;
        }
    }
    HMENU file = GetSubMenu(mainMenu, 0);
    HMENU link = GetSubMenu(mainMenu, 1);
    char text[64] = "";
    EXPECT_EQ(GetMenuItemID(file, 0), static_cast<UINT>(IDM_QUIT));
    GetMenuStringA(file, 0, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&Quitter");
    EXPECT_EQ(GetMenuItemID(link, 0), static_cast<UINT>(IDM_LISTEN));
    GetMenuStringA(link, 0, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&Mise en ecoute");
    EXPECT_EQ(GetMenuItemID(link, 1), static_cast<UINT>(IDM_DISCONNECT));
    GetMenuStringA(link, 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&Deconnexion");
    // Only "&Deconnexion" is grayed at start.
    EXPECT_EQ(menuState(IDM_QUIT) & MF_GRAYED, 0);
    EXPECT_EQ(menuState(IDM_LISTEN) & MF_GRAYED, 0);
    EXPECT_EQ(menuState(IDM_DISCONNECT) & MF_GRAYED, MF_GRAYED);
    EXPECT_EQ(menuState(IDM_CAPTURE) & (MF_GRAYED | MF_POPUP), 0);
    EXPECT_EQ(menuState(IDM_PROPERTIES) & MF_GRAYED, 0);
    EXPECT_EQ(menuState(IDM_ABOUT) & MF_GRAYED, 0);
    EXPECT_EQ(menuState(IDM_CAPTURE_STOP), -1) << "the capture drop-down exists only while capturing";
}

TEST_F(MainWindowTest, AboutEndsWhicheverWayItIsClosed) {
    HWND about = nullptr;
    LONG style = 0;
    RECT shown = {0, 0, 0, 0};
    RECT units = {60, 60, 0, 0};
    queueDialogScript([&](HWND dialog) {
        about = dialog;
        style = GetWindowLongA(dialog, GWL_STYLE);
        POINT corner = {0, 0};
        ClientToScreen(dialog, &corner);
        shown = {corner.x, corner.y, 0, 0};
        MapDialogRect(dialog, &units);
        pressButton(dialog, IDCANCEL);  // Esc
    });
    sendCommand(IDM_ABOUT);
    ASSERT_EQ(dialogsSeen.size(), 1u);
    const DialogSeen& seen = dialogsSeen[0];
    EXPECT_EQ(seen.caption, "A propos");
    EXPECT_EQ(seen.owner, mainWindow);
    EXPECT_EQ(seen.focusId, IDOK) << "the focus starts on \"Ok\"";
    ASSERT_GE(seen.texts.size(), 1u);
    EXPECT_EQ(seen.texts[0], "Zidevi VAD eve 0");
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(IsWindow(about)) << "Esc did not end the About box";
    // "Ok" ends it too, and the program goes on.
    queueDialogScript([](HWND dialog) { pressButton(dialog, IDOK); });
    sendCommand(IDM_ABOUT);
    EXPECT_EQ(dialogsSeen.size(), 2u);
    EXPECT_TRUE(IsWindow(mainWindow));
    EXPECT_TRUE(IsWindowEnabled(mainWindow));
    // Its client area stands 60 dialog units to the right of and below the main
    // window's client corner.
    POINT origin = {0, 0};
    ClientToScreen(mainWindow, &origin);
    EXPECT_EQ(shown.left, origin.x + units.left);
    EXPECT_EQ(shown.top, origin.y + units.top);
}

namespace {
std::vector<std::string> shutdownSteps;
std::vector<std::string> shutdownProblems;

// Called before each release step: checks that the previous step really happened.
void recordShutdownStep(const char* step) {
    std::string name = step;
    if (name == "grid" && sessionPath != nullptr) shutdownProblems.push_back("sessionPath kept");
    if (name == "caret" && screenBuffer != nullptr) shutdownProblems.push_back("grid kept");
    if (name == "captureFile" && caretInfo().hwndCaret != nullptr) {
        shutdownProblems.push_back("caret kept");
    }
    if (name == "link" && captureFile != NO_FILE) shutdownProblems.push_back("capture file kept");
    if (name == "sockets" && (serverSocket != NO_SOCKET || serverState != SERVER_IDLE)) {
        shutdownProblems.push_back("socket kept");
    }
    shutdownSteps.push_back(name);
}
}  // namespace

TEST_F(MainWindowTest, DestroyReleasesInOrderAndQuitsWithZero) {
    ASSERT_TRUE(takeFocus());
    ASSERT_NE(caretInfo().hwndCaret, nullptr);
    std::string capture = scratchPath("shutdown-capture.txt");
    copyTextField(capturePath, sizeof capturePath, capture.c_str());
    queueDialogScript([](HWND dialog) { pressButton(dialog, IDOK); });
    sendCommand(IDM_CAPTURE);
    ASSERT_NE(captureFile, NO_FILE);
    unsigned short port = freeLoopbackPort();
    ASSERT_TRUE(listenOn(port));
    SOCKET peer = connectPeer(port);
    ASSERT_NE(peer, INVALID_SOCKET);
    ASSERT_TRUE(pumpUntil([] { return serverState == SERVER_CONNECTED; }));

    shutdownSteps.clear();
    shutdownProblems.clear();
    shutdownTrace = recordShutdownStep;
    DestroyWindow(mainWindow);
    const std::vector<std::string> expected = {"sessionPath", "grid", "caret", "captureFile",
                                               "link", "sockets", "quit"};
    EXPECT_EQ(shutdownSteps, expected);
    EXPECT_TRUE(shutdownProblems.empty()) << shutdownProblems.front();
    EXPECT_EQ(captureMode, CAPTURE_OFF);
    MSG quit;
    ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, 0u);
    // The peer sees the connection end; the capture file can be opened again.
    bool closed = false;
    receiveBytes(peer, 1, 5000, &closed);
    EXPECT_TRUE(closed);
    closesocket(peer);
    HANDLE again = CreateFileA(capture.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    if (again != INVALID_HANDLE_VALUE) CloseHandle(again);
    DeleteFileA(capture.c_str());
}

namespace {
// Runs in a child process: quits through the menu, answers No to the save
// question and leaves with what the message loop returned. A loop that misses its
// quit message never returns, so a timer ends the child instead.
void CALLBACK endTheStuckChild(HWND, UINT, UINT_PTR, DWORD) {
    std::fprintf(stderr, "the message loop did not end within 15 s of the quit command\n");
    std::fflush(stderr);
    ExitProcess(7);
}

void quitThroughTheMenuAndExit() {
    defaultYesNoAnswer = IDNO;
    PostMessageA(mainWindow, WM_COMMAND, IDM_QUIT, 0);
    SetTimer(nullptr, 0, 15000, endTheStuckChild);
    int code = runMessageLoop();
    int result = 0;
    if (code != 0) {
        std::fprintf(stderr, "the message loop returned %d\n", code);
        result = 2;
    } else if (IsWindow(mainWindow)) {
        std::fprintf(stderr, "the main window is still there\n");
        result = 3;
    } else if (dialogsSeen.size() != 1 || dialogsSeen[0].caption != "Fin de session" ||
               dialogsSeen[0].texts != std::vector<std::string>{"Voulez-vous enregistrer la session?"} ||
               dialogsSeen[0].buttons != std::vector<int>{IDYES, IDNO}) {
        std::fprintf(stderr, "the save question was not asked as expected\n");
        result = 4;
    }
    std::fflush(stderr);
    std::fflush(stdout);
    ExitProcess(static_cast<UINT>(result));
}
}  // namespace

TEST_F(MainWindowTest, QuitCommandAsksThenEndsTheMessageLoopWithZero) {
    EXPECT_EXIT(quitThroughTheMenuAndExit(), ::testing::ExitedWithCode(0), "");
}

namespace {
int gridAllocations = 0;
void* failSecondAllocation(std::size_t size) {
    return ++gridAllocations == 2 ? nullptr : std::malloc(size);
}
}  // namespace

TEST(MainWindowWithoutMemory, GridFailureIsToldAndTheWindowStillWorks) {
    clearDialogsSeen();
    gridAllocations = 0;
    allocateGridBuffer = failSecondAllocation;
    ASSERT_TRUE(createMainWindow(""));
    allocateGridBuffer = std::malloc;
    ASSERT_EQ(dialogsSeen.size(), 1u);
    EXPECT_EQ(dialogsSeen[0].caption, "erreur");
    ASSERT_EQ(dialogsSeen[0].texts.size(), 1u);
    EXPECT_EQ(dialogsSeen[0].texts[0], "Not enough memory.");
    EXPECT_EQ(dialogsSeen[0].owner, mainWindow) << "owned by the window being created";
    EXPECT_EQ(dialogsSeen[0].buttons, std::vector<int>{IDOK});
    EXPECT_FALSE(screenGridReady());
    EXPECT_EQ(screenBuffer, nullptr);
    // Characters, tabs, form feeds and painting leave the missing grid alone.
    sendTerminalChar('A');
    sendTerminalChar(9);
    sendTerminalChar(12);
    sendTerminalChar(10);
    InvalidateRect(mainWindow, nullptr, TRUE);
    UpdateWindow(mainWindow);
    EXPECT_TRUE(IsWindow(mainWindow));
    destroyMainWindow();
    EXPECT_EQ(dialogsStuck, 0);
}

TEST_F(MainWindowTest, AfterAShrinkOrAGrowTheWindowLooksAsAFreshPaintDrawsIt) {
    HideCaret(mainWindow);
    for (int i = 0; i < 40; ++i) {
        std::string line = "row " + std::to_string(i) + std::string(60, static_cast<char>('A' + i % 26)) + "\r\n";
        showReceivedBytes(line);
    }
    Point smallest = minimumTrackSize(windowFrameSize(mainWindow));
    const POINT sizes[] = {{smallest.x, smallest.y}, {1000, 760}, {smallest.x + 3, smallest.y + 5}};
    for (const POINT& size : sizes) {
        SCOPED_TRACE(std::to_string(size.x) + " by " + std::to_string(size.y));
        resizeWindow(size.x, size.y);
        UpdateWindow(mainWindow);
        UpdateWindow(statusBar);
        RECT client = clientRect();
        std::vector<DWORD> shown = windowPixels(client);
        RedrawWindow(mainWindow, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        std::vector<DWORD> fresh = windowPixels(client);
        EXPECT_EQ(differences(shown, fresh, client.right), "") << "left by the old layout";
    }
    ShowCaret(mainWindow);
}

// ---- the window at other display scales ------------------------------------------

namespace {

// Where a frame line's pen of width `pen` ends after the line's own coordinate.
int penAfter(int pen) {
    return pen - pen / 2;
}

// What a user must see in the window as it is now: the whole frame and all 25 rows
// in the client area, above the status bar, which spans the client bottom at its
// own height. Adds what is wrong to `problems`.
void checkFrameAndRowsFit(const std::string& when, std::vector<std::string>* problems) {
    const RECT client = clientRect();
    const RECT bar = statusBarRect();
    const TerminalFrame frame = terminalFrame();
    const int pen = framePenWidth();
    const int midX = (textRect.left + textRect.right) / 2;
    const int midY = (textRect.top + textRect.bottom) / 2;
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    struct Check {
        bool holds;
        const char* what;
    };
    const Check checks[] = {
        {bar.left == 0 && bar.right == client.right && bar.bottom == client.bottom,
         "the status bar does not span the client bottom"},
        {bar.top == client.bottom - statusBarHeight, "the layout has not the status bar's height"},
        {frame.start.x >= 0, "the frame's left line is off the client area"},
        {frame.topLeft.y - pen / 2 >= 0, "the frame's top line is off the client area"},
        {frame.topRight.x + penAfter(pen) <= client.right, "the frame's right line is cut"},
        {frame.start.y + penAfter(pen) <= bar.top, "the status bar covers the frame's bottom line"},
        {gridRows == GRID_ROWS_SHOWN && textRect.bottom - textRect.top == gridRows * cellHeight,
         "the text area does not hold 25 rows"},
        {textRect.top >= 0 && cellPosition(gridRows - 1, 0).y + cellHeight <= bar.top,
         "a row is off the client area or under the status bar"},
        {textRect.left + gridColumns * cellWidth <= textRect.right && textRect.right <= client.right,
         "the text area does not hold the grid's columns"},
        {pixelAt(midX, frame.topLeft.y) == RGB(255, 255, 255), "no white top line where the frame is"},
        {pixelAt(frame.topRight.x, midY) == shadow, "no shadow line on the right where the frame is"},
        {pixelAt(midX, frame.start.y + penAfter(pen) - 1) == shadow,
         "the frame's bottom line does not show whole"},
    };
    for (const Check& check : checks) {
        if (!check.holds) problems->push_back(when + ": " + check.what);
    }
}

// The cell measured at `dpi` against the cell of the 96-DPI font scaled to it: equal
// within one pixel in each direction.
bool cellIsTheScaledCell(int dpi) {
    TEXTMETRICA at96 = terminalFontMetrics();
    return std::abs(cellWidth * 96 - at96.tmAveCharWidth * dpi) <= 96 &&
           std::abs(cellHeight * 96 - at96.tmHeight * dpi) <= 96;
}

std::string sizeText(int width, int height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

std::string sizeText(const RECT& r) {
    return sizeText(r.right - r.left, r.bottom - r.top);
}

DWORD WINAPI endAHungCheck(LPVOID) {
    Sleep(60000);
    std::fprintf(stderr, "the checks did not end within 60 s\n");
    std::fflush(stderr);
    ExitProcess(99);
}

// Runs in a process that Wine started at `dpi`: the program's window at that scale,
// at its default size and at its minimum size, with the chunks' drawing compared to
// full repaints. Ends the process with the number of problems found, told on stderr.
void checkTheWindowAtThisScaleAndExit(int dpi) {
    // A watchdog, so that a hung check cannot keep the display scale changed.
    CreateThread(nullptr, 0, endAHungCheck, nullptr, 0, nullptr);
    std::vector<std::string> problems;
    if (!createMainWindow("")) {
        std::fprintf(stderr, "no main window\n");
        ExitProcess(98);
    }
    HideCaret(mainWindow);  // the solid caret would read as dark cells
    if (windowDpi(mainWindow) != dpi || layoutDpi != dpi) {
        problems.push_back("the window runs at " + std::to_string(windowDpi(mainWindow)) +
                           " DPI, its layout at " + std::to_string(layoutDpi));
    }
    const TEXTMETRICA at96 = terminalFontMetrics();
    if (!cellIsTheScaledCell(dpi)) {
        problems.push_back("the cell " + sizeText(cellWidth, cellHeight) + " is not the 96-DPI cell " +
                           sizeText(at96.tmAveCharWidth, at96.tmHeight) + " scaled");
    }
    if (gridColumns != (80 * at96.tmAveCharWidth - 10) / at96.tmAveCharWidth) {
        problems.push_back("the grid has " + std::to_string(gridColumns) + " columns");
    }
    RECT window;
    GetWindowRect(mainWindow, &window);
    if (window.right > GetSystemMetrics(SM_CXSCREEN) || window.bottom > GetSystemMetrics(SM_CYSCREEN)) {
        problems.push_back("the display is too small to read the window back: " +
                           sizeText(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)));
    }
    checkFrameAndRowsFit("default window", &problems);
    for (const ChunkCase& c : chunkCases()) {
        size_t first = 0;
        if (pixelsAChunkDrawsWrong(c, &first) != 0) {
            problems.push_back(std::string("a chunk draws other pixels than a repaint: ") + c.what);
        }
    }
    const RECT defaultClient = clientRect();
    resizeWindow(200, 150);
    RECT smallest;
    GetWindowRect(mainWindow, &smallest);
    if (smallest.bottom - smallest.top >= window.bottom - window.top) {
        problems.push_back("the minimum size is the default size");
    }
    checkFrameAndRowsFit("minimum window", &problems);
    std::printf("[ measured ] %d DPI: cell %s (96 DPI: %s), window %s, client %s, status bar %d, "
                "minimum window %s\n", dpi, sizeText(cellWidth, cellHeight).c_str(),
                sizeText(at96.tmAveCharWidth, at96.tmHeight).c_str(), sizeText(window).c_str(),
                sizeText(defaultClient).c_str(), statusBarHeight, sizeText(smallest).c_str());
    std::fflush(stdout);
    destroyMainWindow();
    for (const std::string& problem : problems) std::fprintf(stderr, "%s\n", problem.c_str());
    std::fflush(stderr);
    ExitProcess(static_cast<UINT>(problems.size()));
}

const char DESKTOP_KEY[] = "Control Panel\\Desktop";

// The display scale, which Wine reads when a process starts; 0 when it is not set.
DWORD logPixels() {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegGetValueA(HKEY_CURRENT_USER, DESKTOP_KEY, "LogPixels", RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS) {
        return 0;
    }
    return value;
}

void setLogPixels(DWORD dpi) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, DESKTOP_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return;
    }
    if (dpi == 0) {
        RegDeleteValueA(key, "LogPixels");
    } else {
        RegSetValueExA(key, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
    }
    RegCloseKey(key);
}

// Checks the window in a new process started at `dpi`, and puts the display scale
// back whatever the checks found.
void expectTheWindowWholeAt(int dpi) {
    const DWORD before = logPixels();
    // The child runs this test again up to here: it finds the scale already set.
    if (before != static_cast<DWORD>(dpi)) setLogPixels(static_cast<DWORD>(dpi));
    EXPECT_EXIT(checkTheWindowAtThisScaleAndExit(dpi), ::testing::ExitedWithCode(0), "");
    setLogPixels(before);
    EXPECT_EQ(logPixels(), before);
}

}  // namespace

TEST(DisplayScale, TheWindowIsWholeAt144Dpi) {
    expectTheWindowWholeAt(144);
}

TEST(DisplayScale, TheWindowIsWholeAt192Dpi) {
    expectTheWindowWholeAt(192);
}

// Moved to a monitor at 200% and back: the window takes the suggested rectangle, the
// font and caret follow, the grid keeps its cells and cursor, and back at 100%
// everything stands where it stood.
TEST_F(MainWindowTest, ADpiChangeRescalesTheWindowAndKeepsTheGrid) {
    ASSERT_TRUE(takeFocus());
    sendTerminalChar('q');
    sendTerminalChar(10);
    sendTerminalChar('z');
    ASSERT_EQ(cursorRow, 1);
    ASSERT_EQ(cursorCol, 2);
    const std::vector<unsigned char> cells = gridCells();
    const int columns = gridColumns;
    const int rows = gridRows;
    const TextRect textBefore = textRect;
    const Point cellBefore = {cellWidth, cellHeight};
    RECT before;
    GetWindowRect(mainWindow, &before);
    RECT suggested = {before.left + 5, before.top + 7, before.left + 5 + 2 * (before.right - before.left),
                      before.top + 7 + 2 * (before.bottom - before.top)};

    EXPECT_EQ(SendMessageA(mainWindow, WM_DPICHANGED, MAKEWPARAM(192, 192),
                           reinterpret_cast<LPARAM>(&suggested)), 0);
    pumpPending();
    EXPECT_EQ(layoutDpi, 192);
    EXPECT_TRUE(cellIsTheScaledCell(192)) << cellWidth << " x " << cellHeight;
    RECT moved;
    GetWindowRect(mainWindow, &moved);
    EXPECT_TRUE(EqualRect(&moved, &suggested)) << "the window is " << sizeText(moved) << " at "
                                               << moved.left << ", " << moved.top;
    EXPECT_EQ(gridColumns, columns);
    EXPECT_EQ(gridRows, rows);
    EXPECT_EQ(gridCells(), cells) << "the cells changed";
    EXPECT_EQ(cursorRow, 1);
    EXPECT_EQ(cursorCol, 2);
    GUITHREADINFO caret = caretInfo();
    EXPECT_EQ(caret.hwndCaret, mainWindow);
    EXPECT_EQ(caret.rcCaret.right - caret.rcCaret.left, cellWidth) << "caret one new cell wide";
    EXPECT_EQ(caret.rcCaret.bottom - caret.rcCaret.top, cellHeight) << "caret one new cell high";
    EXPECT_EQ(caret.rcCaret.left, textOriginX + 2 * cellWidth);
    EXPECT_EQ(caret.rcCaret.top, textOriginY + cellHeight);
    std::vector<std::string> problems;
    checkFrameAndRowsFit("at 192 DPI", &problems);
    EXPECT_TRUE(problems.empty()) << problems.front();

    EXPECT_EQ(SendMessageA(mainWindow, WM_DPICHANGED, MAKEWPARAM(96, 96),
                           reinterpret_cast<LPARAM>(&before)), 0);
    pumpPending();
    GetWindowRect(mainWindow, &moved);
    EXPECT_TRUE(EqualRect(&moved, &before));
    EXPECT_EQ(cellWidth, cellBefore.x);
    EXPECT_EQ(cellHeight, cellBefore.y);
    expectRectEqualsTextRect(RECT{textBefore.left, textBefore.top, textBefore.right, textBefore.bottom});
    EXPECT_EQ(statusBarHeight, 20);
    EXPECT_EQ(statusBarRect().top, clientRect().bottom - 20);
}
