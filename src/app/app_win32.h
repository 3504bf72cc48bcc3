// The Win32 shell: the main window, its status bar and menu, and the message loop.
#ifndef ORU_APP_WIN32_H
#define ORU_APP_WIN32_H

#include <windows.h>

#include <string>

#include "terminal/layout.h"

const UINT WM_SOCKET_NOTIFY = WM_USER;     // socket events of the listening or connected socket
const UINT WM_TERM_CHAR = WM_USER + 1;     // one character for the terminal
// Posted: the search asked for in the Find dialog found nothing more, and the box
// that says so is shown once the dialog's own handling is over.
const UINT WM_SEARCH_ENDED = WM_USER + 2;
// Posted: the bytes to send that a turn left for later may go on; the first
// parameter is the connection that asked for the turn.
const UINT WM_SENDING_MORE = WM_USER + 3;
// Posted: a host name's addresses, or why there are none (resolver_win32.cpp): from
// the background resolver, and from the older one.
const UINT WM_HOST_RESOLVED = WM_USER + 4;
const UINT WM_HOST_RESOLVED_OLD = WM_USER + 5;
// A timer of the main window: a read put off while input or painting waited.
const UINT_PTR DEFERRED_RECEIVE_TIMER = 1;
const UINT DEFERRED_RECEIVE_DELAY_MS = USER_TIMER_MINIMUM;
// The other timer: the display frames while received bytes keep changing the grid.
const UINT_PTR SCREEN_DRAWING_TIMER = 2;
// A turn of sending put off while input or painting waited.
const UINT_PTR SENDING_TIMER = 3;
// The reply rules: the next delayed reply or timed send due.
const UINT_PTR RULES_TIMER = 4;
const UINT_PTR JOURNAL_TIMER = 5;
// Reaching a device: an address's time to answer, or a second of the wait before
// the next try.
const UINT_PTR CONNECT_TIMER = 6;
const char MAIN_WINDOW_CLASS[] = "App";

extern HINSTANCE appInstance;
extern HWND mainWindow;
extern HWND statusBar;
extern HMENU mainMenu;

// Called with the name of each release step of the window's destruction, in order,
// when set (the Win32 tests set it to record the order).
extern void (*shutdownTrace)(const char* step);

// The window the program draws in and owns its boxes with: the main window, or
// during its creation the window being created.
HWND ownerWindow();

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Start-up up to the message loop: the menu, the window class, the window, the
// status bar, the command line, showing the window, Windows Sockets. False when the
// window class cannot be registered.
bool startApplication(HINSTANCE instance, const char* commandLine, int showCommand);
// Runs the message loop until the quit message; returns its code.
int runMessageLoop();
// What every message loop of the program does with a message before translating
// and dispatching it: the program's keys that type nothing (F2, F3, Shift+F3, F4) are
// translated for the main window whichever of its windows has the keyboard, and a
// modeless dialog's messages go to it. True when the message was taken.
bool takeProgramWindowsMessage(MSG* message);
// The screen drawing timer's message: a frame has come.
void onScreenDrawingFrame(HWND window);

// The terminal's window side (view_win32.cpp).
// Measures the terminal font and keeps it for drawing until releaseTerminalFont.
void measureTerminalFont(HWND window);
void releaseTerminalFont();
void onTerminalSize(HWND window, int clientWidth, int clientHeight);
void onTerminalFocus(HWND window, bool gained);
void paintTerminal(HWND window);
// The mouse over the text area: a drag with the left button selects and copies, a
// double-click selects and copies a word, the right button pastes.
void onTerminalMouse(HWND window, UINT message, LPARAM position);
// The window lost the mouse during a drag: the drag ends where the mouse is.
void onTerminalCaptureLost();
// The mouse wheel moves the view through the history.
void onTerminalWheel(WPARAM wParam);
// Shift with Page Up, Page Down, Home or End moves the view; Shift+Insert pastes.
void onTerminalKey(WPARAM key);
void destroyTerminalCaret();

