// The server's one TCP connection: listening, accepting one peer (or, listening
// continuously, one peer after another), receiving, sending, disconnecting, and the
// status line that tells its state.
#ifndef ORU_LINK_H
#define ORU_LINK_H

#include <cstddef>
#include <cstdint>
#include "platform.h"

const int SERVER_IDLE = 0;
const int SERVER_LISTENING = 1;
const int SERVER_CONNECTED = 2;
// Reaching a device that listens: its name resolved, its addresses tried in turn;
// then, trying again by itself, the wait before the next try.
const int SERVER_CONNECTING = 3;
const int SERVER_WAITING_TO_RETRY = 4;

// Socket notification events (low 16 bits of the notification's second parameter).
const unsigned SOCKET_EVENT_READ = 1;
const unsigned SOCKET_EVENT_WRITE = 2;
const unsigned SOCKET_EVENT_ACCEPT = 8;
const unsigned SOCKET_EVENT_CONNECT = 16;
const unsigned SOCKET_EVENT_CLOSE = 32;

// The most that one readable notification takes in, with one receive; the rest waits
// for the next notification, which that receive lets the system post. One receive a
// notification keeps at most one read notification queued.
const std::size_t RECEIVE_CHUNK_LIMIT = 1024 * 1024;
// The longest status text: a connection to a name of 253 characters that failed.
const std::size_t STATUS_TEXT_SIZE = 320;
// What acceptPeer returns when no peer waits: none came, or those that waited went
// before their turn.
const int NO_PEER_ACCEPTED = 1;
// The most accepts tried for one accept notification, past peers that went: each
// takes one from the system's queue, and the next notification goes on.
const int ACCEPTS_A_NOTIFICATION = 1000;
// Every accepted connection is probed after this long a silence, then at this
// interval, so that a peer that vanished without closing is noticed within about
// a minute and a half.
const unsigned KEEPALIVE_IDLE_MS = 30000;
const unsigned KEEPALIVE_INTERVAL_MS = 5000;

const char LISTEN_FAILED_TEXT[] = "mise en ecoute impossible ";
const char CONNECTION_REJECTED_TEXT[] = "Connexion rejetee... ";
const char LINK_ERROR_CAPTION[] = "erreur";

extern int serverState;
extern bool settingsChecked;
extern SocketHandle serverSocket;
extern SocketHandle clientSocket;
// The listening socket: open while listening and, listening continuously, while a
// peer is served (serverSocket is then the connected socket).
extern SocketHandle listeningSocket;
// "Ecoute continue": the next peer is served without a new listen. Off at start,
// never stored.
extern bool keepListening;
extern std::uint32_t peerAddress;  // network order
extern std::uint16_t peerPort;     // host order

// The "&Mise en ecoute" command: validate if needed, then listen. Only while idle.
void onListenCommand();
// Closes whatever is open, returns to idle and makes "&Mise en ecoute" selectable.
void closeAndGoIdle();
// The "&Deconnexion" command. Only while listening or connected. Always ends idle.
void onDisconnectCommand();
// The "Ecoute continue" item: checks or unchecks it. Unchecked while a peer is
// served, the listening socket closes (peers that waited are refused); checked while
// listening, it is made anew with room for the peers that come at once.
void onKeepListeningCommand();
// One socket notification: `socket` is the socket it concerns, `event` the
// notification's second parameter (event in the low 16 bits, error in the high).
// A read notification takes in one receive of up to RECEIVE_CHUNK_LIMIT bytes as one
// chunk, for the capture and then the screen. A connection ends only when a read
// finds it closed or failed: after a close or an error is notified, the link reads
// until one does, or until one finds nothing pending (the notification was then
// another socket's that had the same handle value, and the connection goes on).
void onSocketNotify(SocketHandle socket, std::uint32_t event);

// A connection the program opened is made: from now on it is served as a peer that
// came in is.
void beginOpenedConnection(SocketHandle socket, const Endpoint& peer);

// 0 when the socket listens, -1 otherwise (the link is then idle).
int startListening(std::uint32_t port);
// 0 when a peer was accepted (the listening socket is then closed, unless listening
// continuously); the peers that went before their turn are passed over.
// NO_PEER_ACCEPTED when none waits (still listening), -1 when the listening socket
// failed.
int acceptPeer();
// Closes every socket that is open and returns the link to idle. Harmless in every state.
void disconnectServer();

// The read put off while input or painting waited is due: it is taken now.
void onDeferredReceiveDue();
// The status-bar text for a server state.
void formatServerStatus(int state, char* text, std::size_t capacity);
void showServerStatus(int state);

#endif
