// The link with real sockets on 127.0.0.1: listening, the one accepted peer (or
// one after another, listening continuously), receiving in order, the peer's close,
// a reset, a port in use, typed characters and the status line.
#include "harness.h"

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <thread>

#include "app/app_win32.h"
#include "capture/recorder.h"
#include "net/link.h"
#include "net/outgoing.h"
#include "session/settings.h"
#include "terminal/screen.h"
#include "ui/resource.h"

namespace {

// Printable bytes in a pattern that shows any loss, repeat or swap.
std::string pattern(size_t count) {
    std::string bytes;
    for (size_t i = 0; i < count; ++i) bytes += static_cast<char>(33 + (i * 7 + i / 94) % 94);
    return bytes;
}

std::string listeningText(unsigned short port) {
    return " Serveur en ecoute sur < " + std::to_string(port) + " >";
}

std::string connectedText(unsigned short port) {
    return "Serveur Connecte avec <127.0.0.1 : " + std::to_string(port) + "> ...";
}

void expectIdleLink() {
    EXPECT_EQ(serverState, SERVER_IDLE);
    EXPECT_EQ(serverSocket, NO_SOCKET);
    EXPECT_FALSE(settingsChecked);
    EXPECT_EQ(statusText(), " ");
    EXPECT_EQ(menuState(IDM_LISTEN) & MF_GRAYED, 0);
    EXPECT_EQ(menuState(IDM_DISCONNECT) & MF_GRAYED, MF_GRAYED);
}

void expectOpenLinkMenu() {
    EXPECT_EQ(menuState(IDM_LISTEN) & MF_GRAYED, MF_GRAYED);
    EXPECT_EQ(menuState(IDM_DISCONNECT) & MF_GRAYED, 0);
}

// What the grid shows after `bytes` arrived from (0, 0) with automatic wrap on:
// the stream laid out row after row, scrolled so that the cursor's row is the last.
unsigned char expectedCell(const std::string& bytes, int row, int col) {
    int line = static_cast<int>(bytes.size()) / gridColumns;
    int shown = line >= gridRows - 1 ? line - (gridRows - 1) + row : row;
    size_t index = static_cast<size_t>(shown) * gridColumns + col;
    return index < bytes.size() ? static_cast<unsigned char>(bytes[index]) : ' ';
}

void expectGridShowsStream(const std::string& bytes) {
    int wrong = 0;
    for (int row = 0; row < gridRows; ++row) {
        for (int col = 0; col < gridColumns; ++col) {
            unsigned char seen = gridCell(row, col);
            if (seen != expectedCell(bytes, row, col) && wrong++ < 5) {
                ADD_FAILURE() << "cell (" << row << ", " << col << ") holds " << int(seen)
                              << ", expected " << int(expectedCell(bytes, row, col));
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

struct NotificationLog {
    std::vector<unsigned> events;   // low word of each notification taken by the pump
    std::vector<unsigned> errors;   // high word
    std::vector<long> captured;     // capture file size before it was handled
};
NotificationLog notifications;
std::string capturePathWatched;

// Logs the socket notifications; with a capture path, how much the capture file held
// before each one was handled.
void logNotifications(const std::string& capture = "") {
    notifications = NotificationLog();
    capturePathWatched = capture;
    socketNotificationObserver = [](const MSG& m) {
        notifications.events.push_back(LOWORD(m.lParam));
        notifications.errors.push_back(HIWORD(m.lParam));
        notifications.captured.push_back(capturePathWatched.empty() ? -1 : fileSize(capturePathWatched));
    };
}

// True once the capture file holds `size` bytes: they have been shown too, since a
// chunk is written before it is shown, in the same notification.
bool captured(const std::string& capture, size_t size) {
    return pumpUntil([&] { return fileSize(capture) >= static_cast<long>(size); });
}

u_long unreadBytes(SOCKET connected) {
    u_long pending = 0;
    ioctlsocket(connected, FIONREAD, &pending);
    return pending;
}

// Waits, handling no message, until the program's socket holds `count` unread
// bytes, then takes every socket notification out of the queue: the test hands the
// program the notification it wants next. False when the bytes did not all come.
bool heldUnreadWithNoNotification(SOCKET connected, size_t count) {
    DWORD start = GetTickCount();
    u_long pending = 0;
    while (ioctlsocket(connected, FIONREAD, &pending) == 0 && pending < count &&
           GetTickCount() - start < 10000) {
        WaitForSingleObject(GetCurrentProcess(), 10);  // never signalled: a short wait
    }
    MSG queued;
    while (PeekMessageA(&queued, mainWindow, WM_SOCKET_NOTIFY, WM_SOCKET_NOTIFY, PM_REMOVE)) {
    }
    return pending == count;
}

// Read notifications waiting in the queue now; the queue keeps them, in order.
int queuedReadNotifications() {
    std::vector<MSG> queued;
    MSG m;
    while (PeekMessageA(&m, mainWindow, WM_SOCKET_NOTIFY, WM_SOCKET_NOTIFY, PM_REMOVE)) {
        queued.push_back(m);
    }
    int reads = 0;
    for (const MSG& q : queued) {
        if (LOWORD(q.lParam) == FD_READ) reads++;
        PostMessageA(q.hwnd, q.message, q.wParam, q.lParam);
    }
    return reads;
}

SOCKET acceptedPeer(unsigned short port) {
    SOCKET peer = connectPeer(port);
    if (peer == INVALID_SOCKET) return peer;
    if (!pumpUntil([] { return serverState == SERVER_CONNECTED; })) {
        closesocket(peer);
        return INVALID_SOCKET;
    }
    return peer;
}

// A capture recording into `capture` and a peer connected on `port`; the peer, or
// INVALID_SOCKET when any step failed.
SOCKET recordingAndConnected(unsigned short port, const std::string& capture) {
    if (!startCaptureOn(capture) || !listenOn(port)) return INVALID_SOCKET;
    return acceptedPeer(port);
}

class LinkTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        port = freeLoopbackPort();
        logNotifications();
    }
    unsigned short port = 0;
};

}  // namespace

TEST_F(LinkTest, OnePeerIsAcceptedAndItsBytesArriveInOrder) {
    autoWrap = true;
    std::string capture = scratchPath("link-capture.txt");
    ASSERT_TRUE(startCaptureOn(capture));
    ASSERT_TRUE(listenOn(port));
    EXPECT_TRUE(settingsChecked);
    EXPECT_EQ(statusText(), listeningText(port));
    expectOpenLinkMenu();

    SOCKET peer = acceptedPeer(port);
    ASSERT_NE(peer, INVALID_SOCKET);
    EXPECT_EQ(statusText(), connectedText(port));
    EXPECT_EQ(peerAddress, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(clientSocket, serverSocket);
    expectOpenLinkMenu();

    // Nothing listens once the peer is accepted.
    int refusal = 0;
    SOCKET second = connectPeer(port, &refusal);
    EXPECT_EQ(second, INVALID_SOCKET);
    EXPECT_EQ(refusal, WSAECONNREFUSED);
    if (second != INVALID_SOCKET) closesocket(second);
    EXPECT_EQ(serverState, SERVER_CONNECTED);

    std::string bytes = pattern(1300);
    ASSERT_TRUE(sendAll(peer, bytes));
    ASSERT_TRUE(captured(capture, bytes.size()));
    pumpPending();
    expectGridShowsStream(bytes);
    EXPECT_EQ(cursorRow, 1300 / gridColumns);
    EXPECT_EQ(cursorCol, 1300 % gridColumns);

    closesocket(peer);
    ASSERT_TRUE(pumpUntil([] { return serverState == SERVER_IDLE; }));
    expectIdleLink();
    EXPECT_TRUE(dialogsSeen.size() == 1u) << "a box was shown on the peer's close";
    EXPECT_EQ(captureMode, CAPTURE_RECORDING) << "the link's end must not touch the capture";
    sendCommand(IDM_CAPTURE_STOP);
    EXPECT_EQ(readWholeFile(capture), bytes);
    DeleteFileA(capture.c_str());
}

TEST_F(LinkTest, APeerThatSendsAndClosesAtOnceLosesNothing) {
    autoWrap = true;
    std::string capture = scratchPath("close-capture.txt");
    ASSERT_TRUE(startCaptureOn(capture));
    std::string all;
    for (size_t size : {1300u, 6000u}) {
        SCOPED_TRACE(size);
        sendTerminalChar(12);
        logNotifications(capture);
        long before = fileSize(capture);
        ASSERT_TRUE(listenOn(port));
        SOCKET peer = acceptedPeer(port);
        ASSERT_NE(peer, INVALID_SOCKET);
        // Sent and closed while the program handles nothing: most of it is still
        // pending when the close is noticed.
        std::string bytes = pattern(size);
        ASSERT_TRUE(sendAll(peer, bytes));
        closesocket(peer);
        ASSERT_TRUE(pumpUntil([] { return serverState == SERVER_IDLE; }));
        pumpPending();
        EXPECT_EQ(fileSize(capture) - before, static_cast<long>(size));
        expectGridShowsStream(bytes);
        all += bytes;
        long atClose = -1;
        for (size_t i = 0; i < notifications.events.size(); ++i) {
            if (notifications.events[i] == FD_CLOSE && atClose < 0) atClose = notifications.captured[i] - before;
        }
        std::printf("[ measured ] %zu bytes sent then closed: %ld taken in when the close "
                    "notification came, %zu notifications\n",
                    size, atClose, notifications.events.size());
        port = freeLoopbackPort();
    }
    sendCommand(IDM_CAPTURE_STOP);
    EXPECT_EQ(readWholeFile(capture), all);
    EXPECT_EQ(dialogsSeen.size(), 1u) << "only the capture dialog was expected";
    DeleteFileA(capture.c_str());
}

TEST_F(LinkTest, DataStillPendingAtTheCloseIsReadFirst) {
    autoWrap = true;
    std::string capture = scratchPath("drain-capture.txt");
    SOCKET peer = recordingAndConnected(port, capture);
    ASSERT_NE(peer, INVALID_SOCKET);
    std::string bytes = pattern(3000);
    ASSERT_TRUE(sendAll(peer, bytes));
    closesocket(peer);
    // Without handling any message: wait until everything is in the program's
    // socket, then leave the close as the only notification, as when the close is
    // noticed before any read.
    SOCKET connected = static_cast<SOCKET>(serverSocket);
    ASSERT_TRUE(heldUnreadWithNoNotification(connected, bytes.size()));
    PostMessageA(mainWindow, WM_SOCKET_NOTIFY, static_cast<WPARAM>(connected), FD_CLOSE);
    ASSERT_TRUE(pumpUntil([] { return serverState == SERVER_IDLE; }));
    pumpPending();
    EXPECT_EQ(fileSize(capture), 3000) << "data pending at the close was lost";
    expectGridShowsStream(bytes);
    expectIdleLink();
    sendCommand(IDM_CAPTURE_STOP);
    EXPECT_EQ(readWholeFile(capture), bytes);
    DeleteFileA(capture.c_str());
}

// Key input for the main window, in the system's input queue: a Shift press and
// release, which types nothing.
void queueKeyInput() {
    SetForegroundWindow(mainWindow);
    SetFocus(mainWindow);
    INPUT keys[2];
    ZeroMemory(keys, sizeof keys);
    keys[0].type = keys[1].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = keys[1].ki.wVk = VK_SHIFT;
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, keys, sizeof keys[0]);
}

TEST_F(LinkTest, AReadWaitsForInputAndPaintingThenTakesTheBytesInOrder) {
    std::string capture = scratchPath("deferred-capture.txt");
    SOCKET peer = recordingAndConnected(port, capture);
    ASSERT_NE(peer, INVALID_SOCKET);
    SOCKET connected = static_cast<SOCKET>(serverSocket);
    std::string all;
    struct Waiting {
        const char* what;
        std::function<void()> queue;
    };
    const Waiting cases[] = {
        {"painting", [] { InvalidateRect(mainWindow, nullptr, FALSE); }},
        {"input", [] { queueKeyInput(); }},
    };
    for (const Waiting& waiting : cases) {
        SCOPED_TRACE(waiting.what);
        std::string bytes = pattern(700 + all.size());
        ASSERT_TRUE(sendAll(peer, bytes));
        ASSERT_TRUE(heldUnreadWithNoNotification(connected, bytes.size()));
        waiting.queue();
        ASSERT_NE(HIWORD(GetQueueStatus(QS_INPUT | QS_PAINT)), 0) << "nothing waits";
        SendMessageA(mainWindow, WM_SOCKET_NOTIFY, static_cast<WPARAM>(connected), FD_READ);
        EXPECT_EQ(unreadBytes(connected), bytes.size()) << "read while the person waited";
        EXPECT_EQ(fileSize(capture), static_cast<long>(all.size()));
        all += bytes;
        ASSERT_TRUE(captured(capture, all.size()));
    }

    // The close comes while the read waits: once the painting is done, the reads of
    // the close take it all, then find the end.
    std::string last = pattern(900);
    ASSERT_TRUE(sendAll(peer, last));
    closesocket(peer);
    ASSERT_TRUE(heldUnreadWithNoNotification(connected, last.size()));
    InvalidateRect(mainWindow, nullptr, FALSE);
    SendMessageA(mainWindow, WM_SOCKET_NOTIFY, static_cast<WPARAM>(connected), FD_READ);
    EXPECT_EQ(unreadBytes(connected), last.size());
    SendMessageA(mainWindow, WM_SOCKET_NOTIFY, static_cast<WPARAM>(connected), FD_CLOSE);
    EXPECT_EQ(unreadBytes(connected), last.size()) << "read while the person waited";
    all += last;
    ASSERT_TRUE(pumpUntil([] { return serverState == SERVER_IDLE; }));
    expectIdleLink();
    pumpPending();
    sendCommand(IDM_CAPTURE_STOP);
    EXPECT_EQ(readWholeFile(capture), all);
    DeleteFileA(capture.c_str());
}

TEST_F(LinkTest, ATrickleOfTinyWritesQueuesOneReadAtATimeAndTheCloseFollowsTheBytes) {
    std::string capture = scratchPath("trickle-capture.txt");
    SOCKET peer = recordingAndConnected(port, capture);
    ASSERT_NE(peer, INVALID_SOCKET);
    BOOL noDelay = TRUE;
    setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    std::string bytes = randomBytes(400000, 15);
    std::thread writer([&] {
        unsigned seed = 7;
        for (size_t sent = 0; sent < bytes.size();) {
            seed = seed * 1103515245u + 12345u;
            size_t piece = std::min<size_t>(1 + (seed >> 16) % 20, bytes.size() - sent);
            if (!sendAll(peer, bytes.substr(sent, piece))) break;
            sent += piece;
        }
        closesocket(peer);
    });
    int mostQueued = 0;
    size_t afterLastByte = 0;  // notifications taken once every byte was in the capture
    socketNotificationObserver = [&](const MSG&) {
        mostQueued = std::max(mostQueued, queuedReadNotifications());
        if (fileSize(capture) == static_cast<long>(bytes.size())) afterLastByte++;
    };
    bool idle = pumpUntil([] { return serverState == SERVER_IDLE; }, 60000);
    writer.join();
    ASSERT_TRUE(idle);
    EXPECT_EQ(mostQueued, 0) << "a read notification was queued behind the one being handled";
    EXPECT_LE(afterLastByte, 2u) << "the close waited behind stale notifications";
    sendCommand(IDM_CAPTURE_STOP);
    EXPECT_TRUE(readWholeFile(capture) == bytes) << "the capture differs";
    DeleteFileA(capture.c_str());
}

TEST_F(LinkTest, AReadNotificationWithNothingToReadChangesNothing) {
    ASSERT_TRUE(listenOn(port));
    SOCKET peer = acceptedPeer(port);
    ASSERT_NE(peer, INVALID_SOCKET);
    PostMessageA(mainWindow, WM_SOCKET_NOTIFY, static_cast<WPARAM>(serverSocket), FD_READ);
    pumpPending();
    EXPECT_EQ(serverState, SERVER_CONNECTED);
    EXPECT_EQ(cursorCol, 0);
    EXPECT_EQ(gridCell(0, 0), ' ');
    EXPECT_TRUE(dialogsSeen.empty());
    ASSERT_TRUE(sendAll(peer, "ok"));
    EXPECT_TRUE(pumpUntil([] { return cursorCol == 2; }));
    EXPECT_EQ(gridCell(0, 1), 'k');
    closesocket(peer);
}

TEST_F(LinkTest, SignedBytesAndZeroReachGridAndCapture) {
    std::string capture = scratchPath("bytes-capture.txt");
    SOCKET peer = recordingAndConnected(port, capture);
    ASSERT_NE(peer, INVALID_SOCKET);
    const std::string bytes("\xE9\x00" "A\xFF\x80\t|", 7);
    ASSERT_TRUE(sendAll(peer, bytes));
    ASSERT_TRUE(pumpUntil([] { return cursorCol >= 9; }));
    EXPECT_EQ(gridCell(0, 0), 0xE9);
    EXPECT_EQ(gridCell(0, 1), 0x00);
    EXPECT_EQ(gridCell(0, 2), 'A');
    EXPECT_EQ(gridCell(0, 3), 0xFF);
    EXPECT_EQ(gridCell(0, 4), 0x80);
    EXPECT_EQ(gridCell(0, 5), ' ');
    EXPECT_EQ(gridCell(0, 7), ' ');
    EXPECT_EQ(gridCell(0, 8), '|');
    // The capture holds the bytes received, the tab as one byte.
    sendCommand(IDM_CAPTURE_STOP);
    EXPECT_EQ(readWholeFile(capture), bytes);
    closesocket(peer);
    DeleteFileA(capture.c_str());
}

TEST_F(LinkTest, APortInUseCannotBeListenedOn) {
    SOCKET blocker = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = loopback(port);
    ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(blocker, 1), 0);

    EXPECT_FALSE(listenOn(port));
    ASSERT_EQ(dialogsSeen.size(), 1u);
    EXPECT_EQ(dialogsSeen[0].caption, "erreur");
    ASSERT_EQ(dialogsSeen[0].texts.size(), 1u);
    EXPECT_EQ(dialogsSeen[0].texts[0], "mise en ecoute impossible ");
    EXPECT_EQ(dialogsSeen[0].owner, mainWindow);
    EXPECT_EQ(dialogsSeen[0].buttons, std::vector<int>{IDOK});
    expectIdleLink();

    // Once the port is free again the next listen works.
    closesocket(blocker);
    EXPECT_TRUE(listenOn(port));
    EXPECT_EQ(statusText(), listeningText(port));
}

// The port is freed while the box of a failed listen shows, and another program
// posts the listen again: the new listener must outlive the box.
TEST_F(LinkTest, AListenPostedBehindAFailedListensBoxKeepsListening) {
    SOCKET blocker = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = loopback(port);
    ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(blocker, 1), 0);
    copyTextField(serverAddress, sizeof serverAddress, "127.0.0.1");
    serverPort = port;
    bool listeningBehindTheBox = false;
    queueDialogScript([&](HWND box) {
        closesocket(blocker);
        PostMessageA(mainWindow, WM_COMMAND, IDM_LISTEN, 0);
        listeningBehindTheBox = pumpUntil([] { return serverState == SERVER_LISTENING; });
        pressButton(box, IDOK);
    });
    sendCommand(IDM_LISTEN);
    pumpPending();
    ASSERT_TRUE(listeningBehindTheBox);
    ASSERT_EQ(dialogsSeen.size(), 1u);
    EXPECT_EQ(dialogsSeen[0].texts[0], "mise en ecoute impossible ");
    EXPECT_EQ(serverState, SERVER_LISTENING);
    EXPECT_NE(serverSocket, NO_SOCKET);
    EXPECT_EQ(statusText(), listeningText(port));
    expectOpenLinkMenu();

