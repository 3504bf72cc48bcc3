#include "fake_platform.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "capture/journal.h"
#include "capture/recorder.h"
#include "net/address.h"
#include "net/connect.h"
#include "net/link.h"
#include "net/outgoing.h"
#include "net/rules.h"
#include "net/send_text.h"
#include "session/session.h"
#include "session/settings.h"
#include "terminal/colours.h"
#include "terminal/history_view.h"
#include "terminal/layout.h"
#include "terminal/received_bytes.h"
#include "terminal/screen.h"

FakePlatform fake;

namespace {

void record(const std::string& line) { fake.trace.push_back(line); }

std::string num(long long value) { return std::to_string(value); }

std::string dotted(std::uint32_t address) {
    char text[16];
    formatIpv4Address(address, text, sizeof text);
    return text;
}

FileHandle openFile(const char* path, bool forWriting, const char* how) {
    std::string name = path;
    std::string line = std::string(how) + " " + name + " -> ";
    bool heldOpen = false;
    for (const auto& entry : fake.openFiles) heldOpen = heldOpen || entry.second.path == name;
    bool refused = heldOpen || (forWriting ? fake.unwritable.count(name) != 0
                                           : fake.unreadable.count(name) != 0 ||
                                                 fake.files.count(name) == 0);
    if (refused) {
        record(line + "fail");
        return NO_FILE;
    }
    if (forWriting) fake.files[name];  // opens or creates, never truncates
    FileHandle handle = fake.nextFile++;
    fake.openFiles[handle] = FakeOpenFile{name, 0};
    record(line + num(handle));
    return handle;
}

}  // namespace

// ---- terminal ------------------------------------------------------------------
namespace {
// Puts drawn cells into the shown grid, from their pixel position.
void showCells(int x, int y, const unsigned char* cells, int count, CellColours colours) {
    if (fake.shown.empty() || cellWidth <= 0 || cellHeight <= 0) return;
    int row = (y - textOriginY) / cellHeight;
    int col = (x - textOriginX) / cellWidth;
    for (int i = 0; i < count; ++i) {
        if (row < 0 || row >= gridRows || col + i < 0 || col + i >= gridColumns) {
            record("drawn outside the grid");
            return;
        }
        const std::size_t at = static_cast<std::size_t>(row) * gridColumns + col + i;
        fake.shown[at] = cells[i];
        fake.shownInverted[at] = colours.text == DEFAULT_BACK ? 1 : 0;
        fake.shownSent[at] = colours.text == SENT_TEXT ? 1 : 0;
        fake.shownColours[at] = colours;
    }
}
}  // namespace

void drawTerminalRow(int x, int y, const unsigned char* cells, int count, CellColours colours) {
    const std::string look = colours.text == DEFAULT_BACK ? " inverted"
                             : colours.text == SENT_TEXT  ? " sent"
                             : sameColours(colours, PLAIN_CELLS)
                                 ? ""
                                 : " colours " + num(colours.text) + " " + num(colours.back);
    record("drawRow " + num(x) + " " + num(y) + " " + num(count) + look);
    showCells(x, y, cells, count, colours);
}
void beginTerminalDrawing() { record("beginDrawing"); }
void endTerminalDrawing() { record("endDrawing"); }
// The shown rows move up; the rows that come in below show 0xFE until drawn.
void scrollTextAreaUp(int rows) {
    record("scrollText " + num(rows));
    const std::size_t moved = static_cast<std::size_t>(rows) * gridColumns;
    if (fake.shown.size() >= moved) {
        fake.shown.erase(fake.shown.begin(), fake.shown.begin() + static_cast<long>(moved));
        fake.shown.insert(fake.shown.end(), moved, 0xFE);
        fake.shownInverted.erase(fake.shownInverted.begin(),
                                 fake.shownInverted.begin() + static_cast<long>(moved));
        fake.shownInverted.insert(fake.shownInverted.end(), moved, 0);
        fake.shownSent.erase(fake.shownSent.begin(), fake.shownSent.begin() + static_cast<long>(moved));
        fake.shownSent.insert(fake.shownSent.end(), moved, 0);
        fake.shownColours.erase(fake.shownColours.begin(), fake.shownColours.begin() + static_cast<long>(moved));
        fake.shownColours.insert(fake.shownColours.end(), moved, PLAIN_CELLS);
    }
}
void placeTerminalCaret(int x, int y) { record("caret " + num(x) + " " + num(y)); }
void setTerminalCaretOutOfView(bool outOfView) {
    record(outOfView ? "caretOutOfView" : "caretInView");
    fake.caretOutOfView = outOfView;
}
void copyTextToClipboard(const char* text, std::size_t length) {
    record("copy " + num(static_cast<long long>(length)));
    fake.clipboardHoldsText = true;
    fake.clipboard.assign(text, length);
}
const char* borrowClipboardText(std::size_t* length) {
    record("borrowClipboard");
    fake.clipboardLent = true;
    *length = fake.clipboardHoldsText ? fake.clipboard.size() : 0;
    return fake.clipboardHoldsText ? fake.clipboard.data() : nullptr;
}
void releaseClipboardText() {
    record("releaseClipboard");
    fake.clipboardLent = false;
}

