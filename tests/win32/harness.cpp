#include "harness.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <deque>

#include "app/app_win32.h"
#include "capture/recorder.h"
#include "net/link.h"
#include "net/outgoing.h"
#include "net/rules.h"
#include "session/settings.h"
#include "terminal/history_view.h"
#include "terminal/screen.h"

std::vector<DialogSeen> dialogsSeen;
int dialogsStuck = 0;
int defaultYesNoAnswer = IDNO;
std::function<void(const MSG&)> socketNotificationObserver;
bool quitSeen = false;
WPARAM quitCode = 0;

namespace {

HHOOK cbtHook = nullptr;
std::deque<DialogScript> scripts;
const char HANDLED_PROPERTY[] = "oru-test-handled";
const UINT_PTR SCRIPT_TIMER = 0x4F01;
const UINT_PTR WATCHDOG_TIMER = 0x4F02;
const UINT SCRIPT_DELAY_MS = 20;
const UINT WATCHDOG_MS = 15000;

bool isDialogClass(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return lstrcmpA(name, "#32770") == 0;
}

bool hasVisibleButton(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    return button != nullptr && IsWindowVisible(button);
}

DialogSeen describeDialog(HWND dialog) {
    DialogSeen seen;
    seen.caption = windowText(dialog);
    seen.owner = GetWindow(dialog, GW_OWNER);
    HWND focus = GetFocus();
    seen.focusId = (focus != nullptr && GetParent(focus) == dialog) ? GetDlgCtrlID(focus) : -1;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        char name[64] = "";
        GetClassNameA(child, name, sizeof name);
        LONG kind = GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK;
        bool picture = kind == SS_ICON || kind == SS_BITMAP || kind == SS_ENHMETAFILE;
        if (lstrcmpiA(name, "Static") == 0 && !picture) {
            std::string text = windowText(child);
            if (!text.empty()) seen.texts.push_back(text);
        } else if (lstrcmpiA(name, "Button") == 0 && IsWindowVisible(child)) {
            seen.buttons.push_back(GetDlgCtrlID(child));
        }
    }
    return seen;
}

void defaultAnswer(HWND dialog) {
    if (hasVisibleButton(dialog, IDYES) || hasVisibleButton(dialog, IDNO)) {
        pressButton(dialog, defaultYesNoAnswer);
    } else if (hasVisibleButton(dialog, IDCANCEL)) {
        pressButton(dialog, IDCANCEL);
    } else {
        pressButton(dialog, IDOK);
    }
}

void CALLBACK dialogTimer(HWND dialog, UINT, UINT_PTR id, DWORD) {
    KillTimer(dialog, id);
    if (id == WATCHDOG_TIMER) {
        // A script did not end its dialog: end it so that the test goes on and fails.
        dialogsStuck++;
        EndDialog(dialog, -1);
        return;
    }
    dialogsSeen.push_back(describeDialog(dialog));
    SetTimer(dialog, WATCHDOG_TIMER, WATCHDOG_MS, dialogTimer);
    if (scripts.empty()) {
        defaultAnswer(dialog);
        return;
    }
    DialogScript script = scripts.front();
    scripts.pop_front();
    script(dialog);
}

LRESULT CALLBACK cbtProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        // A dialog is activated again when a box on top of it goes: drive it once.
        if (isDialogClass(window) && GetPropA(window, HANDLED_PROPERTY) == nullptr) {
            SetPropA(window, HANDLED_PROPERTY, reinterpret_cast<HANDLE>(1));
            SetTimer(window, SCRIPT_TIMER, SCRIPT_DELAY_MS, dialogTimer);
        }
    } else if (code == HCBT_DESTROYWND) {
        RemovePropA(reinterpret_cast<HWND>(wParam), HANDLED_PROPERTY);
    }
    return CallNextHookEx(cbtHook, code, wParam, lParam);
}

void takeMessage(const MSG& message) {
    if (message.message == WM_QUIT) {
        quitSeen = true;
        quitCode = message.wParam;
        return;
    }
    if (message.message == WM_SOCKET_NOTIFY && socketNotificationObserver) {
        socketNotificationObserver(message);
    }
    MSG taken = message;
    if (takeProgramWindowsMessage(&taken)) return;  // as the program's message loop does
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

}  // namespace

HWND fileNameBox(HWND chooser) {
    for (int id : {0x480 /* edt1 */, 0x47C /* cmb13 */}) {
        HWND box = GetDlgItem(chooser, id);
        if (box != nullptr) return box;
    }
    return nullptr;
}

void queueDialogScript(DialogScript script) {
    scripts.push_back(script);
}

