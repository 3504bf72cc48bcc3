#include "net/link.h"

#include <cstdio>

#include "capture/journal.h"
#include "capture/recorder.h"
#include "net/address.h"
#include "net/connect.h"
#include "net/outgoing.h"
#include "net/rules.h"
#include "session/settings.h"
#include "terminal/history_view.h"
#include "terminal/received_bytes.h"
#include "terminal/screen.h"
#include "ui/resource.h"

int serverState = SERVER_IDLE;
bool settingsChecked = false;
SocketHandle serverSocket = NO_SOCKET;
SocketHandle clientSocket = NO_SOCKET;
SocketHandle listeningSocket = NO_SOCKET;
bool keepListening = false;
std::uint32_t peerAddress = 0;
std::uint16_t peerPort = 0;

namespace {

unsigned char receiveBuffer[RECEIVE_CHUNK_LIMIT];
// How the connection now ended, as a read told it; the program's closing otherwise.
TcpEnding connectionEnding = CLOSED_HERE;
// A read notification came while the person's input or painting waited: the bytes
// stay in the socket until those have been handled. Without a receive the system
// posts no new read notification meanwhile.
bool receiveDeferred = false;
// A close or an error was notified on the connection's socket: reads go on, as the
// person's input allows, until one tells whether the connection ended. Only a read
// is believed: a notification can belong to another socket that had the same handle
// value before (one the system made and dropped in an accept that failed), queued
// before this connection began.
bool closeToConfirm = false;

// What one read of the connection found.
enum ReadOutcome { READ_BYTES, READ_NOTHING_PENDING, READ_CONNECTION_ENDED };

unsigned notificationEvent(std::uint32_t event) { return event & 0xFFFFu; }
unsigned notificationError(std::uint32_t event) { return (event >> 16) & 0xFFFFu; }

// The two items as the state is: "&Mise en ecoute" selectable only while idle.
void showMenuForState() {
    if (serverState == SERVER_IDLE) {
        enableMenuPair(IDM_LISTEN, IDM_DISCONNECT);
    } else {
        enableMenuPair(IDM_DISCONNECT, IDM_LISTEN);
    }
}

// Listens on the checked settings. When that fails, the failed socket is closed and
// the link idle before the box, which keeps dispatching messages: a listen command
// that arrives meanwhile starts afresh, and nothing closes what it opens once the
// box is gone.
bool listenOrSayWhy() {
    if (startListening(serverPort) == 0) return true;
    disconnectServer();
    showErrorBox(LISTEN_FAILED_TEXT, LINK_ERROR_CAPTION);
    showMenuForState();
    return false;
}

void closeListeningSocket() {
    if (listeningSocket == NO_SOCKET) return;
    SocketHandle listener = listeningSocket;
    listeningSocket = NO_SOCKET;
    closeSocket(listener);
}

void forgetDeferredReceive() {
    if (!receiveDeferred) return;
    receiveDeferred = false;
    cancelDeferredReceive();
}

// The connection is over: no read of it is owed any more.
void forgetPendingReads() {
    forgetDeferredReceive();
    closeToConfirm = false;
}

void deferReceive() {
    receiveDeferred = true;
    scheduleDeferredReceive();
}

// One receive: what came goes whole to the capture and then to the screen. Returns
// what the receive returned.
int receiveChunk() {
    int got = receiveFromSocket(clientSocket, receiveBuffer, static_cast<int>(sizeof receiveBuffer));
    if (got == 0) connectionEnding = CLOSED_BY_PEER;
    if (got == -1) connectionEnding = RESET_BY_PEER;
    if (got <= 0) return got;
    std::size_t received = static_cast<std::size_t>(got);
    bool recorded = captureWriteBytes(receiveBuffer, received);  // before the screen shows it
    keepReceivedChunk(receiveBuffer, received);
    journalBytes(true, receiveBuffer, received, 0);
    rulesSeeReceived(receiveBuffer, received);
    putTerminalBytes(receiveBuffer, received);
    showChangesWithinAFrame();
    // The box lets other notifications in, which reuse the buffer: it comes once this
    // chunk is on the screen.
    if (!recorded) reportCaptureProblem();
    return got;
}

void onConnectionEnded();

// The connection on clientSocket has begun, with `peer`: it came in, or the program
// opened it. Everything that serves a connection starts serving it.
void beginConnection(const Endpoint& peer, bool openedHere) {
    setKeepAlive(clientSocket, KEEPALIVE_IDLE_MS, KEEPALIVE_INTERVAL_MS);
    serverSocket = clientSocket;
    startOutgoing(clientSocket);
    Endpoint local = {};
    localEndpointOf(clientSocket, &local);
    keepConnectionOpened(peer, local, openedHere);
    connectionEnding = CLOSED_HERE;
    journalConnectionOpened(local, peer, openedHere);
    rulesConnectionStarted();
    showChangesWithinAFrame();
}

// One read of the connection. A read that finds it closed by the peer, or failed
// (reset, timed out by the keep-alive), ends it: that is how a connection's end is
// known.
ReadOutcome readConnection() {
    const int got = receiveChunk();
    if (got > 0) return READ_BYTES;
    if (got == RECEIVE_NOTHING_PENDING) return READ_NOTHING_PENDING;
    if (serverState == SERVER_CONNECTED) onConnectionEnded();
    return READ_CONNECTION_ENDED;
}

// A close or an error was notified: what the peer sent before it is read first, and
// the reads go on until one finds the end. One that finds nothing pending shows
// that the notification was not this connection's, which goes on.
void confirmClose() {
    closeToConfirm = true;
    while (serverState == SERVER_CONNECTED) {
        if (inputOrPaintingWaits()) {  // the person comes before the peer
            deferReceive();
            return;
        }
        const ReadOutcome outcome = readConnection();
        if (outcome == READ_BYTES) continue;
        if (outcome == READ_NOTHING_PENDING) closeToConfirm = false;
        return;
    }
}

// The person comes before the peer: while input or painting waits, the read waits.
void onReadReady() {
    if (receiveDeferred) return;
    if (inputOrPaintingWaits()) {
        deferReceive();
        return;
    }
    readConnection();
}

// Accepts the peer that waits, if one still does.
void acceptWaitingPeer() {
    int accepted = acceptPeer();
    if (accepted == NO_PEER_ACCEPTED) return;  // a port scan, an impatient client, none left
    if (accepted == 0) {
        serverState = SERVER_CONNECTED;
        showServerStatus(SERVER_CONNECTED);
        return;
    }
    // The box keeps dispatching messages: nothing may be accepted behind it.
    enableMenuPair(IDM_LISTEN, IDM_DISCONNECT);
    disconnectServer();
    showErrorBox(CONNECTION_REJECTED_TEXT, LINK_ERROR_CAPTION);
}

// The connection is over for everything that served it, and its socket closed; the
// listening socket, if one is open, stays.
void endConnection() {
    forgetPendingReads();
    rulesConnectionEnded();
    endOutgoing();
    keepConnectionEnded(connectionEnding);
    journalConnectionEnded(connectionEnding);
    showChangesWithinAFrame();
    shutdownSocket(clientSocket);
    closeSocket(clientSocket);
    clientSocket = NO_SOCKET;
    serverSocket = listeningSocket;
    serverState = SERVER_IDLE;
}

// Listening continuously, a connection that ended other than by the person's
// command is followed by the next peer that waits, or by listening as after
// "&Mise en ecoute". Where the item was checked while the peer was served, the
// accept had closed the listening socket: it is opened again.
void goOnListening() {
    endConnection();
    if (listeningSocket == NO_SOCKET && !listenOrSayWhy()) return;
    serverState = SERVER_LISTENING;
    showServerStatus(SERVER_LISTENING);
    acceptWaitingPeer();
}

// The peer closed or reset the connection, an error came, or the keep-alive gave up.
// A connection the program opened may be tried again; listening continuously
// concerns the peers that come in.
void onConnectionEnded() {
    if (connectionOpenedHere()) {
        endConnection();
        onOpenedConnectionEnded();
    } else if (keepListening) {
        goOnListening();
    } else {
        closeAndGoIdle();
    }
}

void onConnectionNotify(std::uint32_t event) {
    if (notificationError(event) != 0) {
        confirmClose();
        return;
    }
    switch (notificationEvent(event)) {
    case SOCKET_EVENT_CLOSE:
        confirmClose();
        break;
    case SOCKET_EVENT_READ:
        onReadReady();
        break;
    case SOCKET_EVENT_WRITE:
        sendWaitingBytes();
        break;
    default:
        break;
    }
}

// An accept, or a close or an error, which may be another socket's that had the
// same handle value: the accept tells whether a peer waits and whether the
// listening socket is sound.
void onListenerNotify(std::uint32_t event) {
    const unsigned what = notificationEvent(event);
    if (notificationError(event) != 0 || what == SOCKET_EVENT_ACCEPT || what == SOCKET_EVENT_CLOSE) {
        acceptWaitingPeer();
    }
}

}  // namespace