// ---- shell ---------------------------------------------------------------------
void showErrorBox(const char* text, const char* caption) {
    record(std::string("errorBox ") + text + "|" + caption);
    std::function<void()> behind;
    behind.swap(fake.whileErrorBoxShows);
    if (behind) behind();
}
bool askYesNo(const char* text, const char* caption) {
    record(std::string("askYesNo ") + text + "|" + caption);
    return fake.yesNoAnswer;
}
void setStatusText(const char* text) {
    record(std::string("status ") + text);
    fake.statusText = text;
}
void enableMenuPair(int enableId, int grayId) {
    record("menu " + num(enableId) + " " + num(grayId));
}
void attachCaptureMenu() { record("attachCaptureMenu"); }
void detachCaptureMenu() { record("detachCaptureMenu"); }
void soundRefusal() {
    record("beep");
    fake.beeps++;
}
bool inputOrPaintingWaits() { return fake.inputOrPaintingWaits; }
void scheduleDeferredReceive() { record("scheduleReceive"); }
void scheduleSendingMore(bool afterInput, unsigned connection) {
    record(std::string(afterInput ? "scheduleSending afterInput" : "scheduleSending") + " for " + num(connection));
}
void fileSendingChanged() { fake.fileSendingShown++; }
void cancelDeferredReceive() { record("cancelReceive"); }
void scheduleScreenDrawing(int firstDelayMs) {
    record("scheduleDrawing " + num(firstDelayMs));
    fake.framesAskedFor = true;
}
void scheduleRulesTimer(long long delayMs) {
    record("rulesTimer " + num(delayMs));
    fake.rulesTimerAt = fake.now + delayMs;
}
void cancelRulesTimer() {
    fake.rulesTimerAt = -1;
}
void scheduleJournalTimer(int periodMs) {
    record("journalTimer " + num(periodMs));
    fake.journalTimerRuns = true;
}
void cancelJournalTimer() {
    fake.journalTimerRuns = false;
}
long long utcMicroseconds() {
    return 1765300000000000LL + fake.now * 1000;
}
std::string choosePcapngFile(const char* title) {
    record(std::string("choosePcapng ") + title);
    return fake.chosenPcapng;
}
void renameProgramItem(int command, const char* text) {
    fake.itemTexts[command] = text;
}
SocketHandle startConnection(const Endpoint& to, ConnectFailure* failure) {
    fake.connectsStarted.push_back(to);
    if (!fake.connectStartFailures.empty()) {
        *failure = fake.connectStartFailures.front();
        fake.connectStartFailures.pop_front();
        record("connect " + endpointText(to) + " -> fail");
        return NO_SOCKET;
    }
    SocketHandle s = fake.nextSocket++;
    fake.openSockets.insert(s);
    record("connect " + endpointText(to) + " -> " + num(static_cast<long long>(s)));
    return s;
}
// The errors of a connect notification, as Windows numbers them.
ConnectFailure connectFailureOf(unsigned error) {
    switch (error) {
    case 10061: return CONNECT_REFUSED;
    case 10065: return CONNECT_UNREACHABLE;
    case 10060: return CONNECT_NO_ANSWER;
    case 11001: return CONNECT_NAME_UNKNOWN;
    default: return CONNECT_FAILED;
    }
}
bool localEndpointOf(SocketHandle, Endpoint* local) {
    *local = ipv4Endpoint(fake.localAddress, fake.localPort);
    return true;
}
bool resolveHostName(const std::string& name, std::uint16_t port, unsigned request) {
    const std::string asked = name + " " + num(port) + " #" + num(request);
    record("resolve " + asked + (fake.resolvingStarts ? "" : " -> fail"));
    if (fake.resolvingStarts) fake.namesAsked.push_back(asked);
    return fake.resolvingStarts;
}
void abandonHostName(unsigned request) {
    record("abandon #" + num(request));
    fake.namesAbandoned.insert(request);
}
void scheduleConnectTimer(int delayMs) {
    record("connectTimer " + num(delayMs));
    fake.connectTimerMs = delayMs;
}
void cancelConnectTimer() {
    fake.connectTimerMs = -1;
}
void enableProgramItem(int command, bool enabled) {
    fake.enabledItems[command] = enabled;
}
void cancelScreenDrawing() {
    record("cancelDrawing");
    fake.framesAskedFor = false;
}
long long monotonicMilliseconds() {
    fake.now += fake.clockStep;
    return fake.now;
}
long long localTimeMilliseconds() {
    return fake.localTime;
}
void checkProgramItem(int command, bool checked) {
    record("check " + num(command) + (checked ? " on" : " off"));
    fake.checkedItems[command] = checked;
}
void setWindowTitle(const char* title) {
    record(std::string("title ") + title);
    fake.windowTitle = title;
}
int runDialog(int dialogId) {
    record("dialog " + num(dialogId));
    if (fake.dialogHandler) return fake.dialogHandler(dialogId);
    if (fake.dialogResults.empty()) return -1;
    int result = fake.dialogResults.front();
    fake.dialogResults.pop_front();
    return result;
}
bool chooseSessionFile(char* path, std::size_t capacity) {
    record(std::string("chooseSessionFile ") + path + "|" + num(static_cast<long long>(capacity)));
    if (!fake.chooserAccepts) return false;
    std::size_t length = std::min(fake.chosenPath.size(), capacity - 1);
    std::memcpy(path, fake.chosenPath.data(), length);
    path[length] = '\0';
    return true;
}
bool getFullPath(const char* path, char* buffer, std::size_t capacity) {
    std::string whole = path;
    bool relative = whole.empty() || (whole[0] != '\\' && (whole.size() < 2 || whole[1] != ':'));
    if (!fake.currentFolder.empty() && relative) whole = fake.currentFolder + "\\" + whole;
    if (whole.size() + 1 > capacity) return false;
    std::memcpy(buffer, whole.c_str(), whole.size() + 1);
    return true;
}
void getExecutablePath(char* buffer, std::size_t capacity) {
    record("getExecutablePath " + num(static_cast<long long>(capacity)));
    std::memset(buffer, 0, capacity);
    std::size_t length = std::min(fake.executablePath.size(), capacity - 1);
    std::memcpy(buffer, fake.executablePath.data(), length);
}

