// The one seam between the portable program and the window system.
//
// Everything the portable code needs from the platform is declared here as a free
// function named for what the program needs, not for the call behind it. The Win32
// build implements these in the *_win32.cpp files; the native test build links a
// recording fake instead.
#ifndef ORU_PLATFORM_H
#define ORU_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/endpoint.h"

// Opaque handles. A file handle is the platform's file handle value; NO_FILE is
// the value of a file that is not open. A socket handle is the platform's socket
// value; NO_SOCKET is the value of a socket that is not open.
typedef std::intptr_t FileHandle;
const FileHandle NO_FILE = -1;
typedef std::uintptr_t SocketHandle;
const SocketHandle NO_SOCKET = ~static_cast<SocketHandle>(0);

// ---- terminal ----------------------------------------------------------------
// The colours of a cell: its text's and its background's, as indexes into the
// terminal's palette (terminal/colours.h).
struct CellColours {
    unsigned char text;
    unsigned char back;
};
// Draws `count` cells of one row from the top-left corner (x, y) on, one cell width
// apart, in the terminal font, clipped to the text area, in `colours`. The caret is
// left as it is.
void drawTerminalRow(int x, int y, const unsigned char* cells, int count, CellColours colours);
// Brackets one drawing of several rows, which the window shows at its end, all at
// once; the caret's cell keeps its caret. Not nested.
void beginTerminalDrawing();
void endTerminalDrawing();
// Inside a drawing: moves the text area's pixels up by `rows` rows; the rows that
// come in below are left to the caller, which draws them next.
void scrollTextAreaUp(int rows);
void placeTerminalCaret(int x, int y);
// The cursor's row left the view (true) or came back into it: the caret is hidden
// meanwhile.
void setTerminalCaretOutOfView(bool outOfView);
// Puts text on the clipboard as the system's single-byte text.
void copyTextToClipboard(const char* text, std::size_t length);
// Lends the clipboard's single-byte text where it lies, up to its terminator and never
// past its block, and its length: nothing is copied, however large it is. Null when
// the clipboard holds none. Lent until releaseClipboardText, which follows every call.
const char* borrowClipboardText(std::size_t* length);
void releaseClipboardText();

