// A recording, scriptable stand-in for platform.h, for the native unit tests.
//
// Every platform call appends one line to fake.trace, in call order, so a test can
// assert both what happened and in which order. Results are scripted through the
// fields below; resetAll() puts the fake and the program's module-level state back
// to their start-up values.
#ifndef ORU_TESTS_FAKE_PLATFORM_H
#define ORU_TESTS_FAKE_PLATFORM_H

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform.h"

typedef std::vector<unsigned char> Bytes;

struct FakeOpenFile {
    std::string path;
    std::size_t position;
};

struct FakeAccept {
    SocketHandle socket;  // NO_SOCKET for a failed accept
    std::uint32_t address;  // network order
    std::uint16_t port;
    AcceptFailure failure = ACCEPT_LISTENER_FAILED;  // why a failed accept failed
};

struct FakeReceive {
    int result;  // used when data is empty: 0 (peer closed), -1 (failed) or
                 // RECEIVE_NOTHING_PENDING
    Bytes data;  // served at most `capacity` bytes at a time; the rest stays queued
};

struct FakePlatform {
    std::vector<std::string> trace;

    // shell
    std::deque<int> dialogResults;           // runDialog results; -1 once empty
    std::function<int(int)> dialogHandler;   // when set, runs instead of the queue
    bool yesNoAnswer = false;
    bool chooserAccepts = false;
    std::string chosenPath;
    std::string executablePath;
    std::string currentFolder;  // relative paths are made whole from it; none when empty
    int beeps = 0;
    std::string statusText;
    std::string windowTitle;
    bool inputOrPaintingWaits = false;  // what the queue is said to hold
    int fileSendingShown = 0;           // times the send dialog was told of a file
    // Runs once while the next error box shows, as messages dispatched behind it do.
    std::function<void()> whileErrorBoxShows;

    // files: the in-memory file system and its open handles
    std::map<std::string, Bytes> files;
    std::set<std::string> unreadable;  // openFileForReading fails
    std::set<std::string> unwritable;  // openFileForWriting fails
    std::map<FileHandle, FakeOpenFile> openFiles;
    FileHandle nextFile = 3;
    // Bytes that writes can still store, over all files: a write beyond it stores
    // what fits, if anything, and fails (a full volume).
    std::size_t writeRoom = static_cast<std::size_t>(-1);
    int badFileCloses = 0;
    bool moveToEndFails = false;

    // sockets
    SocketHandle nextSocket = 7;
    std::set<SocketHandle> openSockets;
    int bindResult = 0;
    int listenResult = 0;
    std::deque<FakeAccept> accepts;  // an empty queue accepts a new socket from 127.0.0.1
    std::deque<FakeReceive> receives;  // an empty queue has nothing pending
    Bytes sent;
    std::size_t sendRoom = static_cast<std::size_t>(-1);  // bytes the socket still takes
    bool sendFails = false;
    int badSocketCloses = 0;

    // the clipboard: its text, when it holds any, and whether it is lent
    bool clipboardHoldsText = false;
    std::string clipboard;
    bool clipboardLent = false;

    // What the window would show: the cells as drawn, row-major over the grid.
    Bytes shown;
    Bytes shownInverted;  // 1 where the cell was last drawn inverted
    Bytes shownSent;      // 1 where the cell was last drawn as sent
    std::vector<CellColours> shownColours;  // the colours each cell was last drawn in
    bool caretOutOfView = false;
    bool framesAskedFor = false;       // the screen drawing frames come until cancelled
    long long rulesTimerAt = -1;       // the rules' timer: when it is due (the clock's time), or -1
    // The clock: each reading moves it on by clockStep, a frame by default, so that
    // every chunk is drawn at once unless a test stops it.
    long long now = 1000000;
    long long clockStep = 16;
    // The local time the received bytes are stamped with (milliseconds, a day
    // beginning at 0), and whether the octet view's menu item is checked.
    long long localTime = 0;
    std::map<int, bool> checkedItems;  // the system menu's items, by command
    std::map<int, std::string> itemTexts;  // their texts, when given others
    bool journalTimerRuns = false;
    std::string chosenPcapng;              // what the pcapng chooser gives
    std::uint32_t localAddress = 0x0100007F;  // a connection's local end
    std::uint16_t localPort = 9000;

    // connecting: the addresses tried, in order; how the next tries fail to start
    // (an empty queue: each starts); the names asked for and abandoned; the connect
    // timer's last delay (-1: not running); the items enabled or grayed.
    std::vector<Endpoint> connectsStarted;
    std::deque<ConnectFailure> connectStartFailures;
    std::vector<std::string> namesAsked;  // "name port #request"
    std::set<unsigned> namesAbandoned;
    bool resolvingStarts = true;
    int connectTimerMs = -1;
    std::map<int, bool> enabledItems;
};

extern FakePlatform fake;

// The fake and every module's state back to start-up values.
void resetAll();
// From start-up values, the window's grid: cell 10 x 18 in a client 511 pixels high,
// 79 columns and 25 rows from (10, 31); the trace is emptied.
void makeWindowGrid();

// Helpers for tests.
// The grid's cells, row-major.
Bytes gridCells();
// Starts the shown cells as the grid is now (a window just painted).
void showGridAsIs();
// The terminal-character message as the window answers it: the grid takes the
// value, the window shows it at once.
void sendTermCharMessage(int value);
// Received bytes as the link hands them on: the grid takes them, then the view is
// told that the rows changed.
void showReceivedBytes(const unsigned char* bytes, std::size_t count);
void showReceivedBytes(const std::string& bytes);
std::string traceText();  // the trace, one line each, for failure messages
// A kept octet row as 80 columns show it, without the blanks that end it.
std::string octetRowText(std::uint64_t row);
std::size_t traceCount(const std::string& line);
// Position of the first line equal to `line` at or after `from`; trace.size() if none.
std::size_t traceFind(const std::string& line, std::size_t from = 0);
std::uint32_t ipv4(const char* dotted);  // network order, via the C library
Bytes bytesOf(const std::string& text);

#endif
