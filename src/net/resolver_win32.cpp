// Host names resolved without waiting. Where Windows resolves in the background
// (GetAddrInfoExW with a completion routine, from Windows 8 on) a name's IPv6 and
// IPv4 addresses come in the order the system gives them; before that, the older
// asynchronous call gives IPv4 addresses only. Either way the answer reaches the
// program as a message to the main window.
#include "net/sockets_win32.h"

#include <ws2tcpip.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/app_win32.h"
#include "net/connect.h"

namespace {

// The documented signatures, which this compiler's headers do not all give.
typedef void(CALLBACK* NameCompletion)(DWORD error, DWORD bytes, LPWSAOVERLAPPED overlapped);
typedef INT(WSAAPI* GetAddrInfoExWCall)(PCWSTR name, PCWSTR service, DWORD nameSpace, LPGUID provider,
                                         const ADDRINFOEXW* hints, PADDRINFOEXW* results, timeval* timeout,
                                         LPOVERLAPPED overlapped, NameCompletion completion, LPHANDLE handle);
typedef INT(WSAAPI* GetAddrInfoExCancelCall)(LPHANDLE handle);
typedef void(WSAAPI* FreeAddrInfoExWCall)(PADDRINFOEXW results);

struct BackgroundResolver {
    bool lookedUp;
    GetAddrInfoExWCall resolve;
    GetAddrInfoExCancelCall cancel;
    FreeAddrInfoExWCall release;
};
BackgroundResolver resolver = {};

// One name's request of the background resolver. What the system writes into it
// stays alive until its answer has come, also once the request is abandoned.
struct NameRequest {
    OVERLAPPED overlapped;  // first: the completion hands it back
    unsigned number;
    PADDRINFOEXW results;
    HANDLE handle;
    HWND window;
};
NameRequest* current = nullptr;  // the request not abandoned, if any

// One request of the older way; its buffer is written by the system until the
// answer is posted or the request is cancelled.
struct OldNameRequest {
    HANDLE handle;
    unsigned number;
    std::uint16_t port;
    char buffer[MAXGETHOSTSTRUCT];
};
std::vector<OldNameRequest*> oldRequests;

const BackgroundResolver& backgroundResolver() {
    if (resolver.lookedUp) return resolver;
    resolver.lookedUp = true;
    HMODULE sockets = GetModuleHandleA("ws2_32.dll");
    if (sockets == nullptr) return resolver;
    // Cancelling came with the background resolving: where it is missing, so is that.
    resolver.cancel = reinterpret_cast<GetAddrInfoExCancelCall>(
        reinterpret_cast<void (*)()>(GetProcAddress(sockets, "GetAddrInfoExCancel")));
    resolver.resolve = reinterpret_cast<GetAddrInfoExWCall>(
        reinterpret_cast<void (*)()>(GetProcAddress(sockets, "GetAddrInfoExW")));
    resolver.release = reinterpret_cast<FreeAddrInfoExWCall>(
        reinterpret_cast<void (*)()>(GetProcAddress(sockets, "FreeAddrInfoExW")));
    if (resolver.cancel == nullptr || resolver.release == nullptr) resolver.resolve = nullptr;
    return resolver;
}

void forgetRequest(NameRequest* request) {
    if (request->results != nullptr) resolver.release(request->results);
    if (current == request) current = nullptr;
    delete request;
}

// Runs on a thread of the system's: it only hands the answer to the main window.
void CALLBACK nameAnswered(DWORD error, DWORD, LPWSAOVERLAPPED overlapped) {
    NameRequest* request = reinterpret_cast<NameRequest*>(overlapped);
    if (!PostMessageW(request->window, WM_HOST_RESOLVED, error, reinterpret_cast<LPARAM>(request))) {
        forgetRequest(request);  // the window is gone: nobody waits for it
    }
}

bool resolveInBackground(const std::string& name, std::uint16_t port, unsigned number) {
    NameRequest* request = new NameRequest();
    request->number = number;
    request->window = mainWindow;
    ADDRINFOEXW hints;
    ZeroMemory(&hints, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    const std::wstring wideName = wideFromUtf8(name);
    const std::wstring service = std::to_wstring(port);
    const INT started = resolver.resolve(wideName.c_str(), service.c_str(), NS_ALL, nullptr, &hints, &request->results,
                                         nullptr, &request->overlapped, nameAnswered, &request->handle);
    if (started == WSA_IO_PENDING) {
        current = request;
        return true;
    }
    // Answered at once (or refused): the completion is not called, the answer comes
    // the same way all the same.
    current = request;
    if (PostMessageW(mainWindow, WM_HOST_RESOLVED, static_cast<WPARAM>(started), reinterpret_cast<LPARAM>(request))) {
        return true;
    }
    forgetRequest(request);
    return false;
}

bool resolveTheOlderWay(const std::string& name, std::uint16_t port, unsigned number) {
    OldNameRequest* request = new OldNameRequest();
    request->number = number;
    request->port = port;
    request->handle = WSAAsyncGetHostByName(mainWindow, WM_HOST_RESOLVED_OLD, name.c_str(), request->buffer,
                                            sizeof request->buffer);
    if (request->handle == nullptr) {
        delete request;
        return false;
    }
    oldRequests.push_back(request);
    return true;
}

}  // namespace

bool resolveHostName(const std::string& name, std::uint16_t port, unsigned request) {
    if (backgroundResolver().resolve != nullptr) return resolveInBackground(name, port, request);
    return resolveTheOlderWay(name, port, request);
}

void abandonHostName(unsigned request) {
    if (current != nullptr && current->number == request) {
        // Its completion still comes (cancelled), and frees it.
        resolver.cancel(&current->handle);
        current = nullptr;
        return;
    }
    for (std::size_t i = 0; i < oldRequests.size(); ++i) {
        OldNameRequest* old = oldRequests[i];
        if (old->number != request) continue;
        // Cancelled, no answer is posted and the buffer is free; otherwise the
        // answer is on its way and frees it.
        if (WSACancelAsyncRequest(old->handle) == 0) {
            oldRequests.erase(oldRequests.begin() + static_cast<long>(i));
            delete old;
        }
        return;
    }
}

void onHostResolvedMessage(WPARAM error, LPARAM lParam) {
    NameRequest* request = reinterpret_cast<NameRequest*>(lParam);
    std::vector<Endpoint> found;
    // ai_next is the next ADDRINFOEXW; this compiler's header misspells its tag.
    for (const ADDRINFOEXW* a = error == 0 ? request->results : nullptr; a != nullptr;
         a = reinterpret_cast<const ADDRINFOEXW*>(a->ai_next)) {
        Endpoint end;
        if (a->ai_addr != nullptr && endpointOfSocketAddress(a->ai_addr, &end)) found.push_back(end);
    }
    const unsigned number = request->number;
    forgetRequest(request);
    const ConnectFailure why = error == 0 ? CONNECT_NAME_UNKNOWN : connectFailureOf(static_cast<unsigned>(error));
    onHostResolved(number, found.data(), found.size(), why);
}

void onOldHostResolvedMessage(WPARAM handle, LPARAM outcome) {
    for (std::size_t i = 0; i < oldRequests.size(); ++i) {
        OldNameRequest* request = oldRequests[i];
        if (request->handle != reinterpret_cast<HANDLE>(handle)) continue;
        oldRequests.erase(oldRequests.begin() + static_cast<long>(i));
        std::vector<Endpoint> found;
        const hostent* host = reinterpret_cast<const hostent*>(request->buffer);
        const unsigned error = WSAGETASYNCERROR(outcome);
        if (error == 0 && host->h_addrtype == AF_INET && host->h_length == 4) {
            for (char** a = host->h_addr_list; *a != nullptr; ++a) {
                std::uint32_t address;
                std::memcpy(&address, *a, 4);
                found.push_back(ipv4Endpoint(address, request->port));
            }
        }
        const unsigned number = request->number;
        delete request;
        onHostResolved(number, found.data(), found.size(),
                       error == 0 ? CONNECT_NAME_UNKNOWN : connectFailureOf(error));
        return;
    }
}
