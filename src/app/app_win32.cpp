#include "app/app_win32.h"

#include <commctrl.h>
#include <winsock2.h>

#include "capture/journal.h"
#include "capture/recorder.h"
#include "net/connect.h"
#include "net/link.h"
#include "net/outgoing.h"
#include "net/rules.h"
#include "platform.h"
#include "session/session.h"
#include "session/settings.h"
#include "terminal/history_view.h"
#include "terminal/layout.h"
#include "terminal/screen.h"
#include "ui/properties.h"
#include "ui/resource.h"

HINSTANCE appInstance = nullptr;
HWND mainWindow = nullptr;
HWND statusBar = nullptr;
HMENU mainMenu = nullptr;
void (*shutdownTrace)(const char* step) = nullptr;

namespace {

HWND windowInCreation = nullptr;
// The connection whose turn of sending the sending timer brings.
unsigned sendingTimerConnection = 0;

// The program's keys that type nothing: one table, translated for the main window
// before any dialog sees the key (takeProgramWindowsMessage).
const ACCEL PROGRAM_KEYS[] = {
    {FVIRTKEY, VK_F2, IDM_OCTET_VIEW},
    {FVIRTKEY, VK_F3, IDM_FIND_NEXT},
    {FVIRTKEY | FSHIFT, VK_F3, IDM_FIND_PREVIOUS},
    {FVIRTKEY, VK_F4, IDM_SEND},
    {FVIRTKEY, VK_F5, IDM_RULES},
    {FVIRTKEY, VK_F6, IDM_CONNECT},
};
HACCEL programKeys = nullptr;

void traceShutdown(const char* step) {
    if (shutdownTrace != nullptr) shutdownTrace(step);
}

// The system menu's own items, after a separator: the menu bar stays as it is.
void addSystemMenuItems(HWND window) {
    HMENU system = GetSystemMenu(window, FALSE);
    AppendMenuA(system, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(system, MF_STRING, IDM_OCTET_VIEW, "Octets\tF2");
    AppendMenuA(system, MF_STRING, IDM_FIND, "Rechercher...\tF3");
    AppendMenuA(system, MF_STRING, IDM_SEND, "Envoyer...\tF4");
    AppendMenuA(system, MF_STRING | MF_UNCHECKED, IDM_KEEP_LISTENING, "Ecoute continue");
    AppendMenuA(system, MF_STRING, IDM_RULES, "Reponses automatiques...\tF5");
    AppendMenuA(system, MF_STRING | MF_UNCHECKED, IDM_ANSI_SEQUENCES, "Sequences ANSI");
    AppendMenuA(system, MF_STRING | MF_UNCHECKED, IDM_LOCAL_ECHO, "Echo local");
    HMENU enter = CreatePopupMenu();
    const UINT enterItems[] = {IDM_ENTER_CR, IDM_ENTER_LF, IDM_ENTER_CR_LF};
    const char* const enterTexts[] = {"CR", "LF", "CR LF"};
    for (int i = 0; i < 3; ++i) {
        AppendMenuA(enter, MF_STRING, enterItems[i], enterTexts[i]);
        MENUITEMINFOA radio;
        ZeroMemory(&radio, sizeof radio);
        radio.cbSize = sizeof radio;
        radio.fMask = MIIM_FTYPE;
        radio.fType = MFT_STRING | MFT_RADIOCHECK;
        SetMenuItemInfoA(enter, enterItems[i], FALSE, &radio);
    }
    CheckMenuItem(enter, IDM_ENTER_CR, MF_BYCOMMAND | MF_CHECKED);
    AppendMenuA(system, MF_POPUP, reinterpret_cast<UINT_PTR>(enter), "Touche Entree");
    AppendMenuA(system, MF_STRING | MF_UNCHECKED, IDM_JOURNAL, JOURNAL_ITEM_TEXT);
    AppendMenuA(system, MF_STRING, IDM_SAVE_OCTETS, "Enregistrer les octets...");
    AppendMenuA(system, MF_STRING, IDM_CONNECT, "Se connecter a...\tF6");
}

// The command line after the program's name, as Windows hands it to WinMain: past
// the name (quoted or up to a blank) and the blanks after it.
const wchar_t* commandLineArguments(const wchar_t* line) {
    if (*line == L'"') {
        ++line;
        while (*line != L'\0' && *line != L'"') ++line;
        if (*line == L'"') ++line;
    } else {
        while (*line != L'\0' && *line != L' ' && *line != L'\t') ++line;
    }
    while (*line == L' ' || *line == L'\t') ++line;
    return line;
}

// The session path of the command line has a byte for each of its characters in the
// ANSI code page: otherwise the program is handed question marks in their place,
// which would name another file.
bool sessionPathHeldByCodePage() {
    std::string ansi;
    return ansiFromWide(commandLineArguments(GetCommandLineW()), &ansi);
}

void onCreate(HWND window) {
    windowInCreation = window;
    addSystemMenuItems(window);
    setLayoutDpi(windowDpi(window));
    measureTerminalFont(window);
    RECT client;
    GetClientRect(window, &client);
    layoutTextArea(client.bottom);
    createScreenGrid();
}

// The commands of the system menu's items and of the program's keys. A key of an
// item comes as the item's system command on Windows; both ways lead here.
bool onProgramCommand(int command) {
    switch (command) {
    case IDM_OCTET_VIEW: toggleOctetView(); return true;
    case IDM_FIND: openFindDialog(); return true;
    case IDM_FIND_NEXT: findAgain(false); return true;
    case IDM_FIND_PREVIOUS: findAgain(true); return true;
    case IDM_SEND: openSendDialog(); return true;
    case IDM_KEEP_LISTENING: onKeepListeningCommand(); return true;
    case IDM_RULES: openRulesDialog(); return true;
    case IDM_ANSI_SEQUENCES: toggleAnsiSequences(); return true;
    case IDM_LOCAL_ECHO: toggleLocalEcho(); return true;
    case IDM_ENTER_CR: chooseEnterEnding(ENTER_CR); return true;
    case IDM_ENTER_LF: chooseEnterEnding(ENTER_LF); return true;
    case IDM_ENTER_CR_LF: chooseEnterEnding(ENTER_CR_LF); return true;
    case IDM_JOURNAL: onJournalCommand(); return true;
    case IDM_SAVE_OCTETS: onSaveKeptBytesCommand(); return true;
    case IDM_CONNECT: openConnectDialog(); return true;
    default: return false;
    }
}

void onCommand(int command) {
    if (onProgramCommand(command)) return;
    switch (command) {
    case IDM_QUIT: PostMessageA(mainWindow, WM_CLOSE, 0, 0); break;
    case IDM_LISTEN: onListenCommand(); break;
    case IDM_DISCONNECT: onDisconnectCommand(); break;
    case IDM_CAPTURE: startCapture(); break;
    case IDM_CAPTURE_STOP: stopCapture(); break;
    case IDM_CAPTURE_PAUSE: pauseCapture(); break;
    case IDM_CAPTURE_RESUME: resumeCapture(); break;
    case IDM_PROPERTIES: onPropertiesCommand(); break;
    case IDM_ABOUT: onAboutCommand(); break;
    default: break;
    }
}

void onClose(HWND window) {
    saveSession();
    DestroyWindow(window);
}

void onDestroy() {
    traceShutdown("sessionPath");
    releaseSessionPath();
    traceShutdown("grid");
    releaseScreenGrid();
    releaseTerminalFont();
    traceShutdown("caret");
    destroyTerminalCaret();
    traceShutdown("captureFile");
    closeCaptureFile();
    traceShutdown("link");
    disconnectServer();
    stopJournal();  // after the connection's end, which it records
    traceShutdown("sockets");
    WSACleanup();
    if (programKeys != nullptr) DestroyAcceleratorTable(programKeys);
    programKeys = nullptr;
    traceShutdown("quit");
    PostQuitMessage(0);
}

}  // namespace

HWND ownerWindow() {
    return mainWindow != nullptr ? mainWindow : windowInCreation;
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: onCreate(window); return 0;
    case WM_SIZE: onTerminalSize(window, LOWORD(lParam), HIWORD(lParam)); return 0;
    case WM_SETFOCUS: onTerminalFocus(window, true); return 0;
    case WM_KILLFOCUS: onTerminalFocus(window, false); return 0;
    case WM_PAINT: paintTerminal(window); return 0;
    case WM_GETMINMAXINFO: {
        Point size = minimumTrackSize(windowFrameSize(window));
        MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize.x = size.x;
        info->ptMinTrackSize.y = size.y;
        return 0;
    }
    case WM_DPICHANGED:
        onTerminalDpiChanged(window, HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_CHAR:
        showLiveRows();  // what is typed goes with the live rows in sight
        sendTypedChar(static_cast<int>(wParam));
        return 0;
    case WM_KEYDOWN: onTerminalKey(wParam); return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_MOUSEMOVE:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
        onTerminalMouse(window, message, lParam);
        return 0;
    case WM_CAPTURECHANGED: onTerminalCaptureLost(); return 0;
    case WM_MOUSEWHEEL: onTerminalWheel(wParam); return 0;
    case WM_COMMAND: onCommand(LOWORD(wParam)); return 0;
    case WM_SYSCOMMAND:
        if (onProgramCommand(static_cast<int>(wParam & 0xFFF0))) return 0;
        return DefWindowProcA(window, message, wParam, lParam);
    case WM_SEARCH_ENDED: onSearchEnded(); return 0;
    case WM_SENDING_MORE: onSendingMoreDue(static_cast<unsigned>(wParam)); return 0;
    case WM_HOST_RESOLVED: onHostResolvedMessage(wParam, lParam); return 0;
    case WM_HOST_RESOLVED_OLD: onOldHostResolvedMessage(wParam, lParam); return 0;
    case WM_CLOSE: onClose(window); return 0;
    case WM_QUERYENDSESSION: return TRUE;
    case WM_ENDSESSION:
        if (wParam != FALSE) endWithTheSystemSession();  // the process ends after this
        return 0;
    case WM_DESTROY: onDestroy(); return 0;
    case WM_SOCKET_NOTIFY:
        onSocketNotify(static_cast<SocketHandle>(wParam), static_cast<std::uint32_t>(lParam));
        return 0;
    case WM_TERM_CHAR:  // the grid takes the character and the window shows it at once
        putTerminalChar(static_cast<int>(wParam));
        showChangesNow();
        return 0;
    case WM_TIMER:
        if (wParam == DEFERRED_RECEIVE_TIMER) {
            onDeferredReceiveDue();
        } else if (wParam == SCREEN_DRAWING_TIMER) {
            onScreenDrawingFrame(window);
        } else if (wParam == SENDING_TIMER) {
            KillTimer(window, SENDING_TIMER);
            onSendingMoreDue(sendingTimerConnection);
        } else if (wParam == JOURNAL_TIMER) {
            onJournalTimerDue();
        } else if (wParam == RULES_TIMER) {
            KillTimer(window, RULES_TIMER);
            onRulesTimerDue();
        } else if (wParam == CONNECT_TIMER) {
            KillTimer(window, CONNECT_TIMER);
            onConnectTimerDue();
        } else {
            return DefWindowProcA(window, message, wParam, lParam);
        }
        return 0;
    default:
        if (onFindMessage(message, lParam)) return 0;
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

bool startApplication(HINSTANCE instance, const char* commandLine, int showCommand) {
    serverState = SERVER_IDLE;
    appInstance = instance;
    mainMenu = LoadMenuA(instance, MAKEINTRESOURCEA(IDR_MENU));
    programKeys = CreateAcceleratorTableA(const_cast<ACCEL*>(PROGRAM_KEYS),
                                          static_cast<int>(sizeof PROGRAM_KEYS / sizeof PROGRAM_KEYS[0]));

    WNDCLASSEXA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hIconSm = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_SCROLLBAR + 1));
    windowClass.lpszMenuName = "IDD_MENU";
    windowClass.lpszClassName = MAIN_WINDOW_CLASS;
    if (RegisterClassExA(&windowClass) == 0) return false;

    mainWindow = CreateWindowExA(0, MAIN_WINDOW_CLASS, APP_TITLE, WS_OVERLAPPEDWINDOW,
                                 CW_USEDEFAULT, CW_USEDEFAULT, MAIN_WINDOW_WIDTH,
                                 MAIN_WINDOW_HEIGHT, nullptr, mainMenu, instance, nullptr);
    windowInCreation = nullptr;

    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_BAR_CLASSES;
    InitCommonControlsEx(&controls);

    RECT client;
    GetClientRect(mainWindow, &client);
    Placement bar = statusBarPlacement(client.right, client.bottom);
    statusBar = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP,
                                bar.x, bar.y, bar.width, bar.height, mainWindow, nullptr,
                                instance, nullptr);
    fitWindowToScale(mainWindow);

