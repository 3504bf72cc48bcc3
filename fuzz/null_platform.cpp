// A platform that does nothing, for the fuzzers and the benchmarks.
//
// Drawing, caret, menus and dialogs are dropped; files and sockets never open.
#include "platform.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>


// ---- terminal ----------------------------------------------------------------
void drawTerminalRow(int, int, const unsigned char*, int, CellColours) {}
void beginTerminalDrawing() {}
void endTerminalDrawing() {}
void scrollTextAreaUp(int) {}
void placeTerminalCaret(int, int) {}
void setTerminalCaretOutOfView(bool) {}
void copyTextToClipboard(const char*, std::size_t) {}
const char* borrowClipboardText(std::size_t* length) {
    *length = 0;
    return nullptr;
}
void releaseClipboardText() {}

// ---- shell -------------------------------------------------------------------
void showErrorBox(const char*, const char*) {}
bool askYesNo(const char*, const char*) { return false; }
void setStatusText(const char*) {}
void enableMenuPair(int, int) {}
void attachCaptureMenu() {}
void detachCaptureMenu() {}
void setWindowTitle(const char*) {}
void soundRefusal() {}
long long localTimeMilliseconds() { return 0; }
void checkProgramItem(int, bool) {}
bool inputOrPaintingWaits() { return false; }
void scheduleDeferredReceive() {}
void scheduleSendingMore(bool, unsigned) {}
void fileSendingChanged() {}
void cancelDeferredReceive() {}
void scheduleScreenDrawing(int) {}
void cancelScreenDrawing() {}
void scheduleRulesTimer(long long) {}
void cancelRulesTimer() {}
void scheduleJournalTimer(int) {}
void cancelJournalTimer() {}
long long utcMicroseconds() { return 0; }
std::string choosePcapngFile(const char*) { return std::string(); }
void renameProgramItem(int, const char*) {}
SocketHandle startConnection(const Endpoint&, ConnectFailure* failure) {
    *failure = CONNECT_FAILED;
    return NO_SOCKET;
}
ConnectFailure connectFailureOf(unsigned) { return CONNECT_FAILED; }
bool localEndpointOf(SocketHandle, Endpoint*) { return false; }
bool resolveHostName(const std::string&, std::uint16_t, unsigned) { return false; }
void abandonHostName(unsigned) {}
void scheduleConnectTimer(int) {}
void cancelConnectTimer() {}
void enableProgramItem(int, bool) {}
// Always a frame later than the last call: every chunk is drawn, as under a flood.
long long monotonicMilliseconds() {
    static long long now = 0;
    return now += 16;
}
int runDialog(int) { return -1; }
bool chooseSessionFile(char*, std::size_t) { return false; }
void getExecutablePath(char* buffer, std::size_t capacity) {
    if (capacity > 0) std::memset(buffer, 0, capacity);
}
bool getFullPath(const char*, char*, std::size_t) { return false; }

// ---- files -------------------------------------------------------------------
FileHandle openFileForReading(const char*) { return NO_FILE; }
FileHandle openFileToSend(const char*) { return NO_FILE; }
FileHandle openFileToReplace(const char*) { return NO_FILE; }
int codePageBytesOf(char32_t character, char* bytes) {
    if (character >= 0x100) return 0;
    bytes[0] = static_cast<char>(character);
    return 1;
}
FileHandle openFileForWriting(const char*) { return NO_FILE; }
bool moveFileToEnd(FileHandle) { return true; }
bool writeFileBytes(FileHandle, const void*, std::size_t) { return true; }
std::size_t readFileBytes(FileHandle, void*, std::size_t) { return 0; }
bool fileSizeOf(FileHandle, std::uint64_t*) { return false; }
void closeFile(FileHandle) {}

// ---- sockets -----------------------------------------------------------------
SocketHandle createTcpSocket() { return NO_SOCKET; }
void selectSocketEvents(SocketHandle) {}
int bindSocket(SocketHandle, std::uint32_t, std::uint16_t) { return -1; }
int listenOnSocket(SocketHandle, bool) { return -1; }
SocketHandle acceptConnection(SocketHandle, std::uint32_t*, std::uint16_t*, AcceptFailure* failure) {
    *failure = ACCEPT_NONE_WAITING;
    return NO_SOCKET;
}
int receiveFromSocket(SocketHandle, unsigned char*, int) { return -1; }
int sendOnSocket(SocketHandle, const unsigned char*, int) { return -1; }
void setKeepAlive(SocketHandle, unsigned, unsigned) {}
void shutdownSocket(SocketHandle) {}
void closeSocket(SocketHandle) {}
void formatIpv4Address(std::uint32_t address, char* text, std::size_t capacity) {
    if (capacity == 0) return;
    unsigned char b[4];
    std::memcpy(b, &address, sizeof b);  // network order: first byte first
    std::snprintf(text, capacity, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}
std::uint32_t convertIpv4Address(const char* text) {
    return static_cast<std::uint32_t>(inet_addr(text));
}