void clearDialogsSeen() {
    dialogsSeen.clear();
    dialogsStuck = 0;
    scripts.clear();
    defaultYesNoAnswer = IDNO;
}

void installDialogHook() {
    if (cbtHook == nullptr) {
        cbtHook = SetWindowsHookExA(WH_CBT, cbtProc, nullptr, GetCurrentThreadId());
    }
}

void removeDialogHook() {
    if (cbtHook != nullptr) UnhookWindowsHookEx(cbtHook);
    cbtHook = nullptr;
}

void pressButton(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

std::string windowText(HWND window) {
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string controlText(HWND dialog, int id) {
    return windowText(GetDlgItem(dialog, id));
}

// ---- pump ---------------------------------------------------------------------------

bool pumpUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) takeMessage(message);
        if (condition()) return true;
        if (GetTickCount() - start >= timeoutMs) return condition();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

void pumpPending() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) takeMessage(message);
}

// ---- main window --------------------------------------------------------------------

bool createMainWindow(const char* commandLine) {
    mainWindow = nullptr;
    statusBar = nullptr;
    mainMenu = nullptr;
    quitSeen = false;
    if (!startApplication(GetModuleHandleA(nullptr), commandLine, SW_SHOWNORMAL)) return false;
    pumpPending();
    return IsWindow(mainWindow) != FALSE;
}

void destroyMainWindow() {
    if (mainWindow != nullptr && IsWindow(mainWindow)) DestroyWindow(mainWindow);
    pumpPending();
    UnregisterClassA(MAIN_WINDOW_CLASS, GetModuleHandleA(nullptr));
    mainWindow = nullptr;
    statusBar = nullptr;
    mainMenu = nullptr;
    shutdownTrace = nullptr;
    allocateGridBuffer = std::malloc;
    autoWrap = false;
    keepListening = false;
    setAnsiSequences(false);
    localEcho = false;
    enterEnding = ENTER_CR;
    setRulesActive(false);
    applyRules(std::vector<Rule>());
    socketNotificationObserver = nullptr;
    resetHistoryView();
}

void MainWindowTest::SetUp() {
    clearDialogsSeen();
    ASSERT_TRUE(createMainWindow(""));
    ASSERT_TRUE(dialogsSeen.empty()) << "start-up with no argument showed a box";
}

void MainWindowTest::TearDown() {
    destroyMainWindow();
    EXPECT_EQ(dialogsStuck, 0) << "a dialog had to be ended by the watchdog";
    clearDialogsSeen();
}

void pressKeys(const WORD* keys, int count) {
    INPUT inputs[8];
    ZeroMemory(inputs, sizeof inputs);
    for (int i = 0; i < count; ++i) {
        inputs[i].type = inputs[2 * count - 1 - i].type = INPUT_KEYBOARD;
        inputs[i].ki.wVk = inputs[2 * count - 1 - i].ki.wVk = keys[i];
        inputs[2 * count - 1 - i].ki.dwFlags = KEYEVENTF_KEYUP;
    }
    SendInput(static_cast<UINT>(2 * count), inputs, sizeof inputs[0]);
}