// Finding in the rows of the view (find_win32.cpp).
// Opens the system's Find dialog, or brings it forward when it is open.
void openFindDialog();
// F3 (or with Shift, the other way): the text searched last, found again; the
// dialog opens when nothing has been searched yet. The box that tells the end of the
// search is owned by the main window, and the focus goes back where it was.
void findAgain(bool otherWay);
// The Find dialog's search found nothing more: the box that says so, owned by the
// dialog while it is open.
void onSearchEnded();
// Hands a message meant for the open Find dialog to it; true when it took it.
bool takeFindDialogMessage(MSG* message);
// The send dialog (send_win32.cpp).
// Opens it, or brings it forward when it is open.
void openSendDialog();
// Hands a message meant for the open send dialog to it; true when it took it.
bool takeSendDialogMessage(MSG* message);
// The link's state changed: the dialog's buttons follow it.
void showLinkInSendDialog();
// The answers of the name resolvers (resolver_win32.cpp).
void onHostResolvedMessage(WPARAM error, LPARAM request);
void onOldHostResolvedMessage(WPARAM handle, LPARAM outcome);
// The connect dialog (connect_win32.cpp): "Se connecter a...", only while idle.
void openConnectDialog();
// The reply rules dialog (rules_win32.cpp): opens it, or brings it forward when it
// is open.
void openRulesDialog();
// Hands a message meant for the open rules dialog to it; true when it took it.
bool takeRulesDialogMessage(MSG* message);
// The Find dialog's registered message: a search asked for, or the dialog closed.
// False for any other message.
bool onFindMessage(UINT message, LPARAM lParam);
// The window's DPI: the monitor's where Windows tells it per window, else the
// system's.
int windowDpi(HWND window);
// What the window's frame, caption and menu add to its client area at layoutDpi.
Point windowFrameSize(HWND window);
// Once the status bar exists: the layout takes the bar's real height and the
// window takes the size its scale asks for.
void fitWindowToScale(HWND window);
// The window's DPI changed (WM_DPICHANGED): the font is measured again, the window
// moved to the suggested rectangle, the layout redone and the caret made anew; the
// grid keeps its cells and cursor.
void onTerminalDpiChanged(HWND window, int dpi, const RECT& suggested);

// What a file chooser asks: its owner, caption and filter, the extension a name
// without one takes, and the folder it opens in (null: the proposed path's, or the
// last one).
struct FileChoice {
    HWND owner;
    const wchar_t* caption;
    const wchar_t* filter;
    const wchar_t* extension;
    const wchar_t* initialFolder;
};
// The system's Save As chooser, proposing `proposed` (ANSI): true with the path
// chosen, in the ANSI code page, in `chosen`; false when it was cancelled. A name
// that the code page cannot hold is refused with a box that says so, and the
// chooser asks again.
bool chooseAnsiPathToSave(const FileChoice& choice, const char* proposed, std::string* chosen);
// The system's Open chooser (an existing file), or its Save As chooser (asking
// before a file is replaced): the path chosen, in UTF-8, whatever its script; empty
// when it was cancelled.
std::string chooseFileByName(const FileChoice& choice, bool toSave);

// The program's modeless dialogs (send, rules), Unicode windows owned by the main
// window. Opens the dialog `dialogId` into `*dialog`, or brings it forward when it is
// open; false when it could not be made.
bool openModelessDialog(HWND* dialog, int dialogId, DLGPROC procedure);
// Places a dialog at a right-hand corner of the main window's client area, its top
// one or its bottom one.
void placeAtClientCorner(HWND dialog, bool bottom);

// Texts between the program (UTF-8, or the ANSI code page where the description
// keeps single-byte text) and Windows' Unicode calls.
std::wstring wideFromUtf8(const std::string& text);
std::string utf8FromWide(const std::wstring& text);
// A control's whole text, read as Unicode, as UTF-8.
std::string controlTextUtf8(HWND dialog, int control);
// The text in the ANSI code page; false when a character of it has no byte there
// (the text is then not to be used: it would name another file).
bool ansiFromWide(const std::wstring& text, std::string* ansi);

#endif
