// What goes to the peer: typed keys, pastes, the send dialog's bytes and files, in
// the order they were given. Bytes wait in one queue of SEND_QUEUE_SIZE bytes until
// the socket takes them; a file goes out in pieces read as the socket takes them,
// after the bytes that waited before it and before those given after it. Every
// piece the socket takes is kept with the received bytes (received_bytes.h).
#ifndef ORU_OUTGOING_H
#define ORU_OUTGOING_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform.h"

// The queue's room: a key typed, a paste or a send that does not fit is refused
// whole, with the warning sound.
const std::size_t SEND_QUEUE_SIZE = 64 * 1024;
// The most a file piece holds, and the most one turn of sending hands the socket
// before the person's input and painting have their turn again.
const std::size_t FILE_PIECE_SIZE = 1024 * 1024;
const std::size_t SENDING_TURN_LIMIT = 8 * FILE_PIECE_SIZE;

const char FILE_UNREADABLE_TEXT[] = "Impossible de lire le fichier ";
const char FILE_UNREADABLE_CAPTION[] = "erreur";

// ---- the link's side ----------------------------------------------------------------
// A peer was accepted on `socket`: what is given from now on goes to it.
void startOutgoing(SocketHandle socket);
// The connection ended: what waits is dropped, and a file being sent ends there.
void endOutgoing();
// The socket can take more (its write notification): what waits goes, in order.
void sendWaitingBytes();
// The turn that sendWaitingBytes left for later has come; `connection` is the
// connection that asked for it (outgoingConnection then). Another's does nothing.
void onSendingMoreDue(unsigned connection);
// The connection what is given goes to: connections are numbered from 1 in the
// order they began; 0 while there is none.
std::uint64_t outgoingConnection();

// ---- what the person gives ------------------------------------------------------------
// What Enter sends (the system menu's "Touche Entree"): CR at every start.
enum EnterEnding { ENTER_CR, ENTER_LF, ENTER_CR_LF };
extern EnterEnding enterEnding;
void chooseEnterEnding(EnterEnding ending);
// Whether what the person sends is also written into the text view (the system
// menu's "Echo local"): typed keys, pastes and the send dialog's bytes, once queued;
// not files, not the rules' replies. Off at every start.
extern bool localEcho;
void toggleLocalEcho();
// A character typed in the window: one byte, after those that wait, but Enter (13),
// which sends what enterEnding says. Without a peer nothing; without room, the
// warning sound.
void sendTypedChar(int ch);
// The clipboard's text, each of its line ends (CR LF, a lone CR, a lone LF) as Enter
// sends it, whole or not at all: while connected, when there is text and when it
// fits in the room left. Otherwise the warning sound, and nothing is sent. The text
// is read where the clipboard holds it: no more of it is copied than the room takes.
void pasteClipboardText();
enum SendOutcome { SEND_QUEUED, SEND_WITHOUT_PEER, SEND_WITHOUT_ROOM };
// The send dialog's bytes, whole or not at all; without room, the warning sound.
SendOutcome sendBytes(const std::string& bytes);
// A reply of rule `rule` (numbered from 1), whole or not at all, without a sound; it
// is kept as a send of its own, naming the rule, even when the socket takes it with
// other bytes.
SendOutcome sendReply(const std::string& bytes, int rule);
// The same reply queued only: it goes with the next sendWaitingBytes, so that the
// replies to one chunk go out in one send.
SendOutcome queueReply(const std::string& bytes, int rule);
// Bytes given and not yet taken by the socket (not counting a file's), and the room
// the queue has left for more.
std::size_t bytesWaitingToSend();
std::size_t queueRoom();
// A peer is connected: what the program sends has somewhere to go.
bool peerConnected();

// ---- a file ---------------------------------------------------------------------------
enum FileSendingState {
    FILE_NOT_SENT,
    FILE_GOING,
    FILE_SENT,
    FILE_STOPPED,
    FILE_CUT_OFF,
    FILE_WITHOUT_CONNECTION  // its connection ended before it could start
};
struct FileSending {
    FileSendingState state;
    std::string name;  // without its folder, UTF-8
    std::uint64_t size;
    std::uint64_t sent;  // bytes the socket took
};
// Starts sending the file at `path` (UTF-8) after what waits, to the connection it
// was chosen for (outgoingConnection when the person chose it). False when that
// connection has ended (the file's state says so, and nothing is sent), or the file
// cannot be opened (a box says so).
bool startSendingFile(const std::string& path, std::uint64_t chosenFor);
// The rest of the file is not sent.
void stopSendingFile();
const FileSending& fileSending();
// What the send dialog's line says of it: "fichier.bin : 1 234 567 / 10 000 000 octets".
std::string fileSendingText(const FileSending& file);

#endif