// ---- shell -------------------------------------------------------------------
// A modal box with one OK button, owned by the main window. Its texts are UTF-8
// (the program's own are ASCII; a file's name may be anything).
void showErrorBox(const char* text, const char* caption);
// A modal Yes/No question owned by the main window; true when the answer is Yes.
bool askYesNo(const char* text, const char* caption);
void setStatusText(const char* text);
// Makes the item enableId selectable and grays grayId, both by command identifier,
// drop-downs included.
void enableMenuPair(int enableId, int grayId);
// Builds the capture drop-down ("&Stop", "pa&use", "&Reprendre" grayed) and hangs it
// under the "C&apture" item, then updates the window.
void attachCaptureMenu();
// Turns the "C&apture" item back into a plain command and releases the drop-down.
void detachCaptureMenu();
void setWindowTitle(const char* title);
// The short warning sound of a key that is not taken.
void soundRefusal();
// True while keyboard or mouse input, or painting, waits to be handled by this
// thread's message loop (whichever loop runs, a modal one included). Asking changes
// nothing in the queue.
bool inputOrPaintingWaits();
// Calls onDeferredReceiveDue from the message loop once input and painting have had
// their turn, and again every few milliseconds until cancelled.
void scheduleDeferredReceive();
void cancelDeferredReceive();
// Calls onSendingMoreDue(connection) from the message loop: once the messages
// already queued are handled, or, `afterInput`, once input and painting have had
// their turn too.
void scheduleSendingMore(bool afterInput, unsigned connection);
// A file being sent went on or ended: the send dialog shows it.
void fileSendingChanged();
// Calls onScreenDrawingDue after `firstDelayMs` milliseconds, then once a frame
// (FRAME_MILLISECONDS), each time once input and painting have had their turn,
// until cancelled.
void scheduleScreenDrawing(int firstDelayMs);
void cancelScreenDrawing();
// Calls onRulesTimerDue from the message loop `delayMs` milliseconds from now, or as
// soon as the system's timers allow, once; a new call replaces the last.
void scheduleRulesTimer(long long delayMs);
void cancelRulesTimer();
// Calls onJournalTimerDue from the message loop every `periodMs` milliseconds until
// cancelled.
void scheduleJournalTimer(int periodMs);
void cancelJournalTimer();
// The time now in microseconds since 1970-01-01 UTC, from the clock the octet view's
// times come from.
long long utcMicroseconds();
// The Save chooser of a pcapng file: its UTF-8 path, empty when none was chosen; an
// existing file is replaced only once the person said so.
std::string choosePcapngFile(const char* title);
// Gives one of the program's items of the window's system menu another text.
void renameProgramItem(int command, const char* text);
// Milliseconds from a fixed moment; never goes back.
long long monotonicMilliseconds();
// The local time, in milliseconds from a moment that began a day (so that its
// remainder by a day is the time of day), as finely as the system tells it.
long long localTimeMilliseconds();
// Checks or unchecks one of the program's items of the window's system menu
// (ui/resource.h).
void checkProgramItem(int command, bool checked);
// Runs one of the dialogs of ui/resource.h modally, owned by the main window.
// Returns 0 when the dialog was accepted, anything else otherwise (also when the
// dialog could not be shown).
int runDialog(int dialogId);
// The Save As chooser for the session file. `path` (capacity bytes) holds the
// proposed name and receives the chosen path. True when a file was chosen.
bool chooseSessionFile(char* path, std::size_t capacity);
// The full path of the running executable, file name included; the buffer is
// zero-filled first and stays empty when the path cannot be had.
void getExecutablePath(char* buffer, std::size_t capacity);
// The full path of `path` as seen from the current folder now. False, with the
// buffer's content undefined, when it cannot be had or does not fit.
bool getFullPath(const char* path, char* buffer, std::size_t capacity);

// ---- text ----------------------------------------------------------------------
// The most bytes one character takes in Windows' ANSI code page.
const int CODE_PAGE_BYTES_MAX = 4;
// Writes the bytes of one character in Windows' ANSI code page, as a typed key
// gives them, into `bytes`; returns their count, 0 when the code page has no byte
// for it (no near character stands in).
int codePageBytesOf(char32_t character, char* bytes);

// ---- files -------------------------------------------------------------------
// Only files on a disk open: a device (a serial port, NUL, CON) or a pipe that the
// path names is closed at once, unread and unwritten, and counts as not opened.
// The session and capture files: paths in the ANSI code page, opened with no
// sharing.
FileHandle openFileForReading(const char* path);  // existing files only
FileHandle openFileForWriting(const char* path);  // opens or creates, never truncates
// A file to send, by its UTF-8 path: an existing file opened for reading, which
// other programs may go on reading, writing, renaming or deleting meanwhile.
FileHandle openFileToSend(const char* path);
// A file to write whole, by its UTF-8 path: made, or emptied when it exists; other
// programs may read it meanwhile.
FileHandle openFileToReplace(const char* path);
// Moves the write position to the end of the file, whatever its size; false when it
// could not be moved.
bool moveFileToEnd(FileHandle file);
// True when every byte was written; false when the write failed or fell short.
bool writeFileBytes(FileHandle file, const void* data, std::size_t count);
// One read of up to `count` bytes; returns the number of bytes read (0 on failure).
std::size_t readFileBytes(FileHandle file, void* buffer, std::size_t count);
// The size of an open file; false when it cannot be had.
bool fileSizeOf(FileHandle file, std::uint64_t* size);
void closeFile(FileHandle file);

