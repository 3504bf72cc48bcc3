// The link's state machine, its receive and send paths and the status line.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "capture/recorder.h"
#include "fake_platform.h"
#include "net/address.h"
#include "net/link.h"
#include "net/outgoing.h"
#include "session/settings.h"
#include "terminal/layout.h"
#include "terminal/received_bytes.h"
#include "terminal/screen.h"
#include "ui/resource.h"

namespace {

typedef std::vector<std::string> Lines;

const std::uint32_t EVENT_READ = 1;
const std::uint32_t EVENT_WRITE = 2;
const std::uint32_t EVENT_ACCEPT = 8;
const std::uint32_t EVENT_CLOSE = 32;
std::uint32_t withError(std::uint32_t event, std::uint32_t error) { return error << 16 | event; }

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override { resetAll(); }
    void TearDown() override { resetAll(); }

    // Listening on socket 7 with the default settings.
    static void listen() {
        onListenCommand();
        ASSERT_EQ(SERVER_LISTENING, serverState) << traceText();
        ASSERT_EQ(7u, serverSocket);
    }
    // Connected on socket 8 to 192.168.1.20, peer port 50123.
    static void connect() {
        listen();
        fake.accepts.push_back(FakeAccept{8, ipv4("192.168.1.20"), 50123});
        onSocketNotify(7, EVENT_ACCEPT);
        ASSERT_EQ(SERVER_CONNECTED, serverState) << traceText();
        fake.trace.clear();
    }
    // Connected as connect() does, with the window's grid and a capture into cap.txt.
    static void connectedWithAGridAndRecording() {
        makeWindowGrid();
        connect();
        recordTo("cap.txt");
    }
    static void recordTo(const char* path) {
        copyTextField(capturePath, sizeof capturePath, path);
        fake.dialogResults.push_back(0);
        startCapture();
        ASSERT_EQ(CAPTURE_RECORDING, captureMode) << traceText();
    }
};

TEST_F(LinkTest, ListenValidatesBindsListensThenSwapsTheMenuAndTellsThePort) {
    onListenCommand();
    EXPECT_EQ(Lines({"convert 0.0.0.0", "createSocket 7", "select 7", "bind 7 0.0.0.0 9000",
                     "listen 7", "menu 506 505", "status  Serveur en ecoute sur < 9000 >"}),
              fake.trace);
    EXPECT_EQ(SERVER_LISTENING, serverState);
    EXPECT_TRUE(settingsChecked);
    EXPECT_EQ(7u, serverSocket);
}

TEST_F(LinkTest, ListenWithCheckedSettingsUsesTheLastConversion) {
    copyTextField(serverAddress, sizeof serverAddress, "not an address");
    listenAddress = ipv4("10.1.2.3");
    settingsChecked = true;
    serverPort = 65536 + 80;  // only the low 16 bits reach the socket
    onListenCommand();
    EXPECT_EQ(0u, traceCount("convert not an address"));
    EXPECT_EQ(1u, traceCount("bind 7 10.1.2.3 80")) << traceText();
    EXPECT_EQ(SERVER_LISTENING, serverState);
}

TEST_F(LinkTest, RefusedSettingsOpenNothing) {
    copyTextField(serverAddress, sizeof serverAddress, "1.2.3");
    onListenCommand();
    EXPECT_EQ(Lines({"errorBox Erreur de format de l'adresse IP|Erreur"}), fake.trace);
    serverPort = 0;
    copyTextField(serverAddress, sizeof serverAddress, "0.0.0.0");
    fake.trace.clear();
    onListenCommand();
    EXPECT_EQ(Lines({"convert 0.0.0.0", "errorBox Erreur sur numero de port|Erreur"}), fake.trace);
    EXPECT_EQ(SERVER_IDLE, serverState);
    EXPECT_FALSE(settingsChecked);
    EXPECT_EQ(NO_SOCKET, serverSocket);
}

TEST_F(LinkTest, FailedListenOrBindTellsTheUserAndClosesTheSocket) {
    for (int failBind = 0; failBind < 2; ++failBind) {
        resetAll();
        if (failBind) fake.bindResult = -1;
        else fake.listenResult = -1;
        onListenCommand();
        std::size_t made = traceFind("createSocket 7");
        ASSERT_LT(made, fake.trace.size()) << traceText();
        // Closed and idle before the box, which lets other commands in.
        Lines tail(fake.trace.end() - 5, fake.trace.end());
        EXPECT_EQ(Lines({"shutdown 7", "close socket 7", "status  ",
                         "errorBox mise en ecoute impossible |erreur", "menu 505 506"}),
                  tail)
            << traceText();
        EXPECT_EQ(0u, traceCount("menu 506 505"));
        EXPECT_EQ(SERVER_IDLE, serverState);
        EXPECT_FALSE(settingsChecked);
        EXPECT_EQ(NO_SOCKET, serverSocket);
        EXPECT_TRUE(fake.openSockets.empty());
    }
}

