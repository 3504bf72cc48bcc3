// The received bytes as they came: the latest RECEIVED_BYTES_KEPT of them in a ring,
// with a record of each received chunk (its arrival time and where its bytes start)
// and of each connection's start and end. The octet view's rows are made from
// them, one row when it is asked for; nothing is allocated while bytes arrive.
//
// Rows are numbered from the first one ever made. A chunk makes a header row and a
// row for every 16 of its bytes; a connection's start or end makes one row. The
// rows kept begin with the oldest record from which on every chunk's bytes and
// record are still kept.
#ifndef ORU_RECEIVED_BYTES_H
#define ORU_RECEIVED_BYTES_H

#include <cstddef>
#include <cstdint>

const std::size_t RECEIVED_BYTES_KEPT = 4u << 20;
const std::size_t RECEIVED_RECORDS_KEPT = 1u << 17;
const int OCTETS_PER_ROW = 16;
// Where a byte row's text starts (0-based): the 61st column.
const int OCTET_TEXT_COLUMN = 60;
// The longest row: the byte row's text column and its 16 bytes.
const int OCTET_ROW_LENGTH = OCTET_TEXT_COLUMN + OCTETS_PER_ROW;

// ---- keeping, on the link's receive path --------------------------------------------
// A peer was accepted (address in network order, port in host order).
void keepConnectionOpened(std::uint32_t address, std::uint16_t port);
// The connection ended: by the peer, by an error, by the person or at close.
void keepConnectionEnded();
// One receive's bytes, whole.
void keepReceivedChunk(const unsigned char* bytes, std::size_t count);
// Nothing kept, as at start-up.
void forgetReceivedBytes();

// ---- the octet rows -----------------------------------------------------------------
// The first row kept and the row after the newest.
std::uint64_t firstKeptOctetRow();
std::uint64_t octetRowsEnd();
// Writes kept row `row` into `columns` cells: the row's text, cut at `columns`, then
// blanks.
void formatOctetRow(std::uint64_t row, unsigned char* cells, int columns);

#endif
