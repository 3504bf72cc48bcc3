// Reaching a device that listens: the host and port the person gives, the host's
// name resolved without waiting, each of its addresses tried in turn, and, when
// asked, trying again by itself after a wait that grows.
#ifndef ORU_CONNECT_H
#define ORU_CONNECT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform.h"

// How long one address is given to answer.
const int CONNECT_ATTEMPT_MS = 10000;
// Trying again: the first wait, the longest, and how long a connection must have
// lasted for the wait to start again from the first.
const int FIRST_RETRY_SECONDS = 1;
const int LONGEST_RETRY_SECONDS = 30;
const long long CONNECTION_LASTED_MS = 10000;
// The hosts and ports connected to in this run that the dialog offers.
const std::size_t TARGETS_REMEMBERED = 10;

const char HOST_WRONG_TEXT[] = "Hote incorrect : une adresse IPv4, une adresse IPv6 ou un nom";
const char CONNECT_PORT_WRONG_TEXT[] = "Port incorrect : un nombre de 1 a 65535";

// What the person asked to reach.
struct ConnectTarget {
    std::string host;  // as typed, blanks around it dropped
    std::uint16_t port;
    bool reconnect;  // "Reconnexion automatique"
};

// The dialog's host and port read: which one is wrong, if one is.
enum TargetFault { TARGET_GOOD, TARGET_HOST_WRONG, TARGET_PORT_WRONG };
TargetFault readConnectTarget(const std::string& host, const std::string& port, ConnectTarget* target);

// The hosts and ports connected to in this run, the latest first, at most
// TARGETS_REMEMBERED; and one of them as the dialog's list shows it ("host:port",
// an IPv6 address in brackets).
const std::vector<ConnectTarget>& rememberedTargets();
std::string targetText(const ConnectTarget& target);

// The targets offered forgotten and anything under way dropped, as at start-up.
void forgetConnectTargets();
// "Se connecter a...": only while idle. Starts reaching the target.
void startConnecting(const ConnectTarget& target);
// Everything under way is dropped: the name's request, the address being tried,
// the wait before the next try. Harmless when nothing is.
void stopConnecting();
// The connection now was opened by the program (and not accepted).
bool connectionOpenedHere();
// A connection the program opened ended (the link has closed it): it is tried again
// when asked, otherwise the link goes idle.
void onOpenedConnectionEnded();
// The status text while connecting, waiting to try again, or connected to a device
// reached; false in every other state.
bool formatConnectStatus(int state, char* text, std::size_t capacity);

// From the message loop: the answer to a name's request (count addresses, or none
// and why), the connect timer, a notification of the socket being connected.
void onHostResolved(unsigned request, const Endpoint* addresses, std::size_t count, ConnectFailure failure);
void onConnectTimerDue();
void onConnectingSocketNotify(SocketHandle socket, std::uint32_t event);

// Why a connection failed, in words.
const char* connectFailureText(ConnectFailure failure);

#endif