// Another program posts a second listen while the first one's box shows; by then
// the port is free, so it listens. Closing the box must leave that listener alone.
TEST_F(LinkTest, AListenThatArrivesBehindAFailedListensBoxKeepsItsSocket) {
    fake.bindResult = -1;  // the port is taken
    fake.whileErrorBoxShows = [] {
        fake.bindResult = 0;
        onListenCommand();
    };
    onListenCommand();
    EXPECT_EQ(std::set<SocketHandle>({8}), fake.openSockets) << traceText();
    EXPECT_EQ(SERVER_LISTENING, serverState);
    EXPECT_EQ(8u, serverSocket);
    EXPECT_EQ(" Serveur en ecoute sur < 9000 >", fake.statusText);
    EXPECT_EQ("menu 506 505", fake.trace.back()) << traceText();

    fake.accepts.push_back(FakeAccept{9, ipv4("127.0.0.1"), 4000});
    onSocketNotify(8, EVENT_ACCEPT);
    EXPECT_EQ(SERVER_CONNECTED, serverState) << traceText();
    fake.trace.clear();
    onDisconnectCommand();
    EXPECT_EQ(Lines({"menu 505 506", "shutdown 9", "close socket 9", "status  "}), fake.trace);
    EXPECT_EQ(SERVER_IDLE, serverState);
    EXPECT_TRUE(fake.openSockets.empty());
}

TEST_F(LinkTest, AcceptProbesTheConnectionClosesTheListeningSocketAndShowsThePeer) {
    listen();
    fake.trace.clear();
    fake.accepts.push_back(FakeAccept{8, ipv4("192.168.1.20"), 50123});
    onSocketNotify(7, EVENT_ACCEPT);
    EXPECT_EQ(Lines({"accept 7 -> 8", "keepalive 8 30000 5000", "close socket 7",
                     "status Serveur Connecte avec <192.168.1.20 : 9000> ..."}),
              fake.trace);
    EXPECT_EQ(SERVER_CONNECTED, serverState);
    EXPECT_EQ(8u, serverSocket);
    EXPECT_EQ(8u, clientSocket);
    EXPECT_EQ(std::set<SocketHandle>({8}), fake.openSockets);
}

TEST_F(LinkTest, RejectedConnectionClosesTheListenerBeforeTheMessage) {
    listen();
    fake.trace.clear();
    fake.accepts.push_back(FakeAccept{NO_SOCKET, 0, 0});
    onSocketNotify(7, EVENT_ACCEPT);
    EXPECT_EQ(Lines({"accept 7 -> fail", "menu 505 506", "shutdown 7", "close socket 7",
                     "status  ", "errorBox Connexion rejetee... |erreur"}),
              fake.trace);
    EXPECT_EQ(SERVER_IDLE, serverState);
    EXPECT_FALSE(settingsChecked);
}

// A port scanner, or a client that gave up, reset its connection before its turn:
// the accept goes on to the peer behind it, or finds none and goes on listening.
TEST_F(LinkTest, APeerGoneBeforeItsAcceptIsPassedOverForTheNextOne) {
    listen();
    fake.trace.clear();
    fake.accepts.push_back(FakeAccept{NO_SOCKET, 0, 0, ACCEPT_PEER_WENT});
    fake.accepts.push_back(FakeAccept{NO_SOCKET, 0, 0, ACCEPT_NONE_WAITING});
    onSocketNotify(7, EVENT_ACCEPT);
    EXPECT_EQ(Lines({"accept 7 -> peer went", "accept 7 -> none waiting"}), fake.trace);
    EXPECT_EQ(SERVER_LISTENING, serverState);
    EXPECT_TRUE(settingsChecked);

    fake.trace.clear();
    fake.accepts.push_back(FakeAccept{NO_SOCKET, 0, 0, ACCEPT_PEER_WENT});
    fake.accepts.push_back(FakeAccept{NO_SOCKET, 0, 0, ACCEPT_PEER_WENT});
    fake.accepts.push_back(FakeAccept{8, ipv4("127.0.0.1"), 4000});
    onSocketNotify(7, EVENT_ACCEPT);
    EXPECT_EQ(SERVER_CONNECTED, serverState) << traceText();
    EXPECT_EQ(8u, serverSocket);
    EXPECT_EQ(2u, traceCount("accept 7 -> peer went")) << traceText();
}

TEST_F(LinkTest, DisconnectCommandWhileListeningOrConnected) {
    listen();
    fake.trace.clear();
    onDisconnectCommand();
    EXPECT_EQ(Lines({"menu 505 506", "shutdown 7", "close socket 7", "status  "}), fake.trace);
    EXPECT_EQ(SERVER_IDLE, serverState);
    EXPECT_FALSE(settingsChecked);

    resetAll();
    connect();
    onDisconnectCommand();
    EXPECT_EQ(Lines({"menu 505 506", "shutdown 8", "close socket 8", "status  "}), fake.trace);
    EXPECT_TRUE(fake.openSockets.empty());
    EXPECT_EQ(0, fake.badSocketCloses);
}

