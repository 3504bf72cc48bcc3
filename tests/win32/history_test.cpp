// The history, the selection and the clipboard with real input: the mouse and keys
// come through SendInput, the text through the system's clipboard, a paste reaches
// a real peer socket.
#include <cstring>
#include <string>

#include "app/app_win32.h"
#include "harness.h"

#include <psapi.h>
#include "net/link.h"
#include "net/outgoing.h"
#include "terminal/history_view.h"
#include "terminal/layout.h"
#include "terminal/screen.h"
#include "ui/resource.h"

namespace {

void feed(const std::string& bytes) {
    showReceivedBytes(bytes);
}

// The centre of a cell of the view, in screen coordinates.
POINT cellOnScreen(int viewRow, int col) {
    Point cell = cellPosition(viewRow, col);
    POINT p = {cell.x + cellWidth / 2, cell.y + cellHeight / 2};
    ClientToScreen(mainWindow, &p);
    return p;
}

INPUT mouseInput(DWORD flags, POINT at = POINT{0, 0}, int wheel = 0) {
    INPUT input;
    ZeroMemory(&input, sizeof input);
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    input.mi.mouseData = static_cast<DWORD>(wheel);
    if (flags & MOUSEEVENTF_ABSOLUTE) {
        input.mi.dx = MulDiv(at.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
        input.mi.dy = MulDiv(at.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    }
    return input;
}

void moveMouseTo(POINT at) {
    INPUT move = mouseInput(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, at);
    SendInput(1, &move, sizeof move);
}

// A press on one cell, a move to another, a release there: real mouse input.
void dragWithTheMouse(int fromRow, int fromCol, int toRow, int toCol) {
    moveMouseTo(cellOnScreen(fromRow, fromCol));
    pumpPending();
    INPUT press = mouseInput(MOUSEEVENTF_LEFTDOWN);
    SendInput(1, &press, sizeof press);
    pumpPending();
    moveMouseTo(cellOnScreen(toRow, toCol));
    pumpPending();
    INPUT release = mouseInput(MOUSEEVENTF_LEFTUP);
    SendInput(1, &release, sizeof release);
}

void pressShiftWith(WORD key) {
    const WORD keys[2] = {VK_SHIFT, key};
    pressKeys(keys, 2);
}

// The clipboard's text, or "(none)" when it holds no text.
std::string clipboardText() {
    std::string text = "(none)";
    if (!OpenClipboard(nullptr)) return text;
    HANDLE block = GetClipboardData(CF_TEXT);
    const char* data = block != nullptr ? static_cast<const char*>(GlobalLock(block)) : nullptr;
    if (data != nullptr) {
        text = data;
        GlobalUnlock(block);
    }
    CloseClipboard();
    return text;
}

// Puts `text`, `times` over, on the clipboard as one CF_TEXT block.
bool putOnClipboard(const std::string& text, size_t times = 1) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text.size() * times + 1);
    char* data = block != nullptr ? static_cast<char*>(GlobalLock(block)) : nullptr;
    if (data == nullptr || !OpenClipboard(nullptr)) {
        if (block != nullptr) GlobalFree(block);
        return false;
    }
    for (size_t i = 0; i < times; ++i) std::memcpy(data + i * text.size(), text.data(), text.size());
    data[text.size() * times] = '\0';
    GlobalUnlock(block);
    EmptyClipboard();
    const bool set = SetClipboardData(CF_TEXT, block) != nullptr;
    if (!set) GlobalFree(block);
    CloseClipboard();
    return set;
}

// The most memory this process has held at once, in bytes.
SIZE_T peakMemory() {
    PROCESS_MEMORY_COUNTERS counters;
    ZeroMemory(&counters, sizeof counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
}

// How many pixels of a cell of the view are black.
int blackPixelsInCell(int viewRow, int col) {
    Point cell = cellPosition(viewRow, col);
    int black = 0;
    for (int y = 0; y < cellHeight; ++y) {
        for (int x = 0; x < cellWidth; ++x) black += pixelAt(cell.x + x, cell.y + y) == RGB(0, 0, 0);
    }
    return black;
}

}  // namespace

// Forty numbered lines, Shift+Page Up, a drag over two rows of the history with the
// real mouse: the rows are on the clipboard as shown, and drawn white on black.
TEST_F(MainWindowTest, ADragWithTheRealMouseCopiesWhatItSelectedToTheClipboard) {
    ASSERT_TRUE(takeFocus());
    ASSERT_TRUE(putOnClipboard("before"));
    std::string lines;
    for (int n = 1; n <= 40; ++n) lines += "line " + std::to_string(n) + " of 40   \r\n";
    feed(lines);  // lines 1 to 16 are in the history
    ASSERT_EQ(historyRows, 16);
    pressShiftWith(VK_PRIOR);
    ASSERT_TRUE(pumpUntil([] { return viewOffset() == 16; }, 5000)) << "the view is at " << viewOffset();
    UpdateWindow(mainWindow);

    // From the 8th cell of "line 2 of 40" backwards to the 3rd cell of "line 1 of 40".
    dragWithTheMouse(1, 7, 0, 2);
    ASSERT_TRUE(pumpUntil([] { return clipboardText() != "before"; }, 5000));
    EXPECT_EQ(clipboardText(), "ne 1 of 40\r\nline 2 o");
    UpdateWindow(mainWindow);
    HideCaret(mainWindow);
    // Selected blank cells are black; blank cells outside the selection are white.
    EXPECT_EQ(blackPixelsInCell(0, 12), cellWidth * cellHeight);
    EXPECT_EQ(blackPixelsInCell(1, 6), cellWidth * cellHeight);
    EXPECT_EQ(blackPixelsInCell(1, 20), 0);
    EXPECT_EQ(blackPixelsInCell(2, 30), 0);
    ShowCaret(mainWindow);

    // The wheel moves the view three rows a notch; a typed key brings the live rows back.
    moveMouseTo(cellOnScreen(10, 10));
    INPUT wheel = mouseInput(MOUSEEVENTF_WHEEL, POINT{0, 0}, -WHEEL_DELTA);
    SendInput(1, &wheel, sizeof wheel);
    UINT notch = 3;
    SystemParametersInfoA(SPI_GETWHEELSCROLLLINES, 0, &notch, 0);
    EXPECT_TRUE(pumpUntil([notch] { return viewOffset() == 16 - static_cast<int>(notch); }, 5000))
        << "the view is at " << viewOffset();
    const WORD key = 'A';
    pressKeys(&key, 1);
    EXPECT_TRUE(pumpUntil([] { return viewOffset() == 0; }, 5000)) << "the view is at " << viewOffset();
}

// A right-click in the text area and Shift+Insert send the clipboard's text to the
// peer, its line ends as Enter sends them.
TEST_F(MainWindowTest, APasteReachesThePeerAsEnterSendsLineEnds) {
    ASSERT_TRUE(takeFocus());
    SOCKET peer = connectedPeer();
    ASSERT_NE(peer, INVALID_SOCKET);
    ASSERT_TRUE(putOnClipboard("show version\r\nshow clock\nexit"));

    moveMouseTo(cellOnScreen(12, 40));
    pumpPending();
    INPUT right[2] = {mouseInput(MOUSEEVENTF_RIGHTDOWN), mouseInput(MOUSEEVENTF_RIGHTUP)};
    SendInput(2, right, sizeof right[0]);
    const std::string expected = "show version\rshow clock\rexit";
    EXPECT_EQ(receiveBytes(peer, expected.size(), 5000), expected);

    // A second right-click within the double-click time pastes too.
    ASSERT_TRUE(putOnClipboard("ab"));
    SendInput(2, right, sizeof right[0]);
    pumpUntil([] { return false; }, 100);
    SendInput(2, right, sizeof right[0]);
    EXPECT_EQ(receiveBytes(peer, 4, 5000), "abab");

    ASSERT_TRUE(putOnClipboard("\n"));
    SendMessageA(mainWindow, WM_CHAR, 'k', 1);  // a typed byte, then the paste after it
    pressShiftWith(VK_INSERT);
    EXPECT_EQ(receiveBytes(peer, 2, 5000), "k\r");
    closesocket(peer);
}

// A log of 256 MB copied from an editor is far more than the room for typed bytes:
// it is refused as it lies on the clipboard, without a copy, and the program goes on.
TEST_F(MainWindowTest, AHugeClipboardIsRefusedWithoutACopy) {
    ASSERT_TRUE(takeFocus());
    SOCKET peer = connectedPeer();
    ASSERT_NE(peer, INVALID_SOCKET);
    const std::string line = "12:00:00 ok\r\n";  // 16 bytes, 2 of them one CR LF
    const size_t lines = (256u << 20) / line.size();
    ASSERT_TRUE(putOnClipboard(line, lines));
    const SIZE_T before = peakMemory();

    moveMouseTo(cellOnScreen(12, 40));
    pumpPending();
    pressShiftWith(VK_INSERT);
    const WORD key = 'K';
    pressKeys(&key, 1);  // after the paste, in the same input queue
    EXPECT_EQ(receiveBytes(peer, 1, 20000), "k");
    EXPECT_EQ(bytesWaitingToSend(), 0u);
    const SIZE_T rise = peakMemory() - before;
    EXPECT_LT(rise, line.size() * lines * 3 / 2) << "the peak rose by " << (rise >> 20) << " MB";
    closesocket(peer);
}


namespace {

// How many pixels of a view cell show `colour`.
int pixelsOfColourInCell(int row, int col, COLORREF colour) {
    const Point cell = cellPosition(row, col);
    int count = 0;
    for (int y = 0; y < cellHeight; ++y) {
        for (int x = 0; x < cellWidth; ++x) count += pixelAt(cell.x + x, cell.y + y) == colour;
    }
    return count;
}

const COLORREF SENT_BLUE = RGB(0, 0, 192);

// With "Echo local" checked, typed keys and a paste show in blue in the text view as
// they go, and neither reaches the capture, which holds what the peer sent.
TEST_F(MainWindowTest, TheEchoShowsTypedAndPastedTextInBlueAndIsNotCaptured) {
    ASSERT_TRUE(takeFocus());
    SOCKET peer = connectedPeer();
    ASSERT_NE(peer, INVALID_SOCKET);
    const std::string capture = scratchPath("echo-capture.txt");
    ASSERT_TRUE(startCaptureOn(capture));
    HideCaret(mainWindow);  // the solid caret would cover a cell
    SendMessageA(mainWindow, WM_SYSCOMMAND, IDM_LOCAL_ECHO, 0);
    EXPECT_EQ(GetMenuState(GetSystemMenu(mainWindow, FALSE), IDM_LOCAL_ECHO, MF_BYCOMMAND) & MF_CHECKED,
              static_cast<UINT>(MF_CHECKED));

    const WORD keys[3] = {'H', 'I', VK_RETURN};
    for (WORD key : keys) pressKeys(&key, 1);
    EXPECT_EQ(receiveBytes(peer, 3, 5000), "hi\r");
    ASSERT_TRUE(putOnClipboard("ok\r\nno"));
    pressShiftWith(VK_INSERT);
    EXPECT_EQ(receiveBytes(peer, 6, 5000), "ok\rno");
    ASSERT_TRUE(sendAll(peer, "\r\nfrom the peer"));
    ASSERT_TRUE(pumpUntil([] { return gridCell(1, 12) == 'r'; }, 5000));
    ASSERT_TRUE(pumpUntil([] { return pixelsOfColourInCell(1, 0, RGB(0, 0, 0)) > 0; }, 5000));

    // The Enter's CR took the echo home: "ok" over "hi", "no" over "ok".
    EXPECT_EQ(gridCell(0, 0), 'n');
    EXPECT_EQ(gridCell(0, 1), 'o');
    EXPECT_GT(pixelsOfColourInCell(0, 0, SENT_BLUE), 0);
    EXPECT_GT(pixelsOfColourInCell(0, 1, SENT_BLUE), 0);
    EXPECT_EQ(pixelsOfColourInCell(0, 1, RGB(0, 0, 0)), 0);
    EXPECT_EQ(pixelsOfColourInCell(1, 0, SENT_BLUE), 0) << "the peer's text is not blue";
    sendCommand(IDM_CAPTURE_STOP);
    EXPECT_EQ(readWholeFile(capture), "\r\nfrom the peer");
    closesocket(peer);
}

// "Touche Entree": what Enter and a paste's line ends send, chosen as Windows sends
// a submenu's item (a system command) or as Wine does (a command).
TEST_F(MainWindowTest, EachEnterEndingReachesThePeerTypedAndPasted) {
    ASSERT_TRUE(takeFocus());
    SOCKET peer = connectedPeer();
    ASSERT_NE(peer, INVALID_SOCKET);
    HMENU system = GetSystemMenu(mainWindow, FALSE);
    EXPECT_EQ(GetMenuState(system, IDM_ENTER_CR, MF_BYCOMMAND) & MF_CHECKED, static_cast<UINT>(MF_CHECKED));
    struct Ending {
        int command;
        UINT message;
        const char* sent;
    };
    const Ending endings[] = {{IDM_ENTER_LF, WM_SYSCOMMAND, "\n" "a\nb\nc\n"},
                              {IDM_ENTER_CR_LF, WM_COMMAND, "\r\n" "a\r\nb\r\nc\r\n"},
                              {IDM_ENTER_CR, WM_SYSCOMMAND, "\r" "a\rb\rc\r"}};
    for (const Ending& ending : endings) {
        SendMessageA(mainWindow, ending.message, static_cast<WPARAM>(ending.command), 0);
        const UINT ids[3] = {IDM_ENTER_CR, IDM_ENTER_LF, IDM_ENTER_CR_LF};
        for (UINT id : ids) {
            EXPECT_EQ(GetMenuState(system, id, MF_BYCOMMAND) & MF_CHECKED,
                      id == static_cast<UINT>(ending.command) ? static_cast<UINT>(MF_CHECKED) : 0u);
        }
        const WORD enter = VK_RETURN;
        pressKeys(&enter, 1);
        ASSERT_TRUE(putOnClipboard("a\r\nb\rc\n"));
        pressShiftWith(VK_INSERT);
        const std::string expected = ending.sent;
        EXPECT_EQ(receiveBytes(peer, expected.size(), 5000), expected);
    }
    closesocket(peer);
}

}  // namespace