void onListenCommand() {
    // Only while idle, as the grayed item promises: another program can post the
    // command, and a second socket would leave the first one open and lost.
    if (serverState != SERVER_IDLE) return;
    if (!settingsChecked) {
        if (validateServerSettings() != 0) return;
        settingsChecked = true;
    }
    if (!listenOrSayWhy()) return;
    enableMenuPair(IDM_DISCONNECT, IDM_LISTEN);
    showServerStatus(serverState);
}

void closeAndGoIdle() {
    disconnectServer();
    enableMenuPair(IDM_LISTEN, IDM_DISCONNECT);
}

void onDisconnectCommand() {
    if (serverState == SERVER_IDLE) return;  // grayed: nothing to close
    enableMenuPair(IDM_LISTEN, IDM_DISCONNECT);
    disconnectServer();
}

void onKeepListeningCommand() {
    keepListening = !keepListening;
    checkProgramItem(IDM_KEEP_LISTENING, keepListening);
    if (!keepListening && serverState == SERVER_CONNECTED) closeListeningSocket();
    // Checked while listening: the listening socket is made anew with room for the
    // peers that come at once (a socket's queue is set when it starts listening).
    if (keepListening && serverState == SERVER_LISTENING) {
        closeListeningSocket();
        listenOrSayWhy();
    }
}

