#include "net/outgoing.h"

#include <deque>

#include "capture/journal.h"
#include "words.h"
#include "terminal/history_view.h"
#include "terminal/received_bytes.h"
#include "terminal/screen.h"
#include "ui/resource.h"

EnterEnding enterEnding = ENTER_CR;
bool localEcho = false;

namespace {

SocketHandle peerSocket = NO_SOCKET;  // while connected
// Connections given to startOutgoing so far: the last one's number names the
// connection now, while there is one.
std::uint64_t connectionsStarted = 0;

// The queue, a ring; with a file going, its first queuedBeforeFile bytes go before
// the file and the rest after it.
unsigned char sendQueue[SEND_QUEUE_SIZE];
std::size_t queueHead = 0;
std::size_t queueCount = 0;
std::size_t queuedBeforeFile = 0;
// The queue's bytes in runs, in order: the person's, merged, and each reply of a rule
// (its number) apart, so that each is kept as a send of its own.
struct QueuedRun {
    std::size_t count;
    int rule;
};
std::deque<QueuedRun> runs;

FileSending file = {FILE_NOT_SENT, std::string(), 0, 0};
FileHandle fileHandle = NO_FILE;
unsigned char piece[FILE_PIECE_SIZE];
std::size_t pieceLength = 0;
std::size_t pieceSent = 0;
// A later turn of sending is asked for, for the connection now, and not come yet.
bool moreScheduled = false;

bool fileGoing() {
    return file.state == FILE_GOING;
}

void queueByte(unsigned char byte) {
    sendQueue[(queueHead + queueCount) % SEND_QUEUE_SIZE] = byte;
    queueCount++;
}

// The last `count` bytes queued were the person's (rule 0) or a rule's reply.
void noteQueued(std::size_t count, int rule) {
    if (rule == 0 && !runs.empty() && runs.back().rule == 0) runs.back().count += count;
    else runs.push_back(QueuedRun{count, rule});
}


// The file is over, whichever way; the dialog shows how.
void endFile(FileSendingState state) {
    if (fileHandle != NO_FILE) closeFile(fileHandle);
    fileHandle = NO_FILE;
    file.state = state;
    queuedBeforeFile = 0;
    pieceLength = 0;
    pieceSent = 0;
    fileSendingChanged();
}

// The next piece of the file, once the last one went whole; false when none comes
// (the file is over, or could not be read: a box says so).
bool pieceReady() {
    if (pieceSent < pieceLength) return true;
    const std::uint64_t left = file.size - file.sent;
    if (left == 0) {
        endFile(FILE_SENT);
        return false;
    }
    const std::size_t wanted = left < FILE_PIECE_SIZE ? static_cast<std::size_t>(left) : FILE_PIECE_SIZE;
    pieceLength = readFileBytes(fileHandle, piece, wanted);
    pieceSent = 0;
    if (pieceLength == 0) {
        const std::string name = file.name;
        endFile(FILE_STOPPED);
        showErrorBox((FILE_UNREADABLE_TEXT + name).c_str(), FILE_UNREADABLE_CAPTION);
        return false;
    }
    return true;
}

// Hands the socket bytes from `bytes`; what it takes is kept as sent. The count it
// took, 0 when it can take none now.
std::size_t sendOnly(const unsigned char* bytes, std::size_t count) {
    const int took = sendOnSocket(peerSocket, bytes, static_cast<int>(count < 0x40000000 ? count : 0x40000000));
    return took > 0 ? static_cast<std::size_t>(took) : 0;
}

// Bytes the socket took are kept for the octet view and go into the journal.
void keepSent(const unsigned char* bytes, std::size_t count, int rule) {
    keepSentChunk(bytes, count, rule);
    journalBytes(false, bytes, count, rule);
}

std::size_t sendAndKeep(const unsigned char* bytes, std::size_t count) {
    const std::size_t took = sendOnly(bytes, count);
    keepSent(bytes, took, 0);
    return took;
}

// The queue's first `count` bytes, at its head, went: each run's share of them is
// kept as a send of its own, and leaves the runs.
void keepSentRuns(std::size_t count) {
    std::size_t at = 0;
    while (at < count) {
        QueuedRun& run = runs.front();
        const std::size_t part = run.count < count - at ? run.count : count - at;
        keepSent(sendQueue + queueHead + at, part, run.rule);
        at += part;
        run.count -= part;
        if (run.count == 0) runs.pop_front();
    }
}

// One send from what comes next: the queue's bytes before the file, the file, the
// queue's bytes after it. 0 when the socket takes no more now or nothing waits.
std::size_t sendNext() {
    if (fileGoing() && queuedBeforeFile == 0) {
        if (!pieceReady()) return sendNext();  // the file is over: the queue goes on
        const std::size_t took = sendAndKeep(piece + pieceSent, pieceLength - pieceSent);
        pieceSent += took;
        file.sent += took;
        return took;
    }
    const std::size_t waiting = fileGoing() ? queuedBeforeFile : queueCount;
    if (waiting == 0) return 0;
    // One send of all that lies in a row, whoever gave it.
    const std::size_t run = waiting < SEND_QUEUE_SIZE - queueHead ? waiting : SEND_QUEUE_SIZE - queueHead;
    const std::size_t took = sendOnly(sendQueue + queueHead, run);
    keepSentRuns(took);
    queueHead = (queueHead + took) % SEND_QUEUE_SIZE;
    queueCount -= took;
    if (fileGoing()) queuedBeforeFile -= took;
    return took;
}

bool somethingWaits() {
    return queueCount > 0 || fileGoing();
}

// What Enter sends.
std::string enterBytes() {
    switch (enterEnding) {
    case ENTER_LF: return "\n";
    case ENTER_CR_LF: return "\r\n";
    default: return "\r";
    }
}

// The LF of a CR LF pair in pasted text: the pair is one line end.
bool endsCrLf(const char* text, std::size_t i) {
    return text[i] == '\n' && i > 0 && text[i - 1] == '\r';
}

// Pasted text with each line end as Enter sends it, into `bytes`; false when that
// does not fit in `room` bytes. Each line end or character is one or two of the
// text's bytes, so a text more than twice the room is refused unread; no more of it
// is made than the room allows.
bool pastedBytes(const char* text, std::size_t length, std::size_t room, std::string* bytes) {
    if (length / 2 + length % 2 > room) return false;
    const std::string ending = enterBytes();
    for (std::size_t i = 0; i < length; ++i) {
        if (endsCrLf(text, i)) continue;
        if (text[i] == '\r' || text[i] == '\n') bytes->append(ending);
        else bytes->push_back(text[i]);
        if (bytes->size() > room) return false;
    }
    return true;
}

// The person's bytes, queued: written into the text view too when echo is asked for.
void echoQueued(const std::string& bytes) {
    if (!localEcho || bytes.empty()) return;
    putEchoBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    showChangesWithinAFrame();
}

// Bytes of the person's (rule 0) or of a rule's reply after those that wait, whole:
// true when the room took them.
bool queueRun(const std::string& bytes, int rule) {
    if (bytes.size() > queueRoom()) return false;
    for (char c : bytes) queueByte(static_cast<unsigned char>(c));
    if (!bytes.empty()) noteQueued(bytes.size(), rule);
    return true;
}

// Bytes were queued: when nothing waited before them, they go now; else they go
// after what waits, on the write notification or the next turn.
void sendQueuedNowIfFirst(bool nothingWaited) {
    if (nothingWaited) sendWaitingBytes();
}

}  // namespace

