#include "net/link.h"

#include <cstdio>

#include "capture/recorder.h"
#include "net/address.h"
#include "session/settings.h"
#include "terminal/history_view.h"
#include "terminal/received_bytes.h"
#include "terminal/screen.h"
#include "ui/resource.h"

int serverState = SERVER_IDLE;
bool settingsChecked = false;
SocketHandle serverSocket = NO_SOCKET;
SocketHandle clientSocket = NO_SOCKET;
std::uint32_t peerAddress = 0;
std::uint16_t peerPort = 0;

namespace {

unsigned char receiveBuffer[RECEIVE_CHUNK_LIMIT];
// A read notification came while the person's input or painting waited: the bytes
// stay in the socket until those have been handled. Without a receive the system
// posts no new read notification meanwhile.
bool receiveDeferred = false;

unsigned char typedQueue[TYPED_QUEUE_SIZE];
std::size_t typedHead = 0;
std::size_t typedCount = 0;

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

void takeClosePath() {
    disconnectServer();
    enableMenuPair(IDM_LISTEN, IDM_DISCONNECT);
}

// What the peer sent before closing is still pending: read it all through the
// normal receive path before the connection is closed.
void drainPendingData() {
    if (serverState != SERVER_CONNECTED) return;
    while (receivePeerData() > 0) {
    }
}

void forgetDeferredReceive() {
    if (!receiveDeferred) return;
    receiveDeferred = false;
    cancelDeferredReceive();
}

// The person comes before the peer: while input or painting waits, the read waits.
void onReadReady() {
    if (receiveDeferred) return;
    if (inputOrPaintingWaits()) {
        receiveDeferred = true;
        scheduleDeferredReceive();
        return;
    }
    receivePeerData();
}

void onAcceptReady() {
    int accepted = acceptPeer();
    if (accepted == ACCEPT_PEER_GONE) return;  // a port scan or an impatient client
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

void queueTypedByte(unsigned char byte) {
    typedQueue[(typedHead + typedCount) % TYPED_QUEUE_SIZE] = byte;
    typedCount++;
}

// Hands the socket as many waiting typed bytes as it takes, oldest first.
void sendWaitingTypedBytes() {
    while (typedCount > 0) {
        std::size_t run = typedCount < TYPED_QUEUE_SIZE - typedHead ? typedCount
                                                                   : TYPED_QUEUE_SIZE - typedHead;
        int sent = sendOnSocket(serverSocket, typedQueue + typedHead, static_cast<int>(run));
        if (sent <= 0) return;  // the write notification, or the close, comes next
        typedHead = (typedHead + static_cast<std::size_t>(sent)) % TYPED_QUEUE_SIZE;
        typedCount -= static_cast<std::size_t>(sent);
    }
}

// The LF of a CR LF pair in pasted text: Enter sends the pair as its CR alone.
bool endsCrLf(const char* text, std::size_t i) {
    return text[i] == '\n' && i > 0 && text[i - 1] == '\r';
}

// Whether pasted text, its line ends as Enter sends them, fits in `room` bytes.
// Each byte sent comes from one or two of the text's, so a text more than twice the
// room is refused unread; no more of it is counted than the room allows.
bool pastedTextFits(const char* text, std::size_t length, std::size_t room) {
    if (length / 2 + length % 2 > room) return false;
    std::size_t sent = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (!endsCrLf(text, i) && ++sent > room) return false;
    }
    return true;
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
    if (startListening(serverPort) == 0) {
        enableMenuPair(IDM_DISCONNECT, IDM_LISTEN);
        showServerStatus(serverState);
        return;
    }
    // The failed socket is closed and the link idle before the box, which keeps
    // dispatching messages: a listen command that arrives meanwhile starts afresh,
    // and nothing closes what it opens once the box is gone.
    disconnectServer();
    showErrorBox(LISTEN_FAILED_TEXT, LINK_ERROR_CAPTION);
    showMenuForState();
}

void onDisconnectCommand() {
    if (serverState == SERVER_IDLE) return;  // grayed: nothing to close
    enableMenuPair(IDM_LISTEN, IDM_DISCONNECT);
    disconnectServer();
}

int startListening(std::uint32_t port) {
    serverSocket = createTcpSocket();
    selectSocketEvents(serverSocket);
    bool listening = bindSocket(serverSocket, listenAddress,
                                static_cast<std::uint16_t>(port & 0xFFFFu)) == 0 &&
                     listenOnSocket(serverSocket) == 0;
    serverState = listening ? SERVER_LISTENING : SERVER_IDLE;
    return listening ? 0 : -1;
}

int acceptPeer() {
    bool peerGone = false;
    SocketHandle accepted = acceptConnection(serverSocket, &peerAddress, &peerPort, &peerGone);
    if (accepted == NO_SOCKET) return peerGone ? ACCEPT_PEER_GONE : -1;
    clientSocket = accepted;
    closeSocket(serverSocket);
    serverSocket = clientSocket;
    keepConnectionOpened(peerAddress, peerPort);
    showChangesWithinAFrame();
    return 0;
}

void disconnectServer() {
    forgetDeferredReceive();
    typedHead = 0;
    typedCount = 0;
    if (serverState == SERVER_CONNECTED) {
        keepConnectionEnded();
        showChangesWithinAFrame();
    }
    if (serverSocket != NO_SOCKET) {
        shutdownSocket(serverSocket);
        closeSocket(serverSocket);
        serverSocket = NO_SOCKET;
        clientSocket = NO_SOCKET;
    }
    settingsChecked = false;
    serverState = SERVER_IDLE;
    showServerStatus(SERVER_IDLE);
}

void onSocketNotify(SocketHandle socket, std::uint32_t event) {
    // Notifications are queued: one may still be waiting for a socket that has been
    // closed since (the listening socket after the accept, an old connection).
    if (serverSocket == NO_SOCKET || socket != serverSocket) return;
    if (notificationError(event) != 0) {
        takeClosePath();
        return;
    }
    switch (notificationEvent(event)) {
    case SOCKET_EVENT_ACCEPT:
        onAcceptReady();
        break;
    case SOCKET_EVENT_CLOSE:
        drainPendingData();
        takeClosePath();
        break;
    case SOCKET_EVENT_READ:
        onReadReady();
        break;
    case SOCKET_EVENT_WRITE:
        if (serverState == SERVER_CONNECTED) sendWaitingTypedBytes();
        break;
    default:
        break;
    }
}

void onDeferredReceiveDue() {
    bool due = receiveDeferred;
    forgetDeferredReceive();
    if (due && serverState == SERVER_CONNECTED) receivePeerData();
}

std::size_t receivePeerData() {
    int got = receiveFromSocket(clientSocket, receiveBuffer, static_cast<int>(sizeof receiveBuffer));
    if (got <= 0) return 0;
    std::size_t received = static_cast<std::size_t>(got);
    bool recorded = captureWriteBytes(receiveBuffer, received);  // before the screen shows it
    keepReceivedChunk(receiveBuffer, received);
    putTerminalBytes(receiveBuffer, received);
    showChangesWithinAFrame();
    // The box lets other notifications in, which reuse the buffer: it comes once this
    // chunk is on the screen.
    if (!recorded) reportCaptureProblem();
    return received;
}

void sendTypedChar(int ch) {
    if (serverState != SERVER_CONNECTED) return;
    if (typedCount == TYPED_QUEUE_SIZE) {
        soundRefusal();
        return;
    }
    queueTypedByte(static_cast<unsigned char>(ch & 0xFF));
    // Bytes that already wait go out on the write notification, this one after them.
    if (typedCount == 1) sendWaitingTypedBytes();
}

void pasteClipboardText() {
    if (serverState != SERVER_CONNECTED) {
        soundRefusal();
        return;
    }
    std::size_t length = 0;
    const char* text = borrowClipboardText(&length);
    const bool taken = text != nullptr && length > 0 &&
                       pastedTextFits(text, length, TYPED_QUEUE_SIZE - typedCount);
    const bool nothingWaited = typedCount == 0;
    if (taken) {
        for (std::size_t i = 0; i < length; ++i) {
            if (!endsCrLf(text, i)) queueTypedByte(text[i] == '\n' ? '\r' : static_cast<unsigned char>(text[i]));
        }
    }
    releaseClipboardText();
    if (!taken) {
        soundRefusal();
        return;
    }
    if (nothingWaited) sendWaitingTypedBytes();
}

std::size_t typedBytesWaiting() {
    return typedCount;
}

void formatServerStatus(int state, char* text, std::size_t capacity) {
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
}