// The items are grayed outside these states, but another program can post the
// commands: they change nothing there.
TEST_F(LinkTest, ListenOnlyWhileIdleAndDisconnectOnlyWhileNot) {
    settingsChecked = true;
    onDisconnectCommand();
    EXPECT_TRUE(fake.trace.empty()) << traceText();
    EXPECT_TRUE(settingsChecked);
    listen();
    fake.trace.clear();
    onListenCommand();
    connect();
    onListenCommand();
    EXPECT_TRUE(fake.trace.empty()) << traceText();
    EXPECT_EQ(SERVER_CONNECTED, serverState);
    EXPECT_EQ(std::set<SocketHandle>({8}), fake.openSockets);
}

TEST_F(LinkTest, DisconnectWithNothingOpenOnlyResetsTheState) {
    settingsChecked = true;
    disconnectServer();
    disconnectServer();
    EXPECT_EQ(Lines({"status  ", "status  "}), fake.trace);
    EXPECT_FALSE(settingsChecked);
    EXPECT_EQ(SERVER_IDLE, serverState);
}

TEST_F(LinkTest, ACloseOrAnErrorEndsTheConnectionWithoutAMessageOnceAReadSaysSo) {
    connect();
    fake.receives.push_back(FakeReceive{0, Bytes()});
    onSocketNotify(8, EVENT_CLOSE);
    EXPECT_EQ(Lines({"receive 8 1048576 -> 0", "shutdown 8", "close socket 8", "status  ",
                     "menu 505 506"}),
              fake.trace);
    EXPECT_EQ(SERVER_IDLE, serverState);

    // An error notified, whatever the event: what came before it is read first, and
    // the read that fails (a reset, the keep-alive giving up) ends the connection.
    const std::uint32_t events[] = {EVENT_READ, EVENT_WRITE, EVENT_ACCEPT, EVENT_CLOSE};
    for (std::uint32_t event : events) {
        resetAll();
        connect();
        fake.receives.push_back(FakeReceive{0, Bytes(10, 'a')});
        fake.receives.push_back(FakeReceive{-1, Bytes()});
        onSocketNotify(8, withError(event, 10054));
        EXPECT_EQ(Lines({"receive 8 1048576 -> 10", "receive 8 1048576 -> -1", "shutdown 8",
                         "close socket 8", "status  ", "menu 505 506"}),
                  fake.trace)
            << "event " << event;
    }

    // A read notification whose read finds the end ends the connection as well.
    resetAll();
    connect();
    fake.receives.push_back(FakeReceive{0, Bytes()});
    onSocketNotify(8, EVENT_READ);
    EXPECT_EQ(SERVER_IDLE, serverState) << traceText();
}

// Under Wine, an accept that fails for a peer that reset drops a socket the system
// made for it, whose close notification is still queued; the next peer's socket can
// get its handle value. Such a notification is not believed: the reads find the new
// peer's bytes, then nothing pending, and the connection goes on.
TEST_F(LinkTest, ACloseOrAnErrorThatNoReadConfirmsEndsNothing) {
    connectedWithAGridAndRecording();
    fake.trace.clear();
    fake.receives.push_back(FakeReceive{0, bytesOf("first")});
    onSocketNotify(8, EVENT_CLOSE);
    EXPECT_EQ(1u, traceCount("receive 8 1048576 -> 5")) << traceText();
    EXPECT_EQ("receive 8 1048576 -> -2", fake.trace.back()) << "the reads went on past nothing pending";
    onSocketNotify(8, withError(EVENT_CLOSE, 10054));
    onSocketNotify(8, withError(EVENT_READ, 10053));
    EXPECT_EQ(SERVER_CONNECTED, serverState);
    EXPECT_EQ(bytesOf("first"), fake.files["cap.txt"]) << "the new peer's first bytes are kept";
    sendTypedChar('k');
    EXPECT_EQ(bytesOf("k"), fake.sent) << "the connection goes on";

    // The peer's own close, later, is believed.
    fake.receives.push_back(FakeReceive{0, bytesOf(" then")});
    fake.receives.push_back(FakeReceive{0, Bytes()});
    onSocketNotify(8, EVENT_CLOSE);
    EXPECT_EQ(SERVER_IDLE, serverState);
    EXPECT_EQ(bytesOf("first then"), fake.files["cap.txt"]);

    // While listening, a close or an error of another socket finds no peer waiting:
    // the program goes on listening. An accept that fails on the listening socket
    // itself is told, as ever.
    onListenCommand();
    fake.trace.clear();
    fake.accepts.push_back(FakeAccept{NO_SOCKET, 0, 0, ACCEPT_NONE_WAITING});
    fake.accepts.push_back(FakeAccept{NO_SOCKET, 0, 0, ACCEPT_NONE_WAITING});
    onSocketNotify(serverSocket, withError(EVENT_ACCEPT, 10050));
    onSocketNotify(serverSocket, EVENT_CLOSE);
    EXPECT_EQ(SERVER_LISTENING, serverState) << traceText();
    fake.accepts.push_back(FakeAccept{NO_SOCKET, 0, 0, ACCEPT_LISTENER_FAILED});
    onSocketNotify(serverSocket, withError(EVENT_ACCEPT, 10050));
    EXPECT_EQ(SERVER_IDLE, serverState);
    EXPECT_EQ(1u, traceCount("errorBox Connexion rejetee... |erreur")) << traceText();
}

