#include "net/connect.h"

#include <cstdio>

#include "net/host.h"
#include "net/link.h"
#include "ui/resource.h"

namespace {

std::vector<ConnectTarget> remembered;

// What is being reached, from the dialog's Connecter until Deconnexion, a failure
// without trying again, or the end of a connection not tried again.
ConnectTarget target = {};
bool reaching = false;
// The target's addresses and the next one to try.
std::vector<Endpoint> addresses;
std::size_t nextAddress = 0;
// The socket whose connection is under way, and the address it is trying.
SocketHandle trying = NO_SOCKET;
Endpoint tryingAddress = {};
// The name's request while the system resolves it; answers of any other are old.
unsigned nameRequest = 0;
bool resolving = false;
// Why the last address failed.
ConnectFailure lastFailure = CONNECT_FAILED;
// Trying again: the next wait, and the seconds left of the one under way.
int retrySeconds = FIRST_RETRY_SECONDS;
int secondsLeft = 0;
// The connection the program opened, while it lasts.
bool openedHere = false;
Endpoint connectedTo = {};
long long connectedAt = 0;

void remember(const ConnectTarget& t) {
    for (std::size_t i = 0; i < remembered.size(); ++i) {
        if (remembered[i].host == t.host && remembered[i].port == t.port) {
            remembered.erase(remembered.begin() + static_cast<long>(i));
            break;
        }
    }
    remembered.insert(remembered.begin(), t);
    if (remembered.size() > TARGETS_REMEMBERED) remembered.pop_back();
}

bool readPort(const std::string& text, std::uint16_t* port) {
    std::size_t first = text.find_first_not_of(" \t");
    std::size_t last = text.find_last_not_of(" \t");
    if (first == std::string::npos) return false;
    unsigned long value = 0;
    for (std::size_t i = first; i <= last; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + static_cast<unsigned long>(text[i] - '0');
        if (value > 65535) return false;
    }
    if (value == 0) return false;
    *port = static_cast<std::uint16_t>(value);
    return true;
}

// The host as the status line and the list show it: a name as typed, an address as
// the program writes addresses (an IPv6 one in brackets).
std::string hostShown(const std::string& host) {
    Endpoint address;
    std::string name;
    return readHost(host, &address, &name) == HOST_NAME ? host : addressText(address);
}

void dropTry() {
    cancelConnectTimer();
    if (trying == NO_SOCKET) return;
    SocketHandle socket = trying;
    trying = NO_SOCKET;
    closeSocket(socket);
}

void waitToRetry() {
    serverState = SERVER_WAITING_TO_RETRY;
    secondsLeft = retrySeconds;
    retrySeconds = retrySeconds * 2 < LONGEST_RETRY_SECONDS ? retrySeconds * 2 : LONGEST_RETRY_SECONDS;
    showServerStatus(serverState);
    scheduleConnectTimer(1000);
}

// No address answered: without trying again, the link goes idle and the status line
// and a box say why.
void allAddressesFailed() {
    if (target.reconnect) {
        waitToRetry();
        return;
    }
    char text[STATUS_TEXT_SIZE];
    std::snprintf(text, sizeof text, "Connexion a <%s : %u> impossible : %s", hostShown(target.host).c_str(),
                  static_cast<unsigned>(target.port), connectFailureText(lastFailure));
    closeAndGoIdle();
    setStatusText(text);
    showErrorBox(text, LINK_ERROR_CAPTION);
}

void tryNextAddress() {
    while (nextAddress < addresses.size()) {
        const Endpoint address = addresses[nextAddress++];
        ConnectFailure why = CONNECT_FAILED;
        SocketHandle socket = startConnection(address, &why);
        if (socket != NO_SOCKET) {
            trying = socket;
            tryingAddress = address;
            scheduleConnectTimer(CONNECT_ATTEMPT_MS);
            return;
        }
        lastFailure = why;
    }
    allAddressesFailed();
}

// One try at the target: its name resolved first, or its address tried at once.
void attempt() {
    serverState = SERVER_CONNECTING;
    showServerStatus(serverState);
    addresses.clear();
    nextAddress = 0;
    Endpoint literal = {};
    std::string name;
    if (readHost(target.host, &literal, &name) == HOST_NAME) {
        resolving = true;
        if (resolveHostName(name, target.port, ++nameRequest)) return;
        resolving = false;
        lastFailure = CONNECT_NAME_UNKNOWN;
        allAddressesFailed();
        return;
    }
    literal.port = target.port;
    addresses.push_back(literal);
    tryNextAddress();
}

void connected() {
    cancelConnectTimer();
    SocketHandle socket = trying;
    trying = NO_SOCKET;
    openedHere = true;
    connectedTo = tryingAddress;
    connectedAt = monotonicMilliseconds();
    beginOpenedConnection(socket, connectedTo);
}

}  // namespace