std::vector<DWORD> windowPixels(const RECT& area) {
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    BITMAPINFO info;
    ZeroMemory(&info, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC window = GetDC(mainWindow);
    HDC memory = CreateCompatibleDC(window);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(window, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, window, area.left, area.top, SRCCOPY);
    GdiFlush();
    const DWORD* first = static_cast<const DWORD*>(bits);
    std::vector<DWORD> pixels;
    if (first != nullptr) pixels.assign(first, first + static_cast<size_t>(width) * height);
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(mainWindow, window);
    return pixels;
}

std::vector<DWORD> textAreaPixels() {
    RECT area = {textRect.left, textRect.top, textRect.right, textRect.bottom};
    return windowPixels(area);
}

COLORREF pixelAt(int x, int y) {
    HDC dc = GetDC(mainWindow);
    COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(mainWindow, dc);
    return colour;
}

bool takeFocus() {
    SetForegroundWindow(mainWindow);
    SetFocus(mainWindow);
    return pumpUntil([] { return GetFocus() == mainWindow; }, 5000);
}

unsigned char gridCell(int row, int col) {
    return terminalRow(row)[col];
}

std::vector<unsigned char> gridCells() {
    std::vector<unsigned char> cells;
    for (int row = 0; row < gridRows; ++row) {
        cells.insert(cells.end(), terminalRow(row), terminalRow(row) + gridColumns);
    }
    return cells;
}

void showReceivedBytes(const std::string& bytes) {
    putTerminalBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    showChangesWithinAFrame();
}

void sendTerminalChar(int value) {
    SendMessageA(mainWindow, WM_TERM_CHAR, static_cast<WPARAM>(value), 1);
}

void sendCommand(int command) {
    SendMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

std::string statusText() {
    char text[256] = "";
    SendMessageA(statusBar, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
    return text;
}

int menuState(int command) {
    UINT state = GetMenuState(mainMenu, static_cast<UINT>(command), MF_BYCOMMAND);
    return state == static_cast<UINT>(-1) ? -1 : static_cast<int>(state);
}

// ---- sockets ------------------------------------------------------------------------

sockaddr_in loopback(unsigned short port) {
    sockaddr_in address;
    ZeroMemory(&address, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

unsigned short freeLoopbackPort() {
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = loopback(0);
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    closesocket(probe);
    return ntohs(address.sin_port);
}

SOCKET connectPeer(unsigned short port, int* error) {
    SOCKET peer = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    u_long nonBlocking = 1;
    ioctlsocket(peer, FIONBIO, &nonBlocking);
    sockaddr_in address = loopback(port);
    int result = connect(peer, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int failure = 0;
    if (result != 0 && WSAGetLastError() != WSAEWOULDBLOCK) failure = WSAGetLastError();
    bool done = failure != 0;
    if (!done) {
        done = pumpUntil([&] {
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(peer, &writable);
            FD_SET(peer, &failed);
            timeval none = {0, 0};
            if (select(0, nullptr, &writable, &failed, &none) <= 0) return false;
            if (FD_ISSET(peer, &failed)) {
                int code = 0;
                int size = sizeof code;
                getsockopt(peer, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &size);
                failure = code != 0 ? code : WSAECONNREFUSED;
            }
            return true;
        });
        if (!done) failure = WSAETIMEDOUT;
    }
    if (error != nullptr) *error = failure;
    if (failure != 0) {
        closesocket(peer);
        return INVALID_SOCKET;
    }
    u_long blocking = 0;
    ioctlsocket(peer, FIONBIO, &blocking);
    return peer;
}

bool sendAll(SOCKET socket, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        int n = send(socket, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::string receiveBytes(SOCKET socket, size_t count, DWORD timeoutMs, bool* closed) {
    std::string received;
    bool peerClosed = false;
    pumpUntil([&] {
        for (;;) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(socket, &readable);
            timeval none = {0, 0};
            if (select(0, &readable, nullptr, nullptr, &none) <= 0) return false;
            char buffer[4096];
            int n = recv(socket, buffer, sizeof buffer, 0);
            if (n <= 0) {
                peerClosed = true;
                return true;
            }
            received.append(buffer, static_cast<size_t>(n));
            if (received.size() >= count) return true;
        }
    }, timeoutMs);
    if (closed != nullptr) *closed = peerClosed;
    return received;
}

bool listenOn(unsigned short port) {
    copyTextField(serverAddress, sizeof serverAddress, "127.0.0.1");
    serverPort = port;
    settingsChecked = false;
    sendCommand(505);
    return serverState == SERVER_LISTENING;
}

SOCKET connectedPeer() {
    const unsigned short port = freeLoopbackPort();
    if (!listenOn(port)) return INVALID_SOCKET;
    SOCKET peer = connectPeer(port);
    if (peer != INVALID_SOCKET && !pumpUntil([] { return serverState == SERVER_CONNECTED; })) {
        closesocket(peer);
        return INVALID_SOCKET;
    }
    return peer;
}

bool startCaptureOn(const std::string& path) {
    copyTextField(capturePath, sizeof capturePath, path.c_str());
    queueDialogScript([](HWND dialog) { pressButton(dialog, IDOK); });
    sendCommand(510);
    return captureMode == CAPTURE_RECORDING;
}

std::string windowsPath(const std::string& buildPath) {
    std::string path = buildPath;
    if (!path.empty() && path[0] == '/') path = "Z:" + path;  // a Unix path under Wine
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

std::string programPath() {
    return windowsPath(ORU_PROGRAM_PATH);
}

std::string randomBytes(size_t count, unsigned seed) {
    std::string bytes(count, '\0');
    for (char& b : bytes) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<char>(seed >> 16);
    }
    return bytes;
}

// ---- files --------------------------------------------------------------------------

std::string scratchPath(const std::string& name) {
    char folder[MAX_PATH] = "";
    GetTempPathA(sizeof folder, folder);
    char path[MAX_PATH * 2];
    std::snprintf(path, sizeof path, "%soru-%lu-%s", folder,
                  static_cast<unsigned long>(GetCurrentProcessId()), name.c_str());
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path);
    return path;
}

std::string readWholeFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string("<cannot open>");
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    CloseHandle(file);
    return bytes;
}

bool writeWholeFile(const std::string& path, const std::string& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

long fileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return static_cast<long>(data.nFileSizeLow);
}