    SOCKET peer = acceptedPeer(port);
    ASSERT_NE(peer, INVALID_SOCKET);
    sendCommand(IDM_DISCONNECT);
    closesocket(peer);
    expectIdleLink();
    SOCKET again = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_EQ(bind(again, reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
        << "the port is still taken";
    closesocket(again);
}

TEST_F(LinkTest, AResetConnectionGoesIdleWithoutABox) {
    ASSERT_TRUE(listenOn(port));
    SOCKET peer = acceptedPeer(port);
    ASSERT_NE(peer, INVALID_SOCKET);
    logNotifications();
    linger abort = {1, 0};
    setsockopt(peer, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
    closesocket(peer);
    ASSERT_TRUE(pumpUntil([] { return serverState == SERVER_IDLE; }));
    expectIdleLink();
    EXPECT_TRUE(dialogsSeen.empty());
    for (size_t i = 0; i < notifications.events.size(); ++i) {
        std::printf("[ measured ] after a reset: event %u, error %u\n", notifications.events[i],
                    notifications.errors[i]);
    }
}

// An error or a close notified for the listening socket's handle value may be
// another socket's: the accept it leads to finds nobody waiting and a sound
// listening socket, and the program goes on listening.
TEST_F(LinkTest, AnErrorOrACloseNotifiedWhileListeningThatTheListenerDeniesChangesNothing) {
    ASSERT_TRUE(listenOn(port));
    SOCKET listening = static_cast<SOCKET>(serverSocket);
    PostMessageA(mainWindow, WM_SOCKET_NOTIFY, static_cast<WPARAM>(listening),
                 MAKELPARAM(FD_ACCEPT, WSAENETDOWN));
    PostMessageA(mainWindow, WM_SOCKET_NOTIFY, static_cast<WPARAM>(listening), FD_CLOSE);
    pumpPending();
    EXPECT_EQ(serverState, SERVER_LISTENING);
    EXPECT_EQ(statusText(), listeningText(port));
    EXPECT_TRUE(dialogsSeen.empty());
    SOCKET peer = acceptedPeer(port);
    EXPECT_NE(peer, INVALID_SOCKET) << "the listening socket was closed";
    if (peer != INVALID_SOCKET) closesocket(peer);
}

TEST_F(LinkTest, DisconnectCommandEndsListeningAndConnection) {
    ASSERT_TRUE(listenOn(port));
    sendCommand(IDM_DISCONNECT);
    expectIdleLink();
    int refusal = 0;
    SOCKET late = connectPeer(port, &refusal);
    EXPECT_EQ(late, INVALID_SOCKET);
    if (late != INVALID_SOCKET) closesocket(late);

    // Listening again validates again, then a connected peer sees the end.
    port = freeLoopbackPort();
    ASSERT_TRUE(listenOn(port));
    SOCKET peer = acceptedPeer(port);
    ASSERT_NE(peer, INVALID_SOCKET);
    sendCommand(IDM_DISCONNECT);
    expectIdleLink();
    bool closed = false;
    std::string rest = receiveBytes(peer, 1, 5000, &closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(rest, "");
    closesocket(peer);
    EXPECT_TRUE(dialogsSeen.empty());

    // The same port right after the program closed a connection on it.
    bool again = listenOn(port);
    std::printf("[ measured ] listening again on the port of a connection just closed by "
                "the program: %s\n", again ? "works" : "refused");
    dialogsSeen.clear();
}

TEST_F(LinkTest, TypedCharactersGoToThePeerOnlyWhileConnected) {
    std::string capture = scratchPath("typed-capture.txt");
    ASSERT_TRUE(startCaptureOn(capture));
    SendMessageA(mainWindow, WM_CHAR, 'i', 1);  // idle
    ASSERT_TRUE(listenOn(port));
    SendMessageA(mainWindow, WM_CHAR, 'x', 1);  // listening
    SOCKET peer = acceptedPeer(port);
    ASSERT_NE(peer, INVALID_SOCKET);
    SendMessageA(mainWindow, WM_CHAR, 'y', 1);
    SendMessageA(mainWindow, WM_CHAR, 0xE9, 1);
    SendMessageA(mainWindow, WM_CHAR, 13, 1);
    EXPECT_EQ(receiveBytes(peer, 3, 5000), std::string("y\xE9\r"));
    EXPECT_EQ(gridCell(0, 0), ' ') << "typed characters are not shown";
    sendCommand(IDM_DISCONNECT);
    SendMessageA(mainWindow, WM_CHAR, 'z', 1);
    bool closed = false;
    EXPECT_EQ(receiveBytes(peer, 1, 5000, &closed), "");
    EXPECT_TRUE(closed);
    closesocket(peer);
    sendCommand(IDM_CAPTURE_STOP);
    EXPECT_EQ(readWholeFile(capture), "") << "typed characters are not recorded";
    DeleteFileA(capture.c_str());
}

TEST_F(LinkTest, StatusLineFollowsTheThreeStates) {
    EXPECT_EQ(statusText(), "");
    serverPort = port;
    ASSERT_TRUE(listenOn(port));
    EXPECT_EQ(statusText(), listeningText(port));
    SOCKET peer = acceptedPeer(port);
    ASSERT_NE(peer, INVALID_SOCKET);
    EXPECT_EQ(statusText(), connectedText(port));
    // The peer's own port never shows; the listening port does.
    sockaddr_in local;
    int length = sizeof local;
    getsockname(peer, reinterpret_cast<sockaddr*>(&local), &length);
    EXPECT_EQ(statusText().find(std::to_string(ntohs(local.sin_port))), std::string::npos);
    shutdown(peer, SD_SEND);
    ASSERT_TRUE(pumpUntil([] { return serverState == SERVER_IDLE; }));
    EXPECT_EQ(statusText(), " ");
    closesocket(peer);
}

TEST_F(LinkTest, APeerThatResetsBeforeItsAcceptLeavesTheServerListening) {
    ASSERT_TRUE(listenOn(port));
    SOCKET impatient = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = loopback(port);
    // Connected by the system and reset before the program takes it.
    ASSERT_EQ(connect(impatient, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    linger abort = {1, 0};
    setsockopt(impatient, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
    closesocket(impatient);
    ASSERT_TRUE(pumpUntil([] { return notifications.events.size() >= 1; }));
    pumpPending();
    EXPECT_TRUE(dialogsSeen.empty()) << "the server stopped for a peer that went";
    EXPECT_EQ(serverState, SERVER_LISTENING);
    SOCKET peer = acceptedPeer(port);
    ASSERT_NE(peer, INVALID_SOCKET) << "the next peer was not accepted";
    ASSERT_TRUE(sendAll(peer, "still here"));
    EXPECT_TRUE(pumpUntil([] { return cursorCol == 10; }));
    EXPECT_EQ(serverState, SERVER_CONNECTED);
    closesocket(peer);
}

TEST_F(LinkTest, AFailedAcceptClosesTheListenerBeforeItsBox) {
    ASSERT_TRUE(listenOn(port));
    // The listening socket's handle closed underneath: the accept fails on the
    // server's side (not a socket), not because a peer went.
    closesocket(static_cast<SOCKET>(serverSocket));
    int stateBehindTheBox = -1;
    bool listenerOpenBehindTheBox = true;
    queueDialogScript([&](HWND box) {
        stateBehindTheBox = serverState;
        listenerOpenBehindTheBox = serverSocket != NO_SOCKET;
        pressButton(box, IDOK);
    });
    PostMessageA(mainWindow, WM_SOCKET_NOTIFY, static_cast<WPARAM>(serverSocket), FD_ACCEPT);
    ASSERT_TRUE(pumpUntil([] { return !dialogsSeen.empty() && serverState == SERVER_IDLE; }));
    pumpPending();
    ASSERT_EQ(dialogsSeen.size(), 1u);
    ASSERT_EQ(dialogsSeen[0].texts.size(), 1u);
    EXPECT_EQ(dialogsSeen[0].texts[0], "Connexion rejetee... ");
    EXPECT_EQ(stateBehindTheBox, SERVER_IDLE);
    EXPECT_FALSE(listenerOpenBehindTheBox);
    expectIdleLink();
}

TEST_F(LinkTest, KeysTypedWhileThePeerReadsNothingArriveInOrderOnceItReads) {
    ASSERT_TRUE(listenOn(port));
    SOCKET peer = acceptedPeer(port);
    ASSERT_NE(peer, INVALID_SOCKET);
    // Small buffers on both sides; not so small that the peer's window stays shut
    // below one segment, which would leave the rest to TCP's slow window probes.
    int small = 16384;
    setsockopt(static_cast<SOCKET>(serverSocket), SOL_SOCKET, SO_SNDBUF,
               reinterpret_cast<const char*>(&small), sizeof small);
    setsockopt(peer, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&small), sizeof small);
    // Far more than the buffers hold: typing goes on until the queue is full, and the
    // keys beyond it are not taken.
    std::string typed = randomBytes(SEND_QUEUE_SIZE + 100000, 23);
    bool queued = false;
    for (char c : typed) {
        SendMessageA(mainWindow, WM_CHAR, static_cast<unsigned char>(c), 1);
        queued = queued || bytesWaitingToSend() > 0;
    }
    EXPECT_TRUE(queued) << "the socket never refused a byte: the test proves nothing";
    EXPECT_EQ(bytesWaitingToSend(), SEND_QUEUE_SIZE);
    std::string got;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 30000;) {
        std::string more = receiveBytes(peer, typed.size(), 300);
        got += more;
        if (more.empty() && bytesWaitingToSend() == 0) break;
    }
    EXPECT_GE(got.size(), SEND_QUEUE_SIZE);
    EXPECT_LT(got.size(), typed.size());
    EXPECT_TRUE(got == typed.substr(0, got.size())) << "typed bytes lost or out of order";
    EXPECT_EQ(bytesWaitingToSend(), 0u);
    // Once everything went out, typing goes on as before.
    SendMessageA(mainWindow, WM_CHAR, 'k', 1);
    EXPECT_EQ(receiveBytes(peer, 1, 5000), "k");
    closesocket(peer);
}

// Another program can post "Mise en ecoute" whatever the menu shows: while the link
// listens or is connected it changes nothing. No second socket takes the port, so
// that after the disconnect the program listens on it again.
TEST_F(LinkTest, AListenCommandPostedWhileListeningOrConnectedChangesNothing) {
    // Posts the command as another program would; true when the same socket stays in
    // the same state with the same status line.
    auto postedListenChangesNothing = [](int state, const std::string& status) {
        const SocketHandle before = serverSocket;
        PostMessageA(mainWindow, WM_COMMAND, IDM_LISTEN, 0);
        pumpPending();
        return serverSocket == before && serverState == state && statusText() == status;
    };
    ASSERT_TRUE(listenOn(port));
    EXPECT_TRUE(postedListenChangesNothing(SERVER_LISTENING, listeningText(port)));
    SOCKET peer = acceptedPeer(port);
    ASSERT_NE(peer, INVALID_SOCKET);
    EXPECT_TRUE(postedListenChangesNothing(SERVER_CONNECTED, connectedText(port)));
    int refusal = 0;
    SOCKET second = connectPeer(port, &refusal);
    EXPECT_EQ(refusal, WSAECONNREFUSED) << "something listens on the port";
    if (second != INVALID_SOCKET) closesocket(second);
    EXPECT_TRUE(dialogsSeen.empty()) << dialogsSeen[0].texts[0];

    ASSERT_TRUE(sendAll(peer, "ok"));
    EXPECT_TRUE(pumpUntil([] { return gridCell(0, 1) == 'k'; }));
    sendCommand(IDM_DISCONNECT);
    closesocket(peer);
    expectIdleLink();
    EXPECT_TRUE(listenOn(port)) << "the port is still taken";
}

TEST_F(LinkTest, ListeningContinuouslyThePeerThatWaitedIsServedWithItsBytesWhenTheFirstLeaves) {
    HMENU system = GetSystemMenu(mainWindow, FALSE);
    char label[32] = "";
    GetMenuStringA(system, IDM_KEEP_LISTENING, label, sizeof label, MF_BYCOMMAND);
    EXPECT_EQ(std::string(label), "Ecoute continue");
    EXPECT_EQ(GetMenuState(system, IDM_KEEP_LISTENING, MF_BYCOMMAND) & MF_CHECKED, 0u);
    SendMessageA(mainWindow, WM_SYSCOMMAND, IDM_KEEP_LISTENING, 0);
    EXPECT_EQ(GetMenuState(system, IDM_KEEP_LISTENING, MF_BYCOMMAND) & MF_CHECKED, MF_CHECKED);

    std::string capture = scratchPath("continue-capture.txt");
    SOCKET first = recordingAndConnected(port, capture);
    ASSERT_NE(first, INVALID_SOCKET);
    SOCKET second = connectPeer(port);
    ASSERT_NE(second, INVALID_SOCKET) << "the listener stays open while a peer is served";
    sockaddr_in secondEnd;
    int length = sizeof secondEnd;
    getsockname(second, reinterpret_cast<sockaddr*>(&secondEnd), &length);
    ASSERT_TRUE(sendAll(second, "waited "));
    ASSERT_TRUE(sendAll(first, "first "));
    ASSERT_TRUE(captured(capture, 6));
    EXPECT_NE(peerPort, ntohs(secondEnd.sin_port));

    closesocket(first);
    ASSERT_TRUE(captured(capture, 13));
    EXPECT_EQ(serverState, SERVER_CONNECTED);
    EXPECT_EQ(peerPort, ntohs(secondEnd.sin_port));
    EXPECT_EQ(statusText(), connectedText(port));
    ASSERT_TRUE(sendAll(second, "then"));
    closesocket(second);
    ASSERT_TRUE(pumpUntil([] { return serverState == SERVER_LISTENING; }));
    EXPECT_EQ(statusText(), listeningText(port));
    EXPECT_TRUE(settingsChecked);
    expectOpenLinkMenu();
    EXPECT_TRUE(dialogsSeen.size() == 1u) << "a box was shown at a connection's end";

    SendMessageA(mainWindow, WM_SYSCOMMAND, IDM_KEEP_LISTENING, 0);
    EXPECT_EQ(GetMenuState(system, IDM_KEEP_LISTENING, MF_BYCOMMAND) & MF_CHECKED, 0u);
    sendCommand(IDM_CAPTURE_STOP);
    EXPECT_EQ(readWholeFile(capture), "first waited then");
    DeleteFileA(capture.c_str());
}

namespace {
// A connected socket whose close resets the connection (linger 0), as a port
// scanner's or an impatient client's does.
void resetWhenClosed(SOCKET socket) {
    linger abort = {1, 0};
    setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
}

// The connection goes on: the peer's bytes arrive and a typed key reaches it. Every
// notification queued before has been handled by then.
void expectConnectionGoesOn(SOCKET peer, const std::string& capture, const std::string& capturedSoFar) {
    ASSERT_TRUE(sendAll(peer, "+"));
    ASSERT_TRUE(captured(capture, capturedSoFar.size() + 1));
    SendMessageA(mainWindow, WM_CHAR, 'k', 1);
    EXPECT_EQ(receiveBytes(peer, 1, 5000), "k");
    pumpPending();
    EXPECT_EQ(serverState, SERVER_CONNECTED);
}
}  // namespace

// A close or an error notified for the connected socket's handle value that no read
// confirms was another socket's (one that had the handle value before): the
// connection goes on, and the peer's bytes read meanwhile are kept.
TEST_F(LinkTest, ACloseOrAnErrorThatNoReadConfirmsLeavesTheConnectionAsItWas) {
    std::string capture = scratchPath("unconfirmed-close.txt");
    SOCKET peer = recordingAndConnected(port, capture);
    ASSERT_NE(peer, INVALID_SOCKET);
    ASSERT_TRUE(sendAll(peer, "first"));
    ASSERT_TRUE(heldUnreadWithNoNotification(static_cast<SOCKET>(serverSocket), 5));
    const WPARAM connected = static_cast<WPARAM>(serverSocket);
    PostMessageA(mainWindow, WM_SOCKET_NOTIFY, connected, FD_CLOSE);
    PostMessageA(mainWindow, WM_SOCKET_NOTIFY, connected, MAKELPARAM(FD_CLOSE, WSAECONNRESET));
    PostMessageA(mainWindow, WM_SOCKET_NOTIFY, connected, MAKELPARAM(FD_READ, WSAECONNABORTED));
    ASSERT_TRUE(captured(capture, 5));
    pumpPending();
    EXPECT_EQ(serverState, SERVER_CONNECTED);
    expectConnectionGoesOn(peer, capture, "first");
    closesocket(peer);
    ASSERT_TRUE(pumpUntil([] { return serverState == SERVER_IDLE; }));
    sendCommand(IDM_CAPTURE_STOP);
    EXPECT_EQ(readWholeFile(capture), "first+");
    DeleteFileA(capture.c_str());
}

// Listening continuously: while one peer is served, two wait; the first of them
// gives up (a reset) before its turn. When the served peer leaves, the one behind
// it is taken and served as long as it stays.
TEST_F(LinkTest, APeerThatResetsWhileItWaitsCostsTheOneBehindItNothing) {
    SendMessageA(mainWindow, WM_SYSCOMMAND, IDM_KEEP_LISTENING, 0);
    std::string capture = scratchPath("reset-while-waiting.txt");
    SOCKET served = recordingAndConnected(port, capture);
    ASSERT_NE(served, INVALID_SOCKET);
    SOCKET gaveUp = connectPeer(port);
    SOCKET behind = connectPeer(port);
    ASSERT_NE(gaveUp, INVALID_SOCKET);
    ASSERT_NE(behind, INVALID_SOCKET);
    sockaddr_in behindEnd;
    int length = sizeof behindEnd;
    getsockname(behind, reinterpret_cast<sockaddr*>(&behindEnd), &length);
    ASSERT_TRUE(sendAll(behind, "behind"));
    resetWhenClosed(gaveUp);
    closesocket(gaveUp);
    closesocket(served);
    ASSERT_TRUE(captured(capture, 6));
    EXPECT_EQ(peerPort, ntohs(behindEnd.sin_port));
    expectConnectionGoesOn(behind, capture, "behind");
    closesocket(behind);
    ASSERT_TRUE(pumpUntil([] { return serverState == SERVER_LISTENING; }));
    SendMessageA(mainWindow, WM_SYSCOMMAND, IDM_KEEP_LISTENING, 0);
    sendCommand(IDM_CAPTURE_STOP);
    EXPECT_EQ(readWholeFile(capture), "behind+");
    DeleteFileA(capture.c_str());
}

// One peer a listen: a port scanner connects and resets just before the real
// client comes; the client is served as long as it stays.
TEST_F(LinkTest, AScannerThatResetsJustBeforeTheClientCostsTheClientNothing) {
    std::string capture = scratchPath("scanned-first.txt");
    ASSERT_TRUE(startCaptureOn(capture));
    ASSERT_TRUE(listenOn(port));
    SOCKET scanner = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = loopback(port);
    ASSERT_EQ(connect(scanner, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    resetWhenClosed(scanner);
    closesocket(scanner);
    SOCKET client = acceptedPeer(port);
    ASSERT_NE(client, INVALID_SOCKET);
    ASSERT_TRUE(sendAll(client, "client"));
    ASSERT_TRUE(captured(capture, 6));
    expectConnectionGoesOn(client, capture, "client");
    closesocket(client);
    ASSERT_TRUE(pumpUntil([] { return serverState == SERVER_IDLE; }));
    sendCommand(IDM_CAPTURE_STOP);
    EXPECT_EQ(readWholeFile(capture), "client+");
    DeleteFileA(capture.c_str());
}