TargetFault readConnectTarget(const std::string& host, const std::string& port, ConnectTarget* t) {
    Endpoint address;
    std::string name;
    if (readHost(host, &address, &name) == HOST_WRONG) return TARGET_HOST_WRONG;
    if (!readPort(port, &t->port)) return TARGET_PORT_WRONG;
    const std::size_t first = host.find_first_not_of(" \t");
    t->host = host.substr(first, host.find_last_not_of(" \t") - first + 1);
    return TARGET_GOOD;
}

const std::vector<ConnectTarget>& rememberedTargets() { return remembered; }

void forgetConnectTargets() {
    stopConnecting();
    remembered.clear();
    retrySeconds = FIRST_RETRY_SECONDS;
    nameRequest = 0;
}

std::string targetText(const ConnectTarget& t) {
    return hostShown(t.host) + ":" + std::to_string(t.port);
}

void startConnecting(const ConnectTarget& t) {
    if (serverState != SERVER_IDLE) return;
    stopConnecting();
    target = t;
    reaching = true;
    retrySeconds = FIRST_RETRY_SECONDS;
    remember(t);
    enableMenuPair(IDM_DISCONNECT, IDM_LISTEN);
    attempt();
}

void stopConnecting() {
    if (resolving) abandonHostName(nameRequest);
    resolving = false;
    dropTry();
    reaching = false;
    openedHere = false;
}

bool connectionOpenedHere() { return openedHere; }

void onOpenedConnectionEnded() {
    openedHere = false;
    if (monotonicMilliseconds() - connectedAt >= CONNECTION_LASTED_MS) retrySeconds = FIRST_RETRY_SECONDS;
    if (reaching && target.reconnect) waitToRetry();
    else closeAndGoIdle();
}

bool formatConnectStatus(int state, char* text, std::size_t capacity) {
    if (state == SERVER_CONNECTING) {
        std::snprintf(text, capacity, "Connexion a <%s : %u> ...", hostShown(target.host).c_str(),
                      static_cast<unsigned>(target.port));
    } else if (state == SERVER_WAITING_TO_RETRY) {
        std::snprintf(text, capacity, "Nouvel essai dans %d s", secondsLeft);
    } else if (state == SERVER_CONNECTED && openedHere) {
        std::snprintf(text, capacity, "Connecte a <%s : %u>", addressText(connectedTo).c_str(),
                      static_cast<unsigned>(connectedTo.port));
    } else {
        return false;
    }
    return true;
}

void onHostResolved(unsigned request, const Endpoint* found, std::size_t count, ConnectFailure failure) {
    if (!resolving || request != nameRequest || serverState != SERVER_CONNECTING) return;
    resolving = false;
    if (count == 0) {
        lastFailure = failure;
        allAddressesFailed();
        return;
    }
    addresses.assign(found, found + count);
    tryNextAddress();
}

void onConnectTimerDue() {
    if (serverState == SERVER_CONNECTING && trying != NO_SOCKET) {
        lastFailure = CONNECT_NO_ANSWER;
        dropTry();
        tryNextAddress();
    } else if (serverState == SERVER_WAITING_TO_RETRY) {
        if (--secondsLeft > 0) {
            showServerStatus(serverState);
            scheduleConnectTimer(1000);
        } else {
            attempt();
        }
    }
}

void onConnectingSocketNotify(SocketHandle socket, std::uint32_t event) {
    if (socket != trying || serverState != SERVER_CONNECTING) return;
    if ((event & 0xFFFFu) != SOCKET_EVENT_CONNECT) return;
    const unsigned error = (event >> 16) & 0xFFFFu;
    if (error == 0) {
        connected();
        return;
    }
    lastFailure = connectFailureOf(error);
    dropTry();
    tryNextAddress();
}

const char* connectFailureText(ConnectFailure failure) {
    switch (failure) {
    case CONNECT_REFUSED: return "connexion refusee";
    case CONNECT_UNREACHABLE: return "hote injoignable";
    case CONNECT_NO_ANSWER: return "pas de reponse";
    case CONNECT_NAME_UNKNOWN: return "nom inconnu";
    case CONNECT_FAILED: break;
    }
    return "erreur du reseau";
}