// A close notified while the person's input waits is read once the input had its
// turn, and is still believed then.
TEST_F(LinkTest, ACloseWaitsForInputThenItsReadsGoOn) {
    connect();
    fake.inputOrPaintingWaits = true;
    fake.receives.push_back(FakeReceive{0, bytesOf("abc")});
    fake.receives.push_back(FakeReceive{0, Bytes()});
    onSocketNotify(8, EVENT_CLOSE);
    EXPECT_EQ(0u, traceCount("receive 8 1048576 -> 3")) << traceText();
    EXPECT_EQ(SERVER_CONNECTED, serverState);
    fake.inputOrPaintingWaits = false;
    onDeferredReceiveDue();
    EXPECT_EQ(1u, traceCount("receive 8 1048576 -> 3")) << traceText();
    EXPECT_EQ(SERVER_IDLE, serverState);
}

TEST_F(LinkTest, WriteAndUnknownEventsChangeNothing) {
    connect();
    onSocketNotify(8, EVENT_WRITE);
    onSocketNotify(8, 16);
    EXPECT_TRUE(fake.trace.empty()) << traceText();
    EXPECT_EQ(SERVER_CONNECTED, serverState);
}

TEST_F(LinkTest, CloseReadsThePendingDataBeforeClosing) {
    connectedWithAGridAndRecording();
    Bytes all;
    for (int i = 0; i < 1300; ++i) all.push_back(static_cast<unsigned char>(i % 256 == 12 ? 'x' : i));
    fake.receives.push_back(FakeReceive{0, Bytes(all.begin(), all.begin() + 512)});
    fake.receives.push_back(FakeReceive{0, Bytes(all.begin() + 512, all.begin() + 1024)});
    fake.receives.push_back(FakeReceive{0, Bytes(all.begin() + 1024, all.end())});
    fake.receives.push_back(FakeReceive{-1, Bytes()});
    fake.trace.clear();

    onSocketNotify(8, EVENT_CLOSE);

    // Read until nothing is left, each read written whole and then shown, before the
    // socket goes.
    EXPECT_EQ(all, fake.files["cap.txt"]);
    EXPECT_EQ(2u, traceCount("receive 8 1048576 -> 512"));
    EXPECT_EQ(1u, traceCount("receive 8 1048576 -> 276"));
    std::size_t written = traceFind("write 3 276 bytes");
    std::size_t shown = traceFind("beginDrawing", written);
    EXPECT_LT(shown, traceFind("endDrawing", shown));
    EXPECT_LT(traceFind("endDrawing", shown), traceFind("shutdown 8")) << traceText();
    EXPECT_EQ("menu 505 506", fake.trace.back());
    EXPECT_EQ(SERVER_IDLE, serverState);
    EXPECT_EQ(CAPTURE_RECORDING, captureMode);  // the link never touches the capture
}

TEST_F(LinkTest, StaleNotificationsForOldSocketsAreIgnored) {
    connect();  // listening socket 7 closed, connected on 8
    onSocketNotify(7, EVENT_ACCEPT);
    onSocketNotify(7, EVENT_CLOSE);
    onSocketNotify(7, withError(EVENT_READ, 10054));
    EXPECT_TRUE(fake.trace.empty()) << traceText();
    EXPECT_EQ(SERVER_CONNECTED, serverState);
    EXPECT_EQ(8u, serverSocket);

    onDisconnectCommand();
    fake.trace.clear();
    onSocketNotify(8, EVENT_CLOSE);  // idle, nothing open
    EXPECT_TRUE(fake.trace.empty()) << traceText();
    onListenCommand();               // a new listening socket, 9
    ASSERT_EQ(9u, serverSocket);
    fake.trace.clear();
    onSocketNotify(8, EVENT_CLOSE);
    onSocketNotify(8, EVENT_READ);
    EXPECT_TRUE(fake.trace.empty()) << traceText();
    EXPECT_EQ(SERVER_LISTENING, serverState);
    EXPECT_EQ(9u, serverSocket);
}

TEST_F(LinkTest, AReadTakesOneReceiveAsOneChunkForTheCaptureThenTheScreen) {
    connectedWithAGridAndRecording();
    fake.trace.clear();
    fake.receives.push_back(FakeReceive{0, Bytes({0xE9, 0x00, 0x09, 'A'})});
    fake.receives.push_back(FakeReceive{0, Bytes({'B'})});
    onSocketNotify(8, EVENT_READ);
    // The tab is recorded as itself; its blanks reach only the screen. What the
    // receive did not take waits for the next notification.
    EXPECT_EQ(Bytes({0xE9, 0x00, 0x09, 'A'}), fake.files["cap.txt"]);
    EXPECT_EQ(Lines({"receive 8 1048576 -> 4", "write 3 4 bytes", "beginDrawing", "drawRow 10 31 9",
                     "caret 100 31", "endDrawing"}),
              fake.trace);
    EXPECT_EQ(std::string("\xE9\x00      A", 9), std::string(terminalRow(0), terminalRow(0) + 9));
    onSocketNotify(8, EVENT_READ);
    EXPECT_EQ(Bytes({0xE9, 0x00, 0x09, 'A', 'B'}), fake.files["cap.txt"]);

    // Nothing to read: nothing changes.
    fake.trace.clear();
    onSocketNotify(8, EVENT_READ);
    EXPECT_EQ(Lines({"receive 8 1048576 -> -2"}), fake.trace);
    EXPECT_EQ(SERVER_CONNECTED, serverState);
}

