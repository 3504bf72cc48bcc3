// The bytes exchanged with the peer as they came and went: the latest
// RECEIVED_BYTES_KEPT of them in a ring, with a record of each chunk (a receive, or
// a send the socket took: its time, its direction and where its bytes start) and of
// each connection's start and end. The octet view's rows are made from
// them, one row when it is asked for; nothing is allocated while bytes arrive.
//
// Rows are numbered from the first one ever made. A chunk makes a header row and a
// row for every 16 of its bytes; a connection's start or end makes one row, its
// text cut at the row's end (which only the longest IPv6 ends, with a scope, reach).
// The rows kept begin with the oldest record from which on every chunk's bytes and
// record are still kept. A chunk's header tells the time since the row above of the
// same connection (its start, a receive or a send), measured with the monotonic
// clock; the time of day shown is the local time. Offsets count each direction
// apart from the connection's start.
#ifndef ORU_RECEIVED_BYTES_H
#define ORU_RECEIVED_BYTES_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/endpoint.h"
#include "terminal/rows.h"

const std::size_t RECEIVED_BYTES_KEPT = 4u << 20;
const std::size_t RECEIVED_RECORDS_KEPT = 1u << 17;
const int OCTETS_PER_ROW = 16;
// A byte row: its offset in 8 hexadecimal digits, two blanks, each byte in two
// digits and a blank with one more blank after the eighth, one more blank, then the
// bytes as text. The hexadecimal starts in the 11th column, the text in the 61st.
const int OCTET_OFFSET_DIGITS = 8;
const int OCTET_HEX_COLUMN = OCTET_OFFSET_DIGITS + 2;
const int OCTET_TEXT_COLUMN = OCTET_HEX_COLUMN + 3 * OCTETS_PER_ROW + 2;
// The longest row: the byte row's text column and its 16 bytes.
const int OCTET_ROW_LENGTH = OCTET_TEXT_COLUMN + OCTETS_PER_ROW;

// The words of a connection's start, before its peer's address: a peer that came in,
// a peer the program opened the connection to; and the words of its end.
const char CONNECTION_START_TEXT[] = "Connexion de ";
const char CONNECTION_OPENED_HERE_TEXT[] = "Connexion a ";
const char CONNECTION_END_TEXT[] = "Fin de connexion";
// A connection's start as its mark in the octet rows and its comment in pcapng files
// tell it: "Connexion de 192.168.1.20:50123", "Connexion a [::1]:502".
std::string connectionStartText(const Endpoint& peer, bool openedHere);

// ---- keeping, on the link's receive path --------------------------------------------
// A connection began with `peer`, on the local end `local`: the peer came in, or the
// program opened it (`openedHere`).
void keepConnectionOpened(const Endpoint& peer, const Endpoint& local, bool openedHere);
// The connection ended: by the peer, by an error, by the person or at close.
void keepConnectionEnded(TcpEnding ending = CLOSED_HERE);
// One receive's bytes, whole.
void keepReceivedChunk(const unsigned char* bytes, std::size_t count);
// Bytes the socket took, in one send; `rule` is the reply rule that sent them
// (numbered from 1), 0 for the person's.
void keepSentChunk(const unsigned char* bytes, std::size_t count, int rule = 0);
// Nothing kept, as at start-up.
void forgetReceivedBytes();

// ---- the records kept, for a file of them ------------------------------------------
enum KeptKind { KEPT_RECEIVED, KEPT_SENT, KEPT_OPENED, KEPT_ENDED };
struct KeptRecord {
    KeptKind kind;
    long long utc;            // microseconds since 1970 (utcMicroseconds)
    std::uint32_t connection; // connections are numbered from 1, in the order they began
    Endpoint local;           // the connection's ends
    Endpoint peer;
    bool openedHere;          // the program opened the connection, else the peer did
    TcpEnding ending;         // an end's
    int rule;                 // a send's reply rule, 0 for the person's
    // A chunk's bytes, in one piece or two where they pass the ring's end.
    const unsigned char* bytes;
    std::size_t count;
    const unsigned char* moreBytes;
    std::size_t moreCount;
};
// The records shown in the octet view, oldest first: indexes from firstKeptRecord to
// keptRecordsEnd.
std::uint64_t firstKeptRecord();
std::uint64_t keptRecordsEnd();
KeptRecord keptRecord(std::uint64_t index);

// ---- the octet rows -----------------------------------------------------------------
// The first row kept and the row after the newest.
std::uint64_t firstKeptOctetRow();
std::uint64_t octetRowsEnd();
// Writes kept row `row` into `columns` cells: the row's text, cut at `columns`, then
// blanks.
void formatOctetRow(std::uint64_t row, unsigned char* cells, int columns);
// The octet rows as a source of rows (rows.h): rows are only ever appended, and the
// oldest dropped; none is written again. A sent chunk's rows are drawn as sent.
extern const RowSource octetRows;

#endif
