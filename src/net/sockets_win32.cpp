// Winsock operations of the link.
#include <winsock2.h>

#include <mstcpip.h>

#include <vector>

#include "app/app_win32.h"
#include "platform.h"

namespace {

SOCKET asSocket(SocketHandle socket) { return static_cast<SOCKET>(socket); }

// Notifications already queued for a socket that is now closed must not reach the
// link: a later socket can be given the same handle value.
void dropQueuedNotifications(SOCKET closed) {
    std::vector<MSG> others;
    MSG message;
    while (PeekMessageA(&message, mainWindow, WM_SOCKET_NOTIFY, WM_SOCKET_NOTIFY, PM_REMOVE)) {
        if (static_cast<SOCKET>(message.wParam) != closed) others.push_back(message);
    }
    for (const MSG& m : others) PostMessageA(m.hwnd, m.message, m.wParam, m.lParam);
}

// Windows fails an accept with WSAECONNRESET when the peer reset the connection
// before it was accepted; Wine fails it with WSAENOTCONN. WSAECONNABORTED is the same
// end seen from this side. WSAEWOULDBLOCK means that nothing is left to accept.
AcceptFailure acceptFailure(int error) {
    if (error == WSAEWOULDBLOCK) return ACCEPT_NONE_WAITING;
    if (error == WSAECONNRESET || error == WSAENOTCONN || error == WSAECONNABORTED) return ACCEPT_PEER_WENT;
    return ACCEPT_LISTENER_FAILED;
}

}  // namespace

SocketHandle createTcpSocket() {
    return static_cast<SocketHandle>(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
}

void selectSocketEvents(SocketHandle socket) {
    WSAAsyncSelect(asSocket(socket), mainWindow, WM_SOCKET_NOTIFY,
                   FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE);
}

int bindSocket(SocketHandle socket, std::uint32_t address, std::uint16_t port) {
    sockaddr_in bindAddress;
    ZeroMemory(&bindAddress, sizeof bindAddress);
    bindAddress.sin_family = AF_INET;
    bindAddress.sin_port = htons(port);
    bindAddress.sin_addr.s_addr = address;
    int result = bind(asSocket(socket), reinterpret_cast<const sockaddr*>(&bindAddress),
                      sizeof bindAddress);
    return result == 0 ? 0 : -1;
}

int listenOnSocket(SocketHandle socket, bool peersMayWait) {
    return listen(asSocket(socket), peersMayWait ? SOMAXCONN : 0) == 0 ? 0 : -1;
}

SocketHandle acceptConnection(SocketHandle socket, std::uint32_t* peerAddress,
                              std::uint16_t* peerPort, AcceptFailure* failure) {
    sockaddr_in peer;
    ZeroMemory(&peer, sizeof peer);
    int length = sizeof peer;
    SOCKET accepted = accept(asSocket(socket), reinterpret_cast<sockaddr*>(&peer), &length);
    if (accepted == INVALID_SOCKET) {
        *failure = acceptFailure(WSAGetLastError());
        return NO_SOCKET;
    }
    *peerAddress = peer.sin_addr.s_addr;
    *peerPort = ntohs(peer.sin_port);
    return static_cast<SocketHandle>(accepted);
}

bool localAddressOf(SocketHandle socket, std::uint32_t* address, std::uint16_t* port) {
    sockaddr_in local;
    ZeroMemory(&local, sizeof local);
    int length = sizeof local;
    if (getsockname(asSocket(socket), reinterpret_cast<sockaddr*>(&local), &length) != 0) return false;
    *address = local.sin_addr.s_addr;
    *port = ntohs(local.sin_port);
    return true;
}

int receiveFromSocket(SocketHandle socket, unsigned char* buffer, int capacity) {
    const int got = recv(asSocket(socket), reinterpret_cast<char*>(buffer), capacity, 0);
    if (got != SOCKET_ERROR) return got;
    // Nothing pending, or a call of the socket's interrupted or still going: the
    // connection itself is sound.
    const int error = WSAGetLastError();
    const bool sound = error == WSAEWOULDBLOCK || error == WSAEINTR || error == WSAEINPROGRESS;
    return sound ? RECEIVE_NOTHING_PENDING : -1;
}

int sendOnSocket(SocketHandle socket, const unsigned char* bytes, int count) {
    int sent = send(asSocket(socket), reinterpret_cast<const char*>(bytes), count, 0);
    if (sent != SOCKET_ERROR) return sent;
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

void setKeepAlive(SocketHandle socket, unsigned idleMs, unsigned intervalMs) {
    tcp_keepalive values;
    values.onoff = 1;
    values.keepalivetime = idleMs;
    values.keepaliveinterval = intervalMs;
    DWORD returned = 0;
    WSAIoctl(asSocket(socket), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned,
             nullptr, nullptr);
}

void shutdownSocket(SocketHandle socket) {
    shutdown(asSocket(socket), SD_BOTH);
}

void closeSocket(SocketHandle socket) {
    closesocket(asSocket(socket));
    dropQueuedNotifications(asSocket(socket));
}

void formatIpv4Address(std::uint32_t address, char* text, std::size_t capacity) {
    in_addr a;
    a.s_addr = address;
    lstrcpynA(text, inet_ntoa(a), static_cast<int>(capacity));
}

std::uint32_t convertIpv4Address(const char* text) {
    return inet_addr(text);
}