TEST_F(LinkTest, AReadWaitsWhileInputOrPaintingWaitsAndNothingIsLostOrReordered) {
    connectedWithAGridAndRecording();
    fake.trace.clear();
    fake.receives.push_back(FakeReceive{0, bytesOf("one")});
    fake.inputOrPaintingWaits = true;
    onSocketNotify(8, EVENT_READ);
    onSocketNotify(8, EVENT_READ);  // one wait, however many notifications
    EXPECT_EQ(Lines({"scheduleReceive"}), fake.trace);
    fake.inputOrPaintingWaits = false;
    onDeferredReceiveDue();
    EXPECT_EQ(Lines({"scheduleReceive", "cancelReceive", "receive 8 1048576 -> 3"}),
              Lines(fake.trace.begin(), fake.trace.begin() + 3));
    onDeferredReceiveDue();  // a late timer message reads nothing
    EXPECT_EQ(0u, traceCount("receive 8 1048576 -> -2"));

    // The close comes while the read waits: once input has had its turn, everything
    // pending is read, in order, before the socket goes, and the wait ends with the
    // link.
    fake.receives.push_back(FakeReceive{0, bytesOf("two")});
    fake.receives.push_back(FakeReceive{0, bytesOf("three")});
    fake.receives.push_back(FakeReceive{0, Bytes()});
    fake.inputOrPaintingWaits = true;
    onSocketNotify(8, EVENT_READ);
    onSocketNotify(8, EVENT_CLOSE);
    EXPECT_EQ(SERVER_CONNECTED, serverState);
    fake.inputOrPaintingWaits = false;
    fake.trace.clear();
    onDeferredReceiveDue();
    EXPECT_EQ(bytesOf("onetwothree"), fake.files["cap.txt"]);
    EXPECT_EQ(SERVER_IDLE, serverState);
    EXPECT_EQ(1u, traceCount("cancelReceive"));
    EXPECT_LT(traceFind("receive 8 1048576 -> 3"), traceFind("shutdown 8")) << traceText();
    fake.trace.clear();
    onDeferredReceiveDue();
    EXPECT_TRUE(fake.trace.empty()) << traceText();
}

TEST_F(LinkTest, TypedCharactersGoOutOnlyWhileConnectedAsOneByte) {
    sendTypedChar('a');
    listen();
    sendTypedChar('b');
    fake.accepts.push_back(FakeAccept{8, ipv4("127.0.0.1"), 4000});
    onSocketNotify(7, EVENT_ACCEPT);
    EXPECT_TRUE(fake.sent.empty());  // nothing typed before is sent later
    fake.trace.clear();
    sendTypedChar('c');
    sendTypedChar(0x141);
    sendTypedChar(-23);
    sendTypedChar(13);
    EXPECT_EQ(Bytes({'c', 0x41, 0xE9, 13}), fake.sent);
    EXPECT_EQ(Lines({"send 8 99", "send 8 65", "send 8 233", "send 8 13"}), fake.trace);
    onDisconnectCommand();
    sendTypedChar('d');
    EXPECT_EQ(4u, fake.sent.size());
}

TEST_F(LinkTest, TypedBytesTheSocketCannotTakeWaitInOrderAndAFullQueueRefusesKeys) {
    connect();
    fake.sendRoom = 2;
    for (int i = 0; i < 5; ++i) sendTypedChar('a' + i);
    EXPECT_EQ(bytesOf("ab"), fake.sent);
    EXPECT_EQ(3u, bytesWaitingToSend());
    // Nothing overtakes what waits, and the write notification sends it on.
    fake.sendRoom = 0;
    sendTypedChar('f');
    fake.sendRoom = 10;
    onSocketNotify(8, EVENT_WRITE);
    EXPECT_EQ(bytesOf("abcdef"), fake.sent);
    EXPECT_EQ(0u, bytesWaitingToSend());

    // A full queue takes no key; once the socket takes bytes again, typing goes on.
    fake.sendRoom = 0;
    for (std::size_t i = 0; i < SEND_QUEUE_SIZE + 3; ++i) sendTypedChar(static_cast<int>('0' + i % 10));
    EXPECT_EQ(3, fake.beeps);
    EXPECT_EQ(SEND_QUEUE_SIZE, bytesWaitingToSend());
    fake.sendRoom = static_cast<std::size_t>(-1);
    onSocketNotify(8, EVENT_WRITE);
    sendTypedChar('z');
    ASSERT_EQ(6 + SEND_QUEUE_SIZE + 1, fake.sent.size());
    for (std::size_t i = 0; i < SEND_QUEUE_SIZE; ++i) {
        ASSERT_EQ('0' + i % 10, fake.sent[6 + i]) << "byte " << i;
    }
    EXPECT_EQ('z', fake.sent.back());

    // An error keeps the bytes for the close that follows, which drops them.
    fake.sendFails = true;
    sendTypedChar('x');
    EXPECT_EQ(1u, bytesWaitingToSend());
    fake.receives.push_back(FakeReceive{0, Bytes()});
    onSocketNotify(8, EVENT_CLOSE);
    EXPECT_EQ(0u, bytesWaitingToSend());
}