    if (sessionPathHeldByCodePage()) {
        applyCommandLine(commandLine);
    } else {
        showErrorBox(PATH_OUTSIDE_CODE_PAGE_TEXT, FILE_PROBLEM_CAPTION);
        applyCommandLine("");  // an unnamed session, as without one
    }
    ShowWindow(mainWindow, showCommand);

    WSADATA sockets;
    WSAStartup(MAKEWORD(2, 2), &sockets);
    return true;
}

namespace {
// The last message's handling asked whether input or painting waited, and none did
// (inputOrPaintingWaits): the loop need not look for input again before the next
// message. Each look is a trip to the system's message queue.
bool queueSeenWithoutInput = false;

// Posted messages are taken before keyboard and mouse input, and while a peer sends
// without pause a read notification is always waiting: pending input, the mouse on
// the menu bar, caption and borders included, is therefore taken first. Input that
// came since the handling of the last message looked waits one message more at
// most: a read notification looks again before it reads.
bool takePendingInput(MSG* message) {
    const bool seenWithout = queueSeenWithoutInput;
    queueSeenWithoutInput = false;
    return !seenWithout && PeekMessageW(message, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT) != FALSE;
}
}  // namespace

int runMessageLoop() {
    MSG message;
    for (;;) {
        if (!takePendingInput(&message)) {
            BOOL got = GetMessageW(&message, nullptr, 0, 0);
            if (got == -1) return 1;  // the queue could not be read: not a clean end
            if (got == 0) break;
        }
        // A filtered peek hands over the quit message too, whatever the filter.
        if (message.message == WM_QUIT) break;
        if (takeProgramWindowsMessage(&message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

namespace {
// A combo box of one of the program's dialogs has the keyboard (its edit box, or
// the combo box itself).
bool dialogComboBoxHasKeyboard() {
    HWND focus = GetFocus();
    for (HWND window = focus; window != nullptr && window != mainWindow; window = GetParent(window)) {
        char name[16] = "";
        GetClassNameA(window, name, sizeof name);
        if (lstrcmpiA(name, "ComboBox") == 0) return true;
        if (window != focus) break;  // the focus and its parent only
    }
    return false;
}

// F4 in a combo box opens its list, as everywhere in Windows.
bool keyForComboBox(const MSG& message) {
    return message.message == WM_KEYDOWN && message.wParam == VK_F4 && dialogComboBoxHasKeyboard();
}
}  // namespace

bool takeProgramWindowsMessage(MSG* message) {
    if (programKeys != nullptr && mainWindow != nullptr && !keyForComboBox(*message) &&
        TranslateAcceleratorW(mainWindow, programKeys, message)) {
        return true;
    }
    return takeFindDialogMessage(message) || takeSendDialogMessage(message) || takeRulesDialogMessage(message);
}

// ---- shell operations of the seam ----------------------------------------------

void showErrorBox(const char* text, const char* caption) {
    MessageBoxW(ownerWindow(), wideFromUtf8(text).c_str(), wideFromUtf8(caption).c_str(), MB_OK);
}

bool askYesNo(const char* text, const char* caption) {
    return MessageBoxA(ownerWindow(), text, caption, MB_YESNO) == IDYES;
}

// The status line changes with the link's state, and the send dialog with it.
void setStatusText(const char* text) {
    if (statusBar != nullptr) SendMessageA(statusBar, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text));
    showLinkInSendDialog();
}

void enableMenuPair(int enableId, int grayId) {
    EnableMenuItem(mainMenu, static_cast<UINT>(enableId), MF_BYCOMMAND | MF_ENABLED);
    EnableMenuItem(mainMenu, static_cast<UINT>(grayId), MF_BYCOMMAND | MF_GRAYED);
}

// The high word tells what is in the queue now. Asking also clears the low word's
// "new since last asked" bits of input and painting, which only a loop that waits
// without peeking first would miss; the system's modal loops and ours peek first.
bool inputOrPaintingWaits() {
    const bool waits = HIWORD(GetQueueStatus(QS_INPUT | QS_PAINT)) != 0;
    queueSeenWithoutInput = !waits;
    return waits;
}

// A timer message is handed out only when no posted message, input or painting is
// waiting, in every message loop, so the read comes after them.
void scheduleDeferredReceive() {
    SetTimer(mainWindow, DEFERRED_RECEIVE_TIMER, DEFERRED_RECEIVE_DELAY_MS, nullptr);
}

void cancelDeferredReceive() {
    KillTimer(mainWindow, DEFERRED_RECEIVE_TIMER);
}

// A posted message comes before input; the timer after input and painting.
void scheduleSendingMore(bool afterInput, unsigned connection) {
    if (afterInput) {
        sendingTimerConnection = connection;
        SetTimer(mainWindow, SENDING_TIMER, USER_TIMER_MINIMUM, nullptr);
    } else {
        PostMessageA(mainWindow, WM_SENDING_MORE, connection, 0);
    }
}

namespace {
// The screen drawing timer's period now: the first delay, then a frame.
UINT screenDrawingPeriod = 0;
}  // namespace

void onScreenDrawingFrame(HWND window) {
    if (screenDrawingPeriod != FRAME_MILLISECONDS) {
        screenDrawingPeriod = FRAME_MILLISECONDS;
        SetTimer(window, SCREEN_DRAWING_TIMER, screenDrawingPeriod, nullptr);
    }
    onScreenDrawingDue();
}

// Like every timer message, it comes only once nothing else waits.
void scheduleScreenDrawing(int firstDelayMs) {
    screenDrawingPeriod = firstDelayMs > static_cast<int>(USER_TIMER_MINIMUM)
                              ? static_cast<UINT>(firstDelayMs)
                              : USER_TIMER_MINIMUM;
    SetTimer(ownerWindow(), SCREEN_DRAWING_TIMER, screenDrawingPeriod, nullptr);
}

// Like every timer message, it comes only once nothing else waits: a reply due
// during a flood goes once the flood lets the timer in.
void scheduleRulesTimer(long long delayMs) {
    const long long least = USER_TIMER_MINIMUM;
    SetTimer(mainWindow, RULES_TIMER, static_cast<UINT>(delayMs > least ? delayMs : least), nullptr);
}

void cancelRulesTimer() {
    if (mainWindow != nullptr) KillTimer(mainWindow, RULES_TIMER);
}

void cancelScreenDrawing() {
    KillTimer(ownerWindow(), SCREEN_DRAWING_TIMER);
    screenDrawingPeriod = 0;
}

long long monotonicMilliseconds() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    const long long perSecond = frequency.QuadPart;
    return now.QuadPart / perSecond * 1000 + now.QuadPart % perSecond * 1000 / perSecond;
}

typedef VOID(WINAPI* PreciseTimeCall)(LPFILETIME time);

// The time now (UTC): Windows 8 tells it to a fraction of a millisecond; before it,
// to the system's tick (about 16 ms).
FILETIME systemTimeNow() {
    static PreciseTimeCall preciseTime = reinterpret_cast<PreciseTimeCall>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetSystemTimePreciseAsFileTime")));
    FILETIME now;
    if (preciseTime != nullptr) preciseTime(&now);
    else GetSystemTimeAsFileTime(&now);
    return now;
}

long long utcMicroseconds() {
    const FILETIME now = systemTimeNow();
    ULARGE_INTEGER ticks;  // 100 ns since 1 January 1601
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    const unsigned long long from1601To1970 = 116444736000000000ULL;
    return static_cast<long long>((ticks.QuadPart - from1601To1970) / 10);
}

void scheduleJournalTimer(int periodMs) {
    SetTimer(mainWindow, JOURNAL_TIMER, static_cast<UINT>(periodMs), nullptr);
}

void cancelJournalTimer() {
    KillTimer(mainWindow, JOURNAL_TIMER);
}

void scheduleConnectTimer(int delayMs) {
    SetTimer(mainWindow, CONNECT_TIMER, static_cast<UINT>(delayMs), nullptr);
}

void cancelConnectTimer() {
    if (mainWindow != nullptr) KillTimer(mainWindow, CONNECT_TIMER);
}

void enableProgramItem(int command, bool enabled) {
    EnableMenuItem(GetSystemMenu(ownerWindow(), FALSE), static_cast<UINT>(command),
                   MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void renameProgramItem(int command, const char* text) {
    MENUITEMINFOA item;
    ZeroMemory(&item, sizeof item);
    item.cbSize = sizeof item;
    item.fMask = MIIM_STRING;
    item.dwTypeData = const_cast<char*>(text);
    SetMenuItemInfoA(GetSystemMenu(ownerWindow(), FALSE), static_cast<UINT>(command), FALSE, &item);
}

long long localTimeMilliseconds() {
    const FILETIME now = systemTimeNow();
    FILETIME local;
    if (!FileTimeToLocalFileTime(&now, &local)) local = now;
    ULARGE_INTEGER ticks;  // 100 ns since 1 January 1601, a day's beginning
    ticks.LowPart = local.dwLowDateTime;
    ticks.HighPart = local.dwHighDateTime;
    return static_cast<long long>(ticks.QuadPart / 10000);
}

void checkProgramItem(int command, bool checked) {
    CheckMenuItem(GetSystemMenu(ownerWindow(), FALSE), static_cast<UINT>(command),
                  MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void soundRefusal() {
    MessageBeep(MB_OK);
}

void setWindowTitle(const char* title) {
    SetWindowTextA(ownerWindow(), title);
}

void getExecutablePath(char* buffer, std::size_t capacity) {
    ZeroMemory(buffer, capacity);
    GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(capacity));
}

bool getFullPath(const char* path, char* buffer, std::size_t capacity) {
    DWORD length = GetFullPathNameA(path, static_cast<DWORD>(capacity), buffer, nullptr);
    return length != 0 && length < capacity;
}

// ---- text --------------------------------------------------------------------------

std::wstring wideFromUtf8(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    }
    return wide;
}

std::string utf8FromWide(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &narrow[0], length, nullptr,
                            nullptr);
    }
    return narrow;
}

std::string controlTextUtf8(HWND dialog, int control) {
    HWND box = GetDlgItem(dialog, control);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(box)) + 1, L'\0');
    const int length = GetWindowTextW(box, &text[0], static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(length > 0 ? length : 0));
    return utf8FromWide(text);
}

