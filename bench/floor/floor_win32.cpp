// The floor of the link benchmark: what receiving and capturing alone cost under
// Wine. One window that is never shown; it listens on the port it is given, takes
// each peer in turn, and on each read notification receives once (up to the
// program's chunk size) and appends what came to the capture file, as the program's
// receive path does, and nothing else: no grid, no drawing, no caret.
//
//   oru-floor.exe PORT CAPTURE
#include <winsock2.h>
#include <windows.h>

#include <cstdlib>

#include "net/link.h"

namespace {

const UINT WM_SOCKET_NOTIFY = WM_USER;
SOCKET listener = INVALID_SOCKET;
HANDLE capture = INVALID_HANDLE_VALUE;
char buffer[RECEIVE_CHUNK_LIMIT];

int receiveOnce(SOCKET peer) {
    const int got = recv(peer, buffer, static_cast<int>(sizeof buffer), 0);
    DWORD written = 0;
    if (got > 0) WriteFile(capture, buffer, static_cast<DWORD>(got), &written, nullptr);
    return got;
}

LRESULT CALLBACK floorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_SOCKET_NOTIFY) return DefWindowProcA(window, message, wParam, lParam);
    const SOCKET socket = static_cast<SOCKET>(wParam);
    switch (WSAGETSELECTEVENT(lParam)) {
    case FD_ACCEPT:
        accept(listener, nullptr, nullptr);  // inherits the listener's notifications
        break;
    case FD_READ:
        receiveOnce(socket);
        break;
    case FD_CLOSE:  // what is left is read first, as the program does
        while (receiveOnce(socket) > 0) {
        }
        closesocket(socket);
        break;
    default:
        break;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    WSADATA sockets;
    WSAStartup(MAKEWORD(2, 2), &sockets);
    capture = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    SetFilePointer(capture, 0, nullptr, FILE_END);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = floorWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "OruFloor";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA("OruFloor", "oru-floor", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                nullptr, windowClass.hInstance, nullptr);
    listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    WSAAsyncSelect(listener, window, WM_SOCKET_NOTIFY, FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(std::atoi(argv[1])));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    if (capture == INVALID_HANDLE_VALUE || listen(listener, SOMAXCONN) != 0) return 1;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    return 0;
}