TEST_F(LinkTest, APasteSendsLineEndsAsEnterDoesAfterWhatWaitsOrIsRefusedWhole) {
    // Not connected, or nothing on the clipboard: the warning sound, nothing sent.
    fake.clipboardHoldsText = true;
    fake.clipboard = "ls\r\n";
    pasteClipboardText();
    connect();
    fake.clipboard = "a\r\nb\nc\r\r\nd\r";
    pasteClipboardText();
    EXPECT_EQ(bytesOf("a\rb\rc\r\rd\r"), fake.sent);
    EXPECT_FALSE(fake.clipboardLent);
    fake.sent.clear();
    fake.clipboardHoldsText = false;
    pasteClipboardText();
    fake.clipboardHoldsText = true;
    fake.clipboard = "";
    pasteClipboardText();
    EXPECT_EQ(3, fake.beeps);
    EXPECT_TRUE(fake.sent.empty());

    // A paste goes after the typed bytes that wait, in order.
    fake.sendRoom = 1;
    sendTypedChar('x');
    sendTypedChar('y');
    fake.clipboard = "ls -l\n";
    pasteClipboardText();
    fake.sendRoom = static_cast<std::size_t>(-1);
    onSocketNotify(8, EVENT_WRITE);
    EXPECT_EQ(bytesOf("xyls -l\r"), fake.sent);

    // What does not fit in the room left is refused whole; what just fits goes.
    fake.sendRoom = 0;
    sendTypedChar('q');
    fake.clipboard = std::string(SEND_QUEUE_SIZE - 2, 'p') + "\r\n";  // with the q: just fits
    pasteClipboardText();
    EXPECT_EQ(SEND_QUEUE_SIZE, bytesWaitingToSend());
    EXPECT_EQ(3, fake.beeps);
    fake.sendRoom = static_cast<std::size_t>(-1);
    onSocketNotify(8, EVENT_WRITE);
    fake.sendRoom = 0;
    sendTypedChar('q');
    fake.clipboard = std::string(SEND_QUEUE_SIZE, 'p');
    pasteClipboardText();
    EXPECT_EQ(4, fake.beeps);
    EXPECT_EQ(1u, bytesWaitingToSend());

    // The room is counted in bytes sent: CR LF pairs twice as long as the room fit,
    // one byte more does not.
    fake.sendRoom = static_cast<std::size_t>(-1);
    onSocketNotify(8, EVENT_WRITE);
    fake.sendRoom = 0;
    std::string pairs;
    for (std::size_t i = 0; i < SEND_QUEUE_SIZE; ++i) pairs += "\r\n";
    fake.clipboard = pairs + "x";
    pasteClipboardText();
    EXPECT_EQ(5, fake.beeps);
    EXPECT_EQ(0u, bytesWaitingToSend());
    fake.clipboard = pairs;
    pasteClipboardText();
    EXPECT_EQ(SEND_QUEUE_SIZE, bytesWaitingToSend());
    EXPECT_EQ(5, fake.beeps);
    EXPECT_FALSE(fake.clipboardLent);
}

// ---- listening continuously ------------------------------------------------------

const std::string KEEP_ON = "check " + std::to_string(IDM_KEEP_LISTENING) + " on";
const std::string KEEP_OFF = "check " + std::to_string(IDM_KEEP_LISTENING) + " off";

// The octet view's rows that mark a connection's start or end, without their time.
Lines connectionMarks() {
    Lines marks;
    std::vector<unsigned char> cells(OCTET_ROW_LENGTH);
    for (std::uint64_t row = firstKeptOctetRow(); row < octetRowsEnd(); ++row) {
        formatOctetRow(row, cells.data(), OCTET_ROW_LENGTH);
        std::string text(cells.begin(), cells.end());
        text.erase(text.find_last_not_of(' ') + 1);
        std::size_t mark = std::min(text.find("Connexion de "), text.find("Fin de connexion"));
        if (mark != std::string::npos) marks.push_back(text.substr(mark));
    }
    return marks;
}