// The conversion is asked for without the default character and checked by going
// back: a code page maps some characters it lacks to near ones (best fit, Omega to
// O), and UTF-8 as the ANSI code page takes no default character at all.
bool ansiFromWide(const std::wstring& text, std::string* ansi) {
    ansi->clear();
    if (text.empty()) return true;
    const int size = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return false;
    ansi->assign(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), size, &(*ansi)[0], length, nullptr, nullptr);
    const int back = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi->data(), length, nullptr, 0);
    std::wstring again(static_cast<std::size_t>(back > 0 ? back : 0), L'\0');
    if (back > 0) MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi->data(), length, &again[0], back);
    return again == text;
}

int codePageBytesOf(char32_t character, char* bytes) {
    std::wstring wide;
    if (character >= 0x10000) {
        wide += static_cast<wchar_t>(0xD800 + ((character - 0x10000) >> 10));
        wide += static_cast<wchar_t>(0xDC00 + ((character - 0x10000) & 0x3FF));
    } else {
        wide += static_cast<wchar_t>(character);
    }
    std::string ansi;
    if (!ansiFromWide(wide, &ansi) || ansi.empty() || ansi.size() > static_cast<std::size_t>(CODE_PAGE_BYTES_MAX)) {
        return 0;
    }
    CopyMemory(bytes, ansi.data(), ansi.size());
    return static_cast<int>(ansi.size());
}

// ---- the modeless dialogs ----------------------------------------------------------

bool openModelessDialog(HWND* dialog, int dialogId, DLGPROC procedure) {
    if (*dialog != nullptr && !IsWindow(*dialog)) *dialog = nullptr;  // went with its owner
    if (*dialog == nullptr) {
        *dialog = CreateDialogParamW(appInstance, MAKEINTRESOURCEW(dialogId), mainWindow, procedure, 0);
        if (*dialog == nullptr) return false;
        ShowWindow(*dialog, SW_SHOW);
    }
    SetActiveWindow(*dialog);
    return true;
}

void placeAtClientCorner(HWND dialog, bool bottom) {
    RECT client;
    GetClientRect(mainWindow, &client);
    POINT corner = {client.right, bottom ? client.bottom : client.top};
    ClientToScreen(mainWindow, &corner);
    RECT own;
    GetWindowRect(dialog, &own);
    const int y = bottom ? corner.y - (own.bottom - own.top) : corner.y;
    SetWindowPos(dialog, nullptr, corner.x - (own.right - own.left), y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
