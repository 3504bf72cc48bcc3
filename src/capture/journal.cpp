#include "capture/journal.h"

#include <map>
#include <string>

#include "terminal/received_bytes.h"
#include "ui/resource.h"
#include "words.h"

namespace {

FileHandle journalFile = NO_FILE;
std::string journalName;
PcapBytes waiting;  // whole blocks not yet written

// The connection now, journalled or not, so that a journal started while it is open
// can give it its start.
bool connectionOpen = false;
Endpoint localEnd = {};
Endpoint peerEnd = {};
bool openedHereNow = false;  // the program opened it, else the peer did
std::uint64_t bytesBefore[2] = {0, 0};  // received, sent: while the journal was not running
TcpStream stream = {};
bool streamStarted = false;  // the journal holds the connection's start

std::uint64_t now() {
    return static_cast<std::uint64_t>(utcMicroseconds());
}

void writeOut() {
    if (journalFile == NO_FILE || waiting.empty()) return;
    const bool written = writeFileBytes(journalFile, waiting.data(), waiting.size());
    waiting.clear();
    if (written) return;
    const std::string name = journalName;
    stopJournal();
    showErrorBox((JOURNAL_WRITE_FAILED_TEXT + name).c_str(), JOURNAL_CAPTION);
}

void madeBlocks() {
    if (waiting.size() >= JOURNAL_PIECE) writeOut();
}

void showJournalItem(bool running) {
    checkProgramItem(IDM_JOURNAL, running);
    renameProgramItem(IDM_JOURNAL, running ? JOURNAL_STOP_ITEM_TEXT : JOURNAL_ITEM_TEXT);
}

void startStream(const std::string& comment) {
    stream = openTcpStream(waiting, localEnd, peerEnd, openedHereNow, now(), comment);
    streamStarted = true;
}

}  // namespace

bool journalRunning() {
    return journalFile != NO_FILE;
}

void startJournal(FileHandle file, const std::string& name) {
    journalFile = file;
    journalName = name;
    waiting.clear();
    appendPcapngStart(waiting);
    streamStarted = false;
    if (connectionOpen) {
        startStream(connectionStartText(peerEnd, openedHereNow) + ", journal commence apres " +
                    countInWords(bytesBefore[0], "octet recu") + " et " + countInWords(bytesBefore[1], "octet envoye"));
    }
    scheduleJournalTimer(JOURNAL_WRITE_MS);
    showJournalItem(true);
    writeOut();
}

void stopJournal() {
    if (journalFile == NO_FILE) return;
    FileHandle file = journalFile;
    if (!waiting.empty() && writeFileBytes(file, waiting.data(), waiting.size())) waiting.clear();
    journalFile = NO_FILE;
    waiting.clear();
    closeFile(file);
    cancelJournalTimer();
    streamStarted = false;
    showJournalItem(false);
}

void onJournalCommand() {
    if (journalRunning()) {
        stopJournal();
        return;
    }
    const std::string path = choosePcapngFile("Journal pcapng");
    if (path.empty()) return;
    const FileHandle file = openFileToReplace(path.c_str());
    if (file == NO_FILE) {
        showErrorBox((JOURNAL_OPEN_FAILED_TEXT + path).c_str(), JOURNAL_CAPTION);
        return;
    }
    startJournal(file, path);
}

void journalConnectionOpened(const Endpoint& local, const Endpoint& peer, bool openedHere) {
    connectionOpen = true;
    localEnd = local;
    peerEnd = peer;
    openedHereNow = openedHere;
    bytesBefore[0] = bytesBefore[1] = 0;
    if (!journalRunning()) return;
    startStream(connectionStartText(peerEnd, openedHereNow));
    madeBlocks();
}

void journalBytes(bool received, const unsigned char* bytes, std::size_t count, int rule) {
    if (count == 0) return;
    if (!journalRunning() || !streamStarted) {
        bytesBefore[received ? 0 : 1] += count;
        return;
    }
    const std::string comment = rule > 0 ? "(regle " + std::to_string(rule) + ")" : std::string();
    appendTcpBytes(waiting, stream, received, bytes, count, now(), comment);
    madeBlocks();
}

void journalConnectionEnded(TcpEnding ending) {
    if (!connectionOpen) return;
    connectionOpen = false;
    if (!journalRunning() || !streamStarted) return;
    closeTcpStream(waiting, stream, ending, now(), CONNECTION_END_TEXT);
    streamStarted = false;
    madeBlocks();
}

void appendKeptBytesAsPcapng(PcapBytes& out) {
    appendPcapngStart(out);
    std::map<std::uint32_t, TcpStream> streams;  // by connection, once begun
    for (std::uint64_t index = firstKeptRecord(); index < keptRecordsEnd(); ++index) {
        const KeptRecord r = keptRecord(index);
        const auto found = streams.find(r.connection);
        if (r.kind == KEPT_OPENED) {
            streams[r.connection] = openTcpStream(out, r.local, r.peer, r.openedHere,
                                                  static_cast<std::uint64_t>(r.utc),
                                                  connectionStartText(r.peer, r.openedHere));
        } else if (r.kind == KEPT_ENDED) {
            if (found == streams.end()) continue;  // nothing of it is kept
            closeTcpStream(out, found->second, r.ending, static_cast<std::uint64_t>(r.utc), CONNECTION_END_TEXT);
            streams.erase(found);
        } else {
            if (found == streams.end()) streams[r.connection] = tcpStreamFromHere(r.local, r.peer);
            TcpStream& s = streams[r.connection];
            const bool received = r.kind == KEPT_RECEIVED;
            const std::string comment = r.rule > 0 ? "(regle " + std::to_string(r.rule) + ")" : std::string();
            const std::uint64_t time = static_cast<std::uint64_t>(r.utc);
            appendTcpBytes(out, s, received, r.bytes, r.count, time, comment);
            appendTcpBytes(out, s, received, r.moreBytes, r.moreCount, time, std::string());
        }
    }
}

void onSaveKeptBytesCommand() {
    const std::string path = choosePcapngFile("Enregistrer les octets");
    if (path.empty()) return;
    PcapBytes out;
    appendKeptBytesAsPcapng(out);
    const FileHandle file = openFileToReplace(path.c_str());
    const bool written = file != NO_FILE && writeFileBytes(file, out.data(), out.size());
    if (file != NO_FILE) closeFile(file);
    if (!written) showErrorBox((SAVE_OCTETS_FAILED_TEXT + path).c_str(), JOURNAL_CAPTION);
}

void onJournalTimerDue() {
    writeOut();
}