void beginOpenedConnection(SocketHandle socket, const Endpoint& peer) {
    clientSocket = socket;
    serverState = SERVER_CONNECTED;
    beginConnection(peer, true);
    showServerStatus(SERVER_CONNECTED);
}

int startListening(std::uint32_t port) {
    listeningSocket = createTcpSocket();
    serverSocket = listeningSocket;
    selectSocketEvents(serverSocket);
    // Listening continuously, the peers that come while one is served wait in the
    // system's queue, in the order they came.
    bool listening = bindSocket(serverSocket, listenAddress,
                                static_cast<std::uint16_t>(port & 0xFFFFu)) == 0 &&
                     listenOnSocket(serverSocket, keepListening) == 0;
    serverState = listening ? SERVER_LISTENING : SERVER_IDLE;
    return listening ? 0 : -1;
}

int acceptPeer() {
    SocketHandle accepted = NO_SOCKET;
    AcceptFailure failure = ACCEPT_PEER_WENT;
    for (int tries = 0; accepted == NO_SOCKET && failure == ACCEPT_PEER_WENT; ++tries) {
        // Past this many peers gone, the next accept notification goes on.
        if (tries == ACCEPTS_A_NOTIFICATION) return NO_PEER_ACCEPTED;
        accepted = acceptConnection(listeningSocket, &peerAddress, &peerPort, &failure);
    }
    if (accepted == NO_SOCKET) return failure == ACCEPT_NONE_WAITING ? NO_PEER_ACCEPTED : -1;
    clientSocket = accepted;
    beginConnection(ipv4Endpoint(peerAddress, peerPort), false);
    if (!keepListening) closeListeningSocket();
    return 0;
}

void disconnectServer() {
    stopConnecting();
    forgetPendingReads();
    rulesConnectionEnded();
    endOutgoing();
    if (serverState == SERVER_CONNECTED) {
        keepConnectionEnded(connectionEnding);
        journalConnectionEnded(connectionEnding);
        showChangesWithinAFrame();
    }
    if (serverSocket != NO_SOCKET) {
        shutdownSocket(serverSocket);
        closeSocket(serverSocket);
    }
    if (listeningSocket != serverSocket) closeListeningSocket();
    serverSocket = NO_SOCKET;
    clientSocket = NO_SOCKET;
    listeningSocket = NO_SOCKET;
    settingsChecked = false;
    serverState = SERVER_IDLE;
    showServerStatus(SERVER_IDLE);
}

void onSocketNotify(SocketHandle socket, std::uint32_t event) {
    if (socket == NO_SOCKET) return;
    if (serverState == SERVER_CONNECTED && socket == clientSocket) onConnectionNotify(event);
    else if (serverState == SERVER_LISTENING && socket == listeningSocket) onListenerNotify(event);
    else if (serverState == SERVER_CONNECTING) onConnectingSocketNotify(socket, event);
    // Anything else concerns a socket closed since (notifications are queued and
    // outlive it), or the listening socket while a peer is served: the peers that
    // wait are taken when the connection ends.
}

void onDeferredReceiveDue() {
    bool due = receiveDeferred;
    forgetDeferredReceive();
    if (!due || serverState != SERVER_CONNECTED) return;
    if (closeToConfirm) confirmClose();
    else readConnection();
}

void formatServerStatus(int state, char* text, std::size_t capacity) {
    if (formatConnectStatus(state, text, capacity)) return;
    unsigned port = static_cast<unsigned>(serverPort);
    if (state == SERVER_LISTENING) {
        std::snprintf(text, capacity, " Serveur en ecoute sur < %u >", port);
    } else if (state == SERVER_CONNECTED) {
        char address[16] = "";
        formatIpv4Address(peerAddress, address, sizeof address);
        std::snprintf(text, capacity, "Serveur Connecte avec <%s : %u> ...", address, port);
    } else {
        std::snprintf(text, capacity, " ");
    }
}

void showServerStatus(int state) {
    char text[STATUS_TEXT_SIZE];
    formatServerStatus(state, text, sizeof text);
    setStatusText(text);
    // Reaching a device is chosen only from idle; the status follows every change of
    // state, and the item with it.
    enableProgramItem(IDM_CONNECT, state == SERVER_IDLE);
}