void startOutgoing(SocketHandle socket) {
    peerSocket = socket;
    connectionsStarted++;
}

void endOutgoing() {
    peerSocket = NO_SOCKET;
    queueHead = 0;
    queueCount = 0;
    runs.clear();
    moreScheduled = false;  // a turn still to come was this connection's: it sends nothing
    if (fileGoing()) endFile(FILE_CUT_OFF);
}

std::uint64_t outgoingConnection() {
    return peerSocket != NO_SOCKET ? connectionsStarted : 0;
}

void sendWaitingBytes() {
    if (peerSocket == NO_SOCKET || moreScheduled) return;
    std::size_t turn = 0;
    while (somethingWaits()) {
        const std::size_t took = sendNext();
        if (took == 0) break;  // the write notification comes once the socket can take more
        turn += took;
        const bool personWaits = fileGoing() && inputOrPaintingWaits();
        if (turn >= SENDING_TURN_LIMIT || personWaits) {
            // The person comes before the peer: the rest goes at a later turn.
            moreScheduled = true;
            scheduleSendingMore(personWaits, static_cast<unsigned>(connectionsStarted));
            break;
        }
    }
    if (turn > 0) {
        showChangesWithinAFrame();
        if (fileGoing()) fileSendingChanged();
    }
}

void onSendingMoreDue(unsigned connection) {
    // A turn asked for by a connection that ended is not this one's.
    if (connection != static_cast<unsigned>(outgoingConnection()) || !moreScheduled) return;
    moreScheduled = false;
    sendWaitingBytes();
}

void chooseEnterEnding(EnterEnding ending) {
    enterEnding = ending;
    checkProgramItem(IDM_ENTER_CR, ending == ENTER_CR);
    checkProgramItem(IDM_ENTER_LF, ending == ENTER_LF);
    checkProgramItem(IDM_ENTER_CR_LF, ending == ENTER_CR_LF);
}