// ---- files ---------------------------------------------------------------------
FileHandle openFileForReading(const char* path) { return openFile(path, false, "openRead"); }
FileHandle openFileForWriting(const char* path) { return openFile(path, true, "openWrite"); }
FileHandle openFileToSend(const char* path) { return openFile(path, false, "openToSend"); }
FileHandle openFileToReplace(const char* path) {
    const FileHandle file = openFile(path, true, "openToReplace");
    if (file != NO_FILE) fake.files[path].clear();
    return file;
}

// A code page like Windows-1252's first half and Latin-1's second, with one
// double-byte character whose second byte is a backslash, as in Japanese Shift-JIS.
int codePageBytesOf(char32_t character, char* bytes) {
    if (character == U'\u8868') {
        bytes[0] = '\x95';
        bytes[1] = '\x5C';
        return 2;
    }
    if (character >= 0x100 || (character >= 0x80 && character < 0xA0)) return 0;
    bytes[0] = static_cast<char>(character);
    return 1;
}

bool moveFileToEnd(FileHandle file) {
    record("moveToEnd " + num(file) + (fake.moveToEndFails ? " -> fail" : ""));
    if (fake.moveToEndFails) return false;
    auto it = fake.openFiles.find(file);
    if (it != fake.openFiles.end()) it->second.position = fake.files[it->second.path].size();
    return true;
}

bool writeFileBytes(FileHandle file, const void* data, std::size_t count) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    if (count == 1) {
        record("write " + num(file) + " byte " + num(bytes[0]));
    } else {
        record("write " + num(file) + " " + num(static_cast<long long>(count)) + " bytes");
    }
    auto it = fake.openFiles.find(file);
    if (it == fake.openFiles.end()) {
        record("write on a file that is not open");
        return false;
    }
    std::size_t stored = std::min(count, fake.writeRoom);
    fake.writeRoom -= stored;
    Bytes& content = fake.files[it->second.path];
    std::size_t end = it->second.position + stored;
    if (content.size() < end) content.resize(end);
    std::copy(bytes, bytes + stored, content.begin() + static_cast<long>(it->second.position));
    it->second.position = end;
    if (stored < count) record("write fell short: " + num(static_cast<long long>(stored)));
    return stored == count;
}