TEST_F(LinkTest, ListeningContinuouslyTheNextPeerIsTakenWhenAConnectionEndsAndTheMenuStays) {
    onKeepListeningCommand();  // idle: only the item changes
    EXPECT_EQ(Lines({KEEP_ON}), fake.trace);
    EXPECT_TRUE(keepListening);
    fake.trace.clear();
    onListenCommand();
    EXPECT_EQ(1u, traceCount("listen 7 queue")) << traceText();
    fake.accepts.push_back(FakeAccept{8, ipv4("10.0.0.8"), 4008});
    onSocketNotify(7, EVENT_ACCEPT);
    EXPECT_EQ(SERVER_CONNECTED, serverState);
    EXPECT_EQ(std::set<SocketHandle>({7, 8}), fake.openSockets);
    EXPECT_EQ(7u, listeningSocket);
    EXPECT_EQ(8u, serverSocket);

    // Another peer comes meanwhile: it waits until this connection ends.
    fake.trace.clear();
    onSocketNotify(7, EVENT_ACCEPT);
    EXPECT_TRUE(fake.trace.empty()) << traceText();

    // A key typed for this peer that its socket could not take yet.
    fake.sendRoom = 0;
    sendTypedChar('k');
    fake.trace.clear();

    // The peer closes: what it sent is read, its socket closed, then the one that
    // waited is taken at once.
    fake.receives.push_back(FakeReceive{0, Bytes(3, 'z')});
    fake.receives.push_back(FakeReceive{0, Bytes()});
    fake.accepts.push_back(FakeAccept{9, ipv4("10.0.0.9"), 4009});
    onSocketNotify(8, EVENT_CLOSE);
    EXPECT_EQ(Lines({"receive 8 1048576 -> 3", "receive 8 1048576 -> 0", "shutdown 8",
                     "close socket 8", "status  Serveur en ecoute sur < 9000 >", "accept 7 -> 9",
                     "keepalive 9 30000 5000", "status Serveur Connecte avec <10.0.0.9 : 9000> ..."}),
              fake.trace);
    EXPECT_EQ(SERVER_CONNECTED, serverState);
    EXPECT_EQ(9u, clientSocket);
    // What was meant for the first peer never reaches the next.
    fake.sendRoom = static_cast<std::size_t>(-1);
    fake.trace.clear();
    onSocketNotify(9, EVENT_WRITE);
    EXPECT_TRUE(fake.trace.empty()) << traceText();

    // An error (a reset, the keep-alive giving up) with nobody waiting: listening,
    // as after "&Mise en ecoute", without a box; the settings stay checked.
    fake.trace.clear();
    fake.accepts.push_back(FakeAccept{NO_SOCKET, 0, 0, ACCEPT_NONE_WAITING});
    fake.receives.push_back(FakeReceive{-1, Bytes()});
    onSocketNotify(9, withError(EVENT_CLOSE, 10053));
    EXPECT_EQ(Lines({"receive 9 1048576 -> -1", "shutdown 9", "close socket 9",
                     "status  Serveur en ecoute sur < 9000 >", "accept 7 -> none waiting"}),
              fake.trace);
    EXPECT_EQ(SERVER_LISTENING, serverState);
    EXPECT_EQ(7u, serverSocket);
    EXPECT_TRUE(settingsChecked);
    EXPECT_EQ(std::set<SocketHandle>({7}), fake.openSockets);

    // The next peer comes as to any listener; a failed accept ends idle, as ever.
    fake.accepts.push_back(FakeAccept{10, ipv4("10.0.0.10"), 4010});
    onSocketNotify(7, EVENT_ACCEPT);
    EXPECT_EQ(SERVER_CONNECTED, serverState);
    fake.trace.clear();
    fake.accepts.push_back(FakeAccept{NO_SOCKET, 0, 0});
    fake.receives.push_back(FakeReceive{0, Bytes()});
    onSocketNotify(10, EVENT_CLOSE);
    EXPECT_EQ(Lines({"receive 10 1048576 -> 0", "shutdown 10", "close socket 10",
                     "status  Serveur en ecoute sur < 9000 >", "accept 7 -> fail", "menu 505 506",
                     "shutdown 7", "close socket 7", "status  ",
                     "errorBox Connexion rejetee... |erreur"}),
              fake.trace);
    EXPECT_EQ(SERVER_IDLE, serverState);
    EXPECT_TRUE(fake.openSockets.empty());
    EXPECT_EQ(0, fake.badSocketCloses);
    EXPECT_EQ(Lines({"Connexion de 10.0.0.8:4008", "Fin de connexion", "Connexion de 10.0.0.9:4009",
                     "Fin de connexion", "Connexion de 10.0.0.10:4010", "Fin de connexion"}),
              connectionMarks());
}