// ---- sockets (IPv4 TCP; addresses in network byte order) ---------------------
SocketHandle createTcpSocket();
// Asks for the accept, read, write and close notifications on the main window.
void selectSocketEvents(SocketHandle socket);
// 0 on success, -1 on failure.
int bindSocket(SocketHandle socket, std::uint32_t address, std::uint16_t port);
// Listens with a backlog of 0, or, when peers may wait, with as long a queue of
// pending connections as the system allows. 0 on success, -1 on failure.
int listenOnSocket(SocketHandle socket, bool peersMayWait);
// Why an accept gave no connection: no peer waits (any more); the peer that waited
// went before it could be accepted (it reset the connection), and others may wait
// behind it; or the listening socket itself failed.
enum AcceptFailure { ACCEPT_NONE_WAITING, ACCEPT_PEER_WENT, ACCEPT_LISTENER_FAILED };
// Accepts one pending connection; NO_SOCKET on failure, with why in `failure`. The
// peer's address and port (host order) are stored on success.
SocketHandle acceptConnection(SocketHandle socket, std::uint32_t* peerAddress,
                              std::uint16_t* peerPort, AcceptFailure* failure);
// What a receive returns when nothing is pending now: the connection goes on.
const int RECEIVE_NOTHING_PENDING = -2;
// One receive of up to `capacity` bytes: the count read, 0 when the peer has
// closed, RECEIVE_NOTHING_PENDING, or -1 when the connection failed (reset, timed
// out, aborted).
int receiveFromSocket(SocketHandle socket, unsigned char* buffer, int capacity);
// Sends up to `count` bytes: the number the socket took, 0 when it can take none
// now (a write notification follows once it can), -1 on an error.
int sendOnSocket(SocketHandle socket, const unsigned char* bytes, int count);
// Turns on the connection's keep-alive: the first probe after `idleMs` of silence,
// then one every `intervalMs` until the peer answers or the system gives up, which
// ends the connection with an error.
void setKeepAlive(SocketHandle socket, unsigned idleMs, unsigned intervalMs);
void shutdownSocket(SocketHandle socket);  // both directions
void closeSocket(SocketHandle socket);

// ---- connecting (IPv4 and IPv6) --------------------------------------------------
// Why a connection could not be made: in words for the person (net/connect.h).
enum ConnectFailure { CONNECT_REFUSED, CONNECT_UNREACHABLE, CONNECT_NO_ANSWER, CONNECT_NAME_UNKNOWN,
                      CONNECT_FAILED };
// A socket of `to`'s family, asking for the connect, read, write and close
// notifications, whose connection to `to` starts without waiting: its outcome comes
// as a connect notification, the error (0 when connected) in the high 16 bits.
// NO_SOCKET when it could not even start, with why in `failure`.
SocketHandle startConnection(const Endpoint& to, ConnectFailure* failure);
// What the error of a connect notification means.
ConnectFailure connectFailureOf(unsigned error);
// The local end of a connected socket; false when it cannot be had.
bool localEndpointOf(SocketHandle socket, Endpoint* local);
// Resolves a host name without waiting: onHostResolved(request, ...) is called from
// the message loop once the system answers, with its addresses (IPv6 and IPv4, in
// the order given, each with `port`). False when no resolving could start.
bool resolveHostName(const std::string& name, std::uint16_t port, unsigned request);
// The request is no longer wanted: it is cancelled where the system can, and its
// answer, if one still comes, is dropped.
void abandonHostName(unsigned request);
// Calls onConnectTimerDue from the message loop `delayMs` milliseconds from now,
// once; a new call replaces the last.
void scheduleConnectTimer(int delayMs);
void cancelConnectTimer();
// Enables or grays one of the program's items of the window's system menu.
void enableProgramItem(int command, bool enabled);

// Dotted-decimal text of an address.
void formatIpv4Address(std::uint32_t address, char* text, std::size_t capacity);
// The platform's dotted-text conversion; 0xFFFFFFFF for text it cannot convert.
std::uint32_t convertIpv4Address(const char* text);

#endif