void toggleLocalEcho() {
    localEcho = !localEcho;
    checkProgramItem(IDM_LOCAL_ECHO, localEcho);
}

void sendTypedChar(int ch) {
    if (peerSocket == NO_SOCKET) return;
    const std::string bytes = ch == 13 ? enterBytes() : std::string(1, static_cast<char>(ch & 0xFF));
    const bool nothingWaited = !somethingWaits();
    if (!queueRun(bytes, 0)) {
        soundRefusal();
        return;
    }
    echoQueued(bytes);
    sendQueuedNowIfFirst(nothingWaited);
}

void pasteClipboardText() {
    if (peerSocket == NO_SOCKET) {
        soundRefusal();
        return;
    }
    std::size_t length = 0;
    const char* text = borrowClipboardText(&length);
    std::string bytes;
    const bool made = text != nullptr && length > 0 && pastedBytes(text, length, queueRoom(), &bytes);
    releaseClipboardText();
    const bool nothingWaited = !somethingWaits();
    if (!made || !queueRun(bytes, 0)) {
        soundRefusal();
        return;
    }
    echoQueued(bytes);
    sendQueuedNowIfFirst(nothingWaited);
}

SendOutcome queueReply(const std::string& bytes, int rule) {
    if (peerSocket == NO_SOCKET) return SEND_WITHOUT_PEER;
    return queueRun(bytes, rule) ? SEND_QUEUED : SEND_WITHOUT_ROOM;
}

SendOutcome sendReply(const std::string& bytes, int rule) {
    const bool nothingWaited = !somethingWaits();
    const SendOutcome outcome = queueReply(bytes, rule);
    if (outcome == SEND_QUEUED) sendQueuedNowIfFirst(nothingWaited);
    return outcome;
}

SendOutcome sendBytes(const std::string& bytes) {
    if (peerSocket == NO_SOCKET) return SEND_WITHOUT_PEER;
    const bool nothingWaited = !somethingWaits();
    if (!queueRun(bytes, 0)) {
        soundRefusal();
        return SEND_WITHOUT_ROOM;
    }
    echoQueued(bytes);
    sendQueuedNowIfFirst(nothingWaited);
    return SEND_QUEUED;
}

std::size_t bytesWaitingToSend() {
    return queueCount;
}

std::size_t queueRoom() {
    return SEND_QUEUE_SIZE - queueCount;
}

bool peerConnected() {
    return peerSocket != NO_SOCKET;
}

bool startSendingFile(const std::string& path, std::uint64_t chosenFor) {
    if (fileGoing()) return false;
    // The separators are ASCII, which no other character's UTF-8 bytes hold.
    const std::size_t folder = path.find_last_of("\\/:");
    const std::string name = folder == std::string::npos ? path : path.substr(folder + 1);
    if (chosenFor == 0 || chosenFor != outgoingConnection()) {
        // The connection it was chosen for ended meanwhile: not a byte goes to another.
        file = FileSending{FILE_WITHOUT_CONNECTION, name, 0, 0};
        fileSendingChanged();
        return false;
    }
    const FileHandle opened = openFileToSend(path.c_str());
    std::uint64_t size = 0;
    if (opened == NO_FILE || !fileSizeOf(opened, &size)) {
        if (opened != NO_FILE) closeFile(opened);
        showErrorBox((FILE_UNREADABLE_TEXT + path).c_str(), FILE_UNREADABLE_CAPTION);
        return false;
    }
    fileHandle = opened;
    file = FileSending{FILE_GOING, name, size, 0};
    pieceLength = 0;
    pieceSent = 0;
    const bool nothingWaited = queueCount == 0;
    queuedBeforeFile = queueCount;
    fileSendingChanged();
    sendQueuedNowIfFirst(nothingWaited);
    return true;
}

void stopSendingFile() {
    if (!fileGoing()) return;
    // The bytes queued before the file still go first; those after it follow.
    endFile(FILE_STOPPED);
}

const FileSending& fileSending() {
    return file;
}

std::string fileSendingText(const FileSending& sending) {
    const std::string sent = groupedCount(sending.sent) + " / ";
    switch (sending.state) {
    case FILE_GOING: return sending.name + " : " + sent + countInWords(sending.size, "octet");
    case FILE_SENT: return sending.name + " : " + countInWords(sending.sent, "octet envoye");
    case FILE_STOPPED: return sending.name + " : arrete, " + sent + countInWords(sending.size, "octet envoye");
    case FILE_CUT_OFF:
        return sending.name + " : connexion terminee, " + sent + countInWords(sending.size, "octet envoye");
    case FILE_WITHOUT_CONNECTION: return sending.name + " : connexion terminee, rien n'est parti";
    default: return std::string();
    }
}