bool fileSizeOf(FileHandle file, std::uint64_t* size) {
    auto it = fake.openFiles.find(file);
    if (it == fake.openFiles.end()) return false;
    *size = fake.files[it->second.path].size();
    return true;
}
std::size_t readFileBytes(FileHandle file, void* buffer, std::size_t count) {
    auto it = fake.openFiles.find(file);
    std::size_t got = 0;
    if (it != fake.openFiles.end()) {
        const Bytes& content = fake.files[it->second.path];
        std::size_t position = std::min(it->second.position, content.size());
        got = std::min(count, content.size() - position);
        if (got > 0) std::memcpy(buffer, content.data() + position, got);
        it->second.position = position + got;
    }
    record("read " + num(file) + " " + num(static_cast<long long>(count)) + " -> " +
           num(static_cast<long long>(got)));
    return got;
}

void closeFile(FileHandle file) {
    record("close file " + num(file));
    if (fake.openFiles.erase(file) == 0) fake.badFileCloses++;
}

// ---- sockets -------------------------------------------------------------------
SocketHandle createTcpSocket() {
    SocketHandle s = fake.nextSocket++;
    fake.openSockets.insert(s);
    record("createSocket " + num(static_cast<long long>(s)));
    return s;
}
void selectSocketEvents(SocketHandle socket) {
    record("select " + num(static_cast<long long>(socket)));
}
int bindSocket(SocketHandle socket, std::uint32_t address, std::uint16_t port) {
    record("bind " + num(static_cast<long long>(socket)) + " " + dotted(address) + " " + num(port));
    return fake.bindResult;
}
int listenOnSocket(SocketHandle socket, bool peersMayWait) {
    record("listen " + num(static_cast<long long>(socket)) + (peersMayWait ? " queue" : ""));
    return fake.listenResult;
}
SocketHandle acceptConnection(SocketHandle socket, std::uint32_t* peerAddressOut,
                              std::uint16_t* peerPortOut, AcceptFailure* failure) {
    FakeAccept next = {fake.nextSocket, ipv4("127.0.0.1"), 50000};
    if (!fake.accepts.empty()) {
        next = fake.accepts.front();
        fake.accepts.pop_front();
    }
    std::string line = "accept " + num(static_cast<long long>(socket)) + " -> ";
    if (next.socket == NO_SOCKET) {
        const char* why[] = {"none waiting", "peer went", "fail"};
        record(line + why[next.failure]);
        *failure = next.failure;
        return NO_SOCKET;
    }
    if (next.socket >= fake.nextSocket) fake.nextSocket = next.socket + 1;
    fake.openSockets.insert(next.socket);
    *peerAddressOut = next.address;
    *peerPortOut = next.port;
    record(line + num(static_cast<long long>(next.socket)));
    return next.socket;
}
int receiveFromSocket(SocketHandle socket, unsigned char* buffer, int capacity) {
    int result = RECEIVE_NOTHING_PENDING;
    if (!fake.receives.empty()) {
        FakeReceive& front = fake.receives.front();
        if (front.data.empty()) {
            result = front.result;
            fake.receives.pop_front();
        } else {
            std::size_t n = std::min(front.data.size(), static_cast<std::size_t>(capacity));
            std::memcpy(buffer, front.data.data(), n);
            front.data.erase(front.data.begin(), front.data.begin() + static_cast<long>(n));
            if (front.data.empty()) fake.receives.pop_front();
            result = static_cast<int>(n);
        }
    }
    record("receive " + num(static_cast<long long>(socket)) + " " + num(capacity) + " -> " +
           num(result));
    return result;
}
int sendOnSocket(SocketHandle socket, const unsigned char* bytes, int count) {
    std::string line = "send " + num(static_cast<long long>(socket)) + " " +
                       (count == 1 ? num(bytes[0]) : num(count) + " bytes");
    if (fake.sendFails) {
        record(line + " -> fail");
        return -1;
    }
    int taken = static_cast<int>(std::min(static_cast<std::size_t>(count), fake.sendRoom));
    fake.sendRoom -= static_cast<std::size_t>(taken);
    fake.sent.insert(fake.sent.end(), bytes, bytes + taken);
    record(taken == count ? line : line + " -> " + num(taken));
    return taken;
}
void setKeepAlive(SocketHandle socket, unsigned idleMs, unsigned intervalMs) {
    record("keepalive " + num(static_cast<long long>(socket)) + " " + num(idleMs) + " " +
           num(intervalMs));
}
void shutdownSocket(SocketHandle socket) {
    record("shutdown " + num(static_cast<long long>(socket)));
}
void closeSocket(SocketHandle socket) {
    record("close socket " + num(static_cast<long long>(socket)));
    if (fake.openSockets.erase(socket) == 0) fake.badSocketCloses++;
}
void formatIpv4Address(std::uint32_t address, char* text, std::size_t capacity) {
    unsigned char b[4];
    std::memcpy(b, &address, sizeof b);  // network order: first byte first
    std::snprintf(text, capacity, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}
std::uint32_t convertIpv4Address(const char* text) {
    record(std::string("convert ") + text);
    return static_cast<std::uint32_t>(inet_addr(text));
}

// ---- test helpers --------------------------------------------------------------
void resetAll() {
    stopJournal();
    journalConnectionEnded(CLOSED_HERE);
    forgetConnectTargets();
    fake = FakePlatform();

    forgetReceivedBytes();
    rulesConnectionEnded();
    setRulesActive(false);
    applyRules(std::vector<Rule>());
    endOutgoing();
    forgetSentTexts();
    releaseScreenGrid();
    setAnsiSequences(false);
    allocateGridBuffer = std::malloc;
    gridColumns = 0;
    gridRows = 0;
    cursorRow = 0;
    cursorCol = 0;

    setLayoutDpi(DEFAULT_DPI);
    cellWidth = 0;
    cellHeight = 0;
    textRect = TextRect{0, 0, 0, 0};
    textOriginX = 0;
    textOriginY = 0;

    listenAddress = NO_ADDRESS;

    serverState = SERVER_IDLE;
    settingsChecked = false;
    serverSocket = NO_SOCKET;
    clientSocket = NO_SOCKET;
    listeningSocket = NO_SOCKET;
    keepListening = false;
    localEcho = false;
    enterEnding = ENTER_CR;
    peerAddress = 0;
    peerPort = 0;

    captureMode = CAPTURE_OFF;
    captureFile = NO_FILE;

    copyTextField(serverAddress, sizeof serverAddress, "0.0.0.0");
    serverPort = 9000;
    capturePath[0] = '\0';
    autoWrap = false;

    releaseSessionPath();
    sessionUnnamed = false;
    titleBuffer[0] = '\0';

    resetHistoryView();
}

Bytes gridCells() {
    Bytes cells;
    for (int row = 0; row < gridRows; ++row) {
        cells.insert(cells.end(), terminalRow(row), terminalRow(row) + gridColumns);
    }
    return cells;
}

void makeWindowGrid() {
    resetAll();
    setCellSize(10, 18);
    layoutTextArea(511);
    createScreenGrid();
    resetHistoryView();
    fake.trace.clear();
}

void showGridAsIs() {
    fake.shown = gridCells();
    fake.shownInverted.assign(fake.shown.size(), 0);
    fake.shownSent.assign(fake.shown.size(), 0);
    fake.shownColours.assign(fake.shown.size(), PLAIN_CELLS);
}

void sendTermCharMessage(int value) {
    putTerminalChar(value);
    showChangesNow();
}

void showReceivedBytes(const unsigned char* bytes, std::size_t count) {
    putTerminalBytes(bytes, count);
    showChangesWithinAFrame();
}

void showReceivedBytes(const std::string& bytes) {
    showReceivedBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

std::string octetRowText(std::uint64_t row) {
    std::vector<unsigned char> cells(80);
    formatOctetRow(row, cells.data(), 80);
    std::string text(cells.begin(), cells.end());
    return text.erase(text.find_last_not_of(' ') + 1);
}

std::string traceText() {
    std::string text;
    for (const std::string& line : fake.trace) text += "  " + line + "\n";
    return text;
}

std::size_t traceCount(const std::string& line) {
    return static_cast<std::size_t>(std::count(fake.trace.begin(), fake.trace.end(), line));
}

std::size_t traceFind(const std::string& line, std::size_t from) {
    for (std::size_t i = from; i < fake.trace.size(); ++i) {
        if (fake.trace[i] == line) return i;
    }
    return fake.trace.size();
}

std::uint32_t ipv4(const char* dotted) { return static_cast<std::uint32_t>(inet_addr(dotted)); }

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }
