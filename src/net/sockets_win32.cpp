// Winsock operations of the link.
#include "net/sockets_win32.h"

#include <ws2tcpip.h>

#include <mstcpip.h>

#include <cstring>

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

// An end as the sockets want it; its length.
int socketAddressOf(const Endpoint& end, sockaddr_storage* address) {
    ZeroMemory(address, sizeof *address);
    if (end.family == FAMILY_IPV6) {
        sockaddr_in6* v6 = reinterpret_cast<sockaddr_in6*>(address);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(end.port);
        std::memcpy(&v6->sin6_addr, end.address, 16);
        v6->sin6_scope_id = end.scope;
        return sizeof *v6;
    }
    sockaddr_in* v4 = reinterpret_cast<sockaddr_in*>(address);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(end.port);
    std::memcpy(&v4->sin_addr, end.address, 4);
    return sizeof *v4;
}

}  // namespace

bool endpointOfSocketAddress(const sockaddr* address, Endpoint* end) {
    Endpoint made = {};
    if (address->sa_family == AF_INET6) {
        const sockaddr_in6* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        made.family = FAMILY_IPV6;
        std::memcpy(made.address, &v6->sin6_addr, 16);
        made.port = ntohs(v6->sin6_port);
        made.scope = v6->sin6_scope_id;
    } else if (address->sa_family == AF_INET) {
        const sockaddr_in* v4 = reinterpret_cast<const sockaddr_in*>(address);
        made.family = FAMILY_IPV4;
        std::memcpy(made.address, &v4->sin_addr, 4);
        made.port = ntohs(v4->sin_port);
    } else {
        return false;
    }
    *end = made;
    return true;
}

SocketHandle startConnection(const Endpoint& to, ConnectFailure* failure) {
    SOCKET s = socket(to.family == FAMILY_IPV6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        *failure = connectFailureOf(static_cast<unsigned>(WSAGetLastError()));
        return NO_SOCKET;
    }
    // The socket does not block from here on: connect returns at once and its outcome
    // comes as FD_CONNECT.
    WSAAsyncSelect(s, mainWindow, WM_SOCKET_NOTIFY, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE);
    sockaddr_storage address;
    const int length = socketAddressOf(to, &address);
    if (connect(s, reinterpret_cast<const sockaddr*>(&address), length) == 0) return static_cast<SocketHandle>(s);
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) return static_cast<SocketHandle>(s);
    closeSocket(static_cast<SocketHandle>(s));
    *failure = connectFailureOf(static_cast<unsigned>(error));
    return NO_SOCKET;
}

ConnectFailure connectFailureOf(unsigned error) {
    switch (error) {
    case WSAECONNREFUSED: return CONNECT_REFUSED;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
    case WSAENETDOWN:
    case WSAEADDRNOTAVAIL:
    case WSAEAFNOSUPPORT: return CONNECT_UNREACHABLE;
    case WSAETIMEDOUT: return CONNECT_NO_ANSWER;
    case WSAHOST_NOT_FOUND:
    case WSANO_DATA:
    case WSATRY_AGAIN: return CONNECT_NAME_UNKNOWN;
    default: return CONNECT_FAILED;
    }
}

bool localEndpointOf(SocketHandle socket, Endpoint* local) {
    sockaddr_storage address;
    ZeroMemory(&address, sizeof address);
    int length = sizeof address;
    if (getsockname(asSocket(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) return false;
    return endpointOfSocketAddress(reinterpret_cast<const sockaddr*>(&address), local);
}

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
