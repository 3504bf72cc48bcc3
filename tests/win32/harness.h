// Shared helpers of the Win32 tests: the main window's life inside a test, the
// message pump with deadlines, the hook that answers every modal box and dialog,
// test peers on 127.0.0.1, and scratch files.
#ifndef ORU_WIN32_HARNESS_H
#define ORU_WIN32_HARNESS_H

#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

// ---- modal boxes and dialogs ----------------------------------------------------

// What a modal box or dialog ("#32770") showed when it came up.
struct DialogSeen {
    std::string caption;
    std::vector<std::string> texts;  // texts of its static controls, in child order
    std::vector<int> buttons;        // identifiers of its visible buttons
    HWND owner;
    int focusId;                     // control identifier of the focus, -1 if none
};

// Every dialog that came up since the last clearDialogsSeen, in order.
extern std::vector<DialogSeen> dialogsSeen;
// Dialogs that a script left open; the watchdog had to end them.
extern int dialogsStuck;

// A script drives one dialog: it runs inside that dialog's modal loop, shortly after
// the dialog was activated, and must end it (pressButton, EndDialog...).
typedef std::function<void(HWND dialog)> DialogScript;

// The next dialog to come up runs this script (scripts are used in order). When no
// script is queued, a box with Yes/No gets `defaultYesNoAnswer`, any other dialog
// its "Annuler"/IDCANCEL button when visible, else IDOK.
void queueDialogScript(DialogScript script);
extern int defaultYesNoAnswer;
void clearDialogsSeen();
void installDialogHook();
void removeDialogHook();

// Posts the click of the button `id` to a dialog, as the button itself would.
void pressButton(HWND dialog, int id);
// The box of the system's Open or Save As dialog that holds the file name; null when
// it has none that the program knows.
HWND fileNameBox(HWND chooser);
std::string controlText(HWND dialog, int id);
std::string windowText(HWND window);

// ---- the message pump -------------------------------------------------------------

// Pumps messages until `condition` holds or `timeoutMs` passes; true when it holds.
bool pumpUntil(const std::function<bool()>& condition, DWORD timeoutMs = 10000);
// Handles every message already queued, without waiting for more.
void pumpPending();
// Called with each socket notification taken by the pump, before it is dispatched.
extern std::function<void(const MSG&)> socketNotificationObserver;
// Set when the pump took a quit message, with its code.
extern bool quitSeen;
extern WPARAM quitCode;

// ---- the main window ----------------------------------------------------------------

// Runs the program's start-up (window class, window, status bar, command line,
// show, Windows Sockets) and handles what it queued. False when start-up failed.
bool createMainWindow(const char* commandLine);
// Destroys the main window if it still exists, takes its quit message, unregisters
// the class and resets the state that a new start-up does not set itself.
void destroyMainWindow();

// A test with a fresh main window, started with no argument.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

// The colour of a pixel of the main window's client area as it shows now.
COLORREF pixelAt(int x, int y);
// A rectangle of the client area as the window shows it now, read back with GDI,
// row after row; and the text area's.
std::vector<DWORD> windowPixels(const RECT& area);
std::vector<DWORD> textAreaPixels();
// Makes the main window the foreground window with the keyboard focus.
bool takeFocus();
// Real key input (SendInput): the keys pressed in order, then released in the
// other order; at most four.
void pressKeys(const WORD* keys, int count);
// A cell of the grid, and every cell of the grid, row-major.
unsigned char gridCell(int row, int col);
std::vector<unsigned char> gridCells();
// Sends one character to the terminal the way the receive path does.
void sendTerminalChar(int value);
// Received bytes as the link hands them on: the grid takes them and the window is
// told, to show them within a frame.
void showReceivedBytes(const std::string& bytes);
void sendCommand(int command);
std::string statusText();
// The menu item's state flags (MF_GRAYED, MF_POPUP...), by command; -1 if absent.
int menuState(int command);

// ---- sockets --------------------------------------------------------------------

// The IPv4 address 127.0.0.1:port.
sockaddr_in loopback(unsigned short port);
// A TCP port on 127.0.0.1 that was free a moment ago.
unsigned short freeLoopbackPort();
// Connects a test peer to 127.0.0.1:port, pumping messages while the connection is
// made. Returns the connected socket (blocking mode), or INVALID_SOCKET with the
// Winsock error in `error`.
SOCKET connectPeer(unsigned short port, int* error = nullptr);
// Sends all bytes; false on an error.
bool sendAll(SOCKET socket, const std::string& bytes);
// Receives whatever arrives within `timeoutMs` (pumping meanwhile) until `count`
// bytes are there or the peer closes; `closed` tells whether recv returned 0.
std::string receiveBytes(SOCKET socket, size_t count, DWORD timeoutMs, bool* closed = nullptr);
// Points the program at 127.0.0.1:port and listens through the menu command.
// True when the link is listening afterwards.
bool listenOn(unsigned short port);
// Listens on a free port and connects a peer to it: the peer's socket once the
// program is connected, else INVALID_SOCKET.
SOCKET connectedPeer();

// Starts a capture on `path` through the menu command, pressing "Demarrer".
// True when recording afterwards.
bool startCaptureOn(const std::string& path);


// A path of the build machine (a Unix path under Wine) as this process opens it.
std::string windowsPath(const std::string& buildPath);
// The program itself (dazirar-oru.exe of this build tree), as a path this process
// can open.
std::string programPath();

// Bytes of every value, the same for the same seed.
std::string randomBytes(size_t count, unsigned seed);

// ---- files ------------------------------------------------------------------------

// A path in the temporary folder, unique to this process and name; removed first.
std::string scratchPath(const std::string& name);
std::string readWholeFile(const std::string& path);
bool writeWholeFile(const std::string& path, const std::string& bytes);
long fileSize(const std::string& path);

#endif