TEST_F(LinkTest, DisconnectingAlwaysEndsIdleAndUncheckingWhileServedClosesTheListener) {
    onKeepListeningCommand();
    connect();
    onDisconnectCommand();
    EXPECT_EQ(Lines({"menu 505 506", "shutdown 8", "close socket 8", "close socket 7", "status  "}),
              fake.trace);
    EXPECT_EQ(SERVER_IDLE, serverState);
    EXPECT_FALSE(settingsChecked);
    EXPECT_TRUE(fake.openSockets.empty());
    EXPECT_TRUE(keepListening);

    // Unchecked while a peer is served: the listener goes (the peers that wait are
    // refused), the connection stays, and its end is the one-peer end.
    resetAll();
    onKeepListeningCommand();
    connect();
    onKeepListeningCommand();
    EXPECT_EQ(Lines({KEEP_OFF, "close socket 7"}), fake.trace);
    EXPECT_EQ(SERVER_CONNECTED, serverState);
    EXPECT_EQ(NO_SOCKET, listeningSocket);
    fake.trace.clear();
    onSocketNotify(7, EVENT_ACCEPT);
    fake.receives.push_back(FakeReceive{0, Bytes()});
    onSocketNotify(8, EVENT_CLOSE);
    EXPECT_EQ(Lines({"receive 8 1048576 -> 0", "shutdown 8", "close socket 8", "status  ",
                     "menu 505 506"}),
              fake.trace);
    EXPECT_TRUE(fake.openSockets.empty());

    // Unchecked while listening: the listener stays; the peer it takes is the last.
    resetAll();
    onKeepListeningCommand();
    listen();
    onKeepListeningCommand();
    EXPECT_EQ(std::set<SocketHandle>({7}), fake.openSockets);
    fake.accepts.push_back(FakeAccept{8, ipv4("10.0.0.8"), 4008});
    onSocketNotify(7, EVENT_ACCEPT);
    EXPECT_EQ(std::set<SocketHandle>({8}), fake.openSockets);
}

TEST_F(LinkTest, CheckedWhileListeningTheListenerIsMadeAnewWithRoomForPeersThatComeAtOnce) {
    listen();
    fake.trace.clear();
    onKeepListeningCommand();
    EXPECT_EQ(Lines({KEEP_ON, "close socket 7", "createSocket 8", "select 8", "bind 8 0.0.0.0 9000",
                     "listen 8 queue"}),
              fake.trace);
    EXPECT_EQ(SERVER_LISTENING, serverState);
    EXPECT_EQ(8u, listeningSocket);
    EXPECT_EQ(8u, serverSocket);

    // Another program took the port in that moment: told as a failed listen.
    onKeepListeningCommand();
    fake.bindResult = -1;
    fake.trace.clear();
    onKeepListeningCommand();
    EXPECT_EQ(Lines({KEEP_ON, "close socket 8", "createSocket 9", "select 9", "bind 9 0.0.0.0 9000",
                     "shutdown 9", "close socket 9", "status  ",
                     "errorBox mise en ecoute impossible |erreur", "menu 505 506"}),
              fake.trace);
    EXPECT_EQ(SERVER_IDLE, serverState);
    EXPECT_TRUE(fake.openSockets.empty());
}

TEST_F(LinkTest, CheckedWhileAPeerIsServedTheProgramListensAgainWhenTheConnectionEnds) {
    connect();  // one peer a listen: the listener is closed already
    onKeepListeningCommand();
    EXPECT_EQ(Lines({KEEP_ON}), fake.trace);
    fake.trace.clear();
    fake.accepts.push_back(FakeAccept{NO_SOCKET, 0, 0, ACCEPT_NONE_WAITING});
    fake.receives.push_back(FakeReceive{0, Bytes()});
    onSocketNotify(8, EVENT_CLOSE);
    EXPECT_EQ(Lines({"receive 8 1048576 -> 0", "shutdown 8", "close socket 8", "createSocket 9",
                     "select 9", "bind 9 0.0.0.0 9000", "listen 9 queue",
                     "status  Serveur en ecoute sur < 9000 >", "accept 9 -> none waiting"}),
              fake.trace);
    EXPECT_EQ(SERVER_LISTENING, serverState);

    // The port was taken meanwhile: told as a failed listen, and idle.
    resetAll();
    connect();
    onKeepListeningCommand();
    fake.bindResult = -1;
    fake.trace.clear();
    fake.receives.push_back(FakeReceive{-1, Bytes()});
    onSocketNotify(8, withError(EVENT_READ, 10054));
    EXPECT_EQ(Lines({"receive 8 1048576 -> -1", "shutdown 8", "close socket 8", "createSocket 9", "select 9",
                     "bind 9 0.0.0.0 9000", "shutdown 9", "close socket 9", "status  ",
                     "errorBox mise en ecoute impossible |erreur", "menu 505 506"}),
              fake.trace);
    EXPECT_EQ(SERVER_IDLE, serverState);
    EXPECT_TRUE(fake.openSockets.empty());
}

TEST_F(LinkTest, StatusTextsFollowTheState) {
    char text[STATUS_TEXT_SIZE];
    formatServerStatus(SERVER_IDLE, text, sizeof text);
    EXPECT_STREQ(" ", text);
    serverPort = 8080;
    formatServerStatus(SERVER_LISTENING, text, sizeof text);
    EXPECT_STREQ(" Serveur en ecoute sur < 8080 >", text);
    peerAddress = ipv4("10.0.0.2");
    peerPort = 50000;
    formatServerStatus(SERVER_CONNECTED, text, sizeof text);
    EXPECT_STREQ("Serveur Connecte avec <10.0.0.2 : 8080> ...", text);

    // The longest one, 51 characters, fits whole.
    peerAddress = ipv4("255.255.255.254");
    serverPort = 65535;
    showServerStatus(SERVER_CONNECTED);
    EXPECT_EQ("Serveur Connecte avec <255.255.255.254 : 65535> ...", fake.statusText);
    EXPECT_EQ(51u, fake.statusText.size());
}

}  // namespace
