// The journal: every connection's packets, both directions, appended as they happen
// to a pcapng file the person chose (pcapng.h), beside the capture and apart from it.
// What is made waits in a buffer written out in large pieces: when it grows past
// JOURNAL_PIECE, at least once a second, and when the journal stops.
#ifndef ORU_JOURNAL_H
#define ORU_JOURNAL_H

#include <cstddef>
#include <cstdint>

#include "capture/pcapng.h"
#include "platform.h"

const std::size_t JOURNAL_PIECE = 1u << 20;
const int JOURNAL_WRITE_MS = 1000;
const char JOURNAL_WRITE_FAILED_TEXT[] = "Le journal pcapng est arrete : impossible d'ecrire dans ";
const char JOURNAL_CAPTION[] = "erreur";

const char JOURNAL_OPEN_FAILED_TEXT[] = "Impossible de creer le journal pcapng ";
const char JOURNAL_ITEM_TEXT[] = "Journal pcapng...";
const char JOURNAL_STOP_ITEM_TEXT[] = "Arreter le journal pcapng";

bool journalRunning();
// Starts on `file`, just made empty, named `name` (for a box). With a connection
// open now, it gets its made-up start at once, saying what went each way before.
void startJournal(FileHandle file, const std::string& name);
// Writes out what waits and closes the file.
void stopJournal();
// The system menu's journal item: asks for a file and starts, or stops.
void onJournalCommand();

// ---- the bytes kept, saved ----------------------------------------------------------
const char SAVE_OCTETS_FAILED_TEXT[] = "Impossible d'enregistrer les octets dans ";
// The pcapng file of what the octet view holds: each connection's stream, begun with
// its handshake from the side that opened it where its start is kept, else at its
// first kept bytes.
void appendKeptBytesAsPcapng(PcapBytes& out);
// The system menu's "Enregistrer les octets...": asks for a file and writes it.
void onSaveKeptBytesCommand();

// ---- the link's side ----------------------------------------------------------------
// A connection began: the peer came in, or the program opened it (`openedHere`).
void journalConnectionOpened(const Endpoint& local, const Endpoint& peer, bool openedHere);
void journalBytes(bool received, const unsigned char* bytes, std::size_t count, int rule);
void journalConnectionEnded(TcpEnding ending);
// The journal's timer: what waits is written out.
void onJournalTimerDue();

#endif
