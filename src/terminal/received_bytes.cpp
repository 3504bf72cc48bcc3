#include "terminal/received_bytes.h"

#include <algorithm>
#include <cstring>

#include "platform.h"
#include "terminal/colours.h"
#include "words.h"

namespace {

const long long MILLISECONDS_A_DAY = 24LL * 60 * 60 * 1000;

enum RecordKind : unsigned char { RECEIVED_RECORD, SENT_RECORD, OPENED_RECORD, ENDED_RECORD };

bool isChunk(RecordKind kind) {
    return kind == RECEIVED_RECORD || kind == SENT_RECORD;
}

struct ReceivedRecord {
    long long time;            // local time, localTimeMilliseconds
    std::uint64_t firstRow;    // the record's first row
    std::uint64_t firstByte;   // a chunk's first byte, counted over all bytes received
    std::uint64_t offset;      // a chunk's first byte since its connection began, its way
    std::uint32_t size;        // a chunk's bytes
    std::int64_t interval;     // milliseconds since the record before of the connection, or -1
    std::uint16_t rule;        // a send of a reply rule: its number; 0 otherwise
    RecordKind kind;
    unsigned char ending;      // an end: how (TcpEnding)
    std::uint32_t connection;  // its connection's number
    long long utc;             // microseconds since 1970, utcMicroseconds
};

// The ends of the connections that records may still name: a kept record's
// connection has at most one record for each connection after it but the newest's,
// and two or more otherwise (its start and end), so this many are enough. A start's
// record reads its peer and its side here.
const std::size_t CONNECTIONS_KEPT = RECEIVED_RECORDS_KEPT / 2 + 2;
struct ConnectionEnds {
    Endpoint local;
    Endpoint peer;
    bool openedHere;
};
ConnectionEnds connectionEnds[CONNECTIONS_KEPT];
std::uint32_t connectionsOpened = 0;

unsigned char byteRing[RECEIVED_BYTES_KEPT];
ReceivedRecord records[RECEIVED_RECORDS_KEPT];
std::uint64_t bytesReceived = 0;  // every byte ever kept: the ring holds the latest
std::uint64_t recordsMade = 0;    // every record ever made: the ring holds the latest
std::uint64_t rowsMade = 0;
// The oldest record shown: from it on, every chunk's bytes are kept.
std::uint64_t firstShownRecord = 0;
// The oldest chunk record not yet found cut (or recordsMade): the records before
// it are marks or cut chunks.
std::uint64_t cutScan = 0;
// The connection now: its bytes so far each way, and the moment (monotonic) of its
// last record while there is one.
std::uint64_t connectionBytes[2] = {0, 0};  // received, sent
bool connectionHasRecord = false;
long long lastRecordMoment = 0;

ReceivedRecord& recordAt(std::uint64_t index) {
    return records[index % RECEIVED_RECORDS_KEPT];
}

const ConnectionEnds& endsOf(const ReceivedRecord& r) {
    return connectionEnds[r.connection % CONNECTIONS_KEPT];
}

std::uint64_t rowsOf(const ReceivedRecord& r) {
    if (!isChunk(r.kind)) return 1;
    return 1 + (r.size + OCTETS_PER_ROW - 1) / OCTETS_PER_ROW;
}

// A new record, the oldest going first when the ring is full. Its rows follow.
ReceivedRecord& newRecord(RecordKind kind) {
    if (recordsMade >= RECEIVED_RECORDS_KEPT && firstShownRecord <= recordsMade - RECEIVED_RECORDS_KEPT) {
        firstShownRecord = recordsMade - RECEIVED_RECORDS_KEPT + 1;
    }
    ReceivedRecord& r = recordAt(recordsMade++);
    r = ReceivedRecord{localTimeMilliseconds(), rowsMade, bytesReceived, 0, 0, -1, 0, kind,
                       CLOSED_HERE, connectionsOpened, utcMicroseconds()};
    return r;
}

// The chunks whose first bytes the ring no longer holds leave the view, with
// every record before them.
void dropCutChunks() {
    const std::uint64_t oldestKept = bytesReceived > RECEIVED_BYTES_KEPT ? bytesReceived - RECEIVED_BYTES_KEPT : 0;
    if (cutScan < firstShownRecord) cutScan = firstShownRecord;
    for (; cutScan < recordsMade; ++cutScan) {
        const ReceivedRecord& r = recordAt(cutScan);
        if (!isChunk(r.kind)) continue;
        if (r.firstByte >= oldestKept) break;
        firstShownRecord = cutScan + 1;
    }
}

void storeBytes(const unsigned char* bytes, std::size_t count) {
    if (count > RECEIVED_BYTES_KEPT) {  // only the last ring-full can be kept
        bytes += count - RECEIVED_BYTES_KEPT;
        bytesReceived += count - RECEIVED_BYTES_KEPT;
        count = RECEIVED_BYTES_KEPT;
    }
    const std::size_t at = static_cast<std::size_t>(bytesReceived % RECEIVED_BYTES_KEPT);
    const std::size_t first = count < RECEIVED_BYTES_KEPT - at ? count : RECEIVED_BYTES_KEPT - at;
    std::memcpy(byteRing + at, bytes, first);
    std::memcpy(byteRing, bytes + first, count - first);
    bytesReceived += count;
}

// The record found last: rows are mostly asked for one after another (a page, a
// search), so it or one of its neighbours holds the next one.
std::uint64_t recordFoundLast = 0;

bool holds(std::uint64_t index, std::uint64_t row) {
    return index >= firstShownRecord && index < recordsMade && recordAt(index).firstRow <= row &&
           (index + 1 == recordsMade || recordAt(index + 1).firstRow > row);
}

// The record whose rows hold `row`, among those shown.
const ReceivedRecord& recordHolding(std::uint64_t row) {
    const std::uint64_t near[3] = {recordFoundLast, recordFoundLast + 1, recordFoundLast - 1};
    for (std::uint64_t index : near) {
        if (holds(index, row)) {
            recordFoundLast = index;
            return recordAt(index);
        }
    }
    std::uint64_t low = firstShownRecord;
    std::uint64_t high = recordsMade - 1;
    while (low < high) {
        const std::uint64_t middle = low + (high - low + 1) / 2;
        if (recordAt(middle).firstRow <= row) low = middle;
        else high = middle - 1;
    }
    recordFoundLast = low;
    return recordAt(low);
}

// ---- writing a row -------------------------------------------------------------

const char HEX_DIGITS[] = "0123456789ABCDEF";

// Writes `value` in `width` decimal digits, leading zeros kept; returns the column after.
int putDigits(char* line, int at, std::uint64_t value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        line[at + i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return at + width;
}

// Writes `value` in as many decimal digits as it takes.
int putNumber(char* line, int at, std::uint64_t value) {
    int width = 1;
    for (std::uint64_t rest = value / 10; rest > 0; rest /= 10) width++;
    return putDigits(line, at, value, width);
}

// Writes `text` from column `at`, cut at the row's end.
int putText(char* line, int at, const char* text) {
    const std::size_t room = at < OCTET_ROW_LENGTH ? static_cast<std::size_t>(OCTET_ROW_LENGTH - at) : 0;
    const std::size_t length = std::min(std::strlen(text), room);
    std::memcpy(line + at, text, length);
    return at + static_cast<int>(length);
}

// HH:MM:SS.mmm of `ms` milliseconds, less than a day.
int putClock(char* line, int at, std::uint64_t ms) {
    at = putDigits(line, at, ms / 3600000, 2);
    line[at++] = ':';
    at = putDigits(line, at, ms / 60000 % 60, 2);
    line[at++] = ':';
    at = putDigits(line, at, ms / 1000 % 60, 2);
    line[at++] = '.';
    return putDigits(line, at, ms % 1000, 3);
}

// HH:MM:SS.mmm of the time of day, then two blanks.
int putTimeOfDay(char* line, long long time) {
    long long ofDay = time % MILLISECONDS_A_DAY;
    if (ofDay < 0) ofDay += MILLISECONDS_A_DAY;
    return putText(line, putClock(line, 0, static_cast<std::uint64_t>(ofDay)), "  ");
}

// The time since the record before, then two blanks: in seconds below a day
// (+2.203 s), then in days and the time of a day (+2d 03:04:05.678).
int putInterval(char* line, int at, std::uint64_t ms) {
    const std::uint64_t aDay = static_cast<std::uint64_t>(MILLISECONDS_A_DAY);
    line[at++] = '+';
    if (ms >= aDay) {
        at = putNumber(line, at, ms / aDay);
        at = putText(line, at, "d ");
        at = putClock(line, at, ms % aDay);
        return putText(line, at, "  ");
    }
    at = putNumber(line, at, ms / 1000);
    line[at++] = '.';
    at = putDigits(line, at, ms % 1000, 3);
    return putText(line, at, " s  ");
}

int putMark(char* line, const ReceivedRecord& r) {
    const int at = putTimeOfDay(line, r.time);
    if (r.kind == ENDED_RECORD) return putText(line, at, CONNECTION_END_TEXT);
    const ConnectionEnds& ends = endsOf(r);
    return putText(line, at, connectionStartText(ends.peer, ends.openedHere).c_str());
}

int putChunkHeader(char* line, const ReceivedRecord& r) {
    int at = putTimeOfDay(line, r.time);
    if (r.interval >= 0) at = putInterval(line, at, static_cast<std::uint64_t>(r.interval));
    at = putText(line, at, countInWords(r.size, r.kind == SENT_RECORD ? "octet envoye" : "octet recu").c_str());
    if (r.rule > 0) at = putText(line, at, (" (regle " + std::to_string(r.rule) + ")").c_str());
    return at;
}

// Each byte's two hexadecimal digits and its character in the text column.
struct ByteCells {
    char hex[256][2];
    char text[256];
};

ByteCells makeByteCells() {
    ByteCells cells;
    for (int b = 0; b < 256; ++b) {
        cells.hex[b][0] = HEX_DIGITS[b >> 4];
        cells.hex[b][1] = HEX_DIGITS[b & 0xF];
        cells.text[b] = b >= 0x20 && b <= 0x7E ? static_cast<char>(b) : '.';
    }
    return cells;
}

const ByteCells byteCells = makeByteCells();

// OOOOOOOO  HH HH HH HH HH HH HH HH  HH HH HH HH HH HH HH HH  AAAAAAAAAAAAAAAA
// The offset shows its last 8 hexadecimal digits: it starts over every 4 GiB.
int putByteRow(char* line, const ReceivedRecord& r, std::uint32_t first) {
    const std::uint64_t offset = r.offset + first;
    for (int i = 0; i < OCTET_OFFSET_DIGITS; ++i) {
        line[i] = HEX_DIGITS[(offset >> (4 * (OCTET_OFFSET_DIGITS - 1 - i))) & 0xF];
    }
    const std::uint32_t left = r.size - first;
    const int count = left < static_cast<std::uint32_t>(OCTETS_PER_ROW) ? static_cast<int>(left) : OCTETS_PER_ROW;
    // The row's bytes in one piece, unless they pass the ring's end.
    unsigned char passing[OCTETS_PER_ROW];
    const std::size_t at = static_cast<std::size_t>((r.firstByte + first) % RECEIVED_BYTES_KEPT);
    const unsigned char* bytes = byteRing + at;
    if (at + static_cast<std::size_t>(count) > RECEIVED_BYTES_KEPT) {
        const std::size_t before = RECEIVED_BYTES_KEPT - at;
        std::memcpy(passing, byteRing + at, before);
        std::memcpy(passing + before, byteRing, static_cast<std::size_t>(count) - before);
        bytes = passing;
    }
    for (int i = 0; i < count; ++i) {
        const int column = OCTET_HEX_COLUMN + 3 * i + (i >= OCTETS_PER_ROW / 2 ? 1 : 0);
        std::memcpy(line + column, byteCells.hex[bytes[i]], 2);
        line[OCTET_TEXT_COLUMN + i] = byteCells.text[bytes[i]];
    }
    return OCTET_TEXT_COLUMN + count;
}

}  // namespace

std::string connectionStartText(const Endpoint& peer, bool openedHere) {
    return (openedHere ? CONNECTION_OPENED_HERE_TEXT : CONNECTION_START_TEXT) + endpointText(peer);
}

void keepConnectionOpened(const Endpoint& peer, const Endpoint& local, bool openedHere) {
    connectionsOpened++;
    connectionEnds[connectionsOpened % CONNECTIONS_KEPT] = ConnectionEnds{local, peer, openedHere};
    newRecord(OPENED_RECORD);
    rowsMade += 1;
    connectionBytes[0] = 0;
    connectionBytes[1] = 0;
    connectionHasRecord = true;
    lastRecordMoment = monotonicMilliseconds();
}

void keepConnectionEnded(TcpEnding ending) {
    newRecord(ENDED_RECORD).ending = static_cast<unsigned char>(ending);
    rowsMade += 1;
    connectionHasRecord = false;
}

namespace {

void keepChunk(RecordKind kind, const unsigned char* bytes, std::size_t count, int rule) {
    if (count == 0) return;
    ReceivedRecord& r = newRecord(kind);
    r.rule = static_cast<std::uint16_t>(rule);
    const int way = kind == SENT_RECORD ? 1 : 0;
    r.size = static_cast<std::uint32_t>(count);
    r.offset = connectionBytes[way];
    const long long moment = monotonicMilliseconds();
    if (connectionHasRecord) {
        const long long since = moment - lastRecordMoment;
        r.interval = since < 0 ? 0 : since;
    }
    connectionHasRecord = true;
    lastRecordMoment = moment;
    connectionBytes[way] += count;
    storeBytes(bytes, count);
    rowsMade += rowsOf(r);
    dropCutChunks();
}

}  // namespace

void keepReceivedChunk(const unsigned char* bytes, std::size_t count) {
    keepChunk(RECEIVED_RECORD, bytes, count, 0);
}

void keepSentChunk(const unsigned char* bytes, std::size_t count, int rule) {
    keepChunk(SENT_RECORD, bytes, count, rule);
}

void forgetReceivedBytes() {
    bytesReceived = 0;
    recordsMade = 0;
    rowsMade = 0;
    firstShownRecord = 0;
    cutScan = 0;
    connectionBytes[0] = 0;
    connectionBytes[1] = 0;
    connectionHasRecord = false;
    lastRecordMoment = 0;
    recordFoundLast = 0;
    connectionsOpened = 0;
}

std::uint64_t firstKeptRecord() {
    return firstShownRecord;
}

std::uint64_t keptRecordsEnd() {
    return recordsMade;
}

KeptRecord keptRecord(std::uint64_t index) {
    const ReceivedRecord& r = recordAt(index);
    const ConnectionEnds& ends = endsOf(r);
    const KeptKind kinds[] = {KEPT_RECEIVED, KEPT_SENT, KEPT_OPENED, KEPT_ENDED};
    KeptRecord kept = {kinds[r.kind], r.utc, r.connection, ends.local, ends.peer, ends.openedHere,
                       static_cast<TcpEnding>(r.ending), r.rule, nullptr, 0, nullptr, 0};
    if (isChunk(r.kind)) {
        const std::size_t at = static_cast<std::size_t>(r.firstByte % RECEIVED_BYTES_KEPT);
        const std::size_t first = r.size < RECEIVED_BYTES_KEPT - at ? r.size : RECEIVED_BYTES_KEPT - at;
        kept.bytes = byteRing + at;
        kept.count = first;
        kept.moreBytes = byteRing;
        kept.moreCount = r.size - first;
    }
    return kept;
}

std::uint64_t firstKeptOctetRow() {
    return firstShownRecord < recordsMade ? recordAt(firstShownRecord).firstRow : rowsMade;
}

std::uint64_t octetRowsEnd() {
    return rowsMade;
}

void formatOctetRow(std::uint64_t row, unsigned char* cells, int columns) {
    char shortRow[OCTET_ROW_LENGTH];
    // Written in place when the row fits, else cut from a row of its own.
    char* line = columns >= OCTET_ROW_LENGTH ? reinterpret_cast<char*>(cells) : shortRow;
    std::memset(line, BLANK, OCTET_ROW_LENGTH);
    int length = 0;
    if (row >= firstKeptOctetRow() && row < rowsMade) {
        const ReceivedRecord& r = recordHolding(row);
        const std::uint64_t within = row - r.firstRow;
        if (!isChunk(r.kind)) length = putMark(line, r);
        else if (within == 0) length = putChunkHeader(line, r);
        else length = putByteRow(line, r, static_cast<std::uint32_t>((within - 1) * OCTETS_PER_ROW));
    }
    if (line == shortRow) {
        const int shown = length < columns ? length : columns;
        std::memcpy(cells, line, static_cast<std::size_t>(shown));
        if (columns > shown) std::memset(cells + shown, BLANK, static_cast<std::size_t>(columns - shown));
    } else if (columns > OCTET_ROW_LENGTH) {
        std::memset(cells + OCTET_ROW_LENGTH, BLANK, static_cast<std::size_t>(columns - OCTET_ROW_LENGTH));
    }
}

namespace {

RowNumber firstOctetRow() {
    return static_cast<RowNumber>(firstKeptOctetRow());
}

RowNumber octetRowNumbersEnd() {
    return static_cast<RowNumber>(rowsMade);
}

// A row of a sent record is drawn in the colour of what was sent.
const CellColours* octetRowColours(RowNumber row, CellColours* scratch, int columns) {
    const std::uint64_t at = static_cast<std::uint64_t>(row);
    const bool sent = row >= 0 && at >= firstKeptOctetRow() && at < rowsMade && recordHolding(at).kind == SENT_RECORD;
    std::fill_n(scratch, columns, sent ? SENT_CELLS : PLAIN_CELLS);
    return scratch;
}

const unsigned char* octetRowCells(RowNumber row, unsigned char* scratch, int columns) {
    formatOctetRow(row < 0 ? rowsMade : static_cast<std::uint64_t>(row), scratch, columns);
    return scratch;
}

bool noOctetRowWritten(RowNumber, int*, int*) {
    return false;
}

void noWrittenOctetRows() {}

}  // namespace

const RowSource octetRows = {firstOctetRow,      octetRowNumbersEnd, octetRowCells,     octetRowColours,
                             octetRowNumbersEnd, noOctetRowWritten,  noWrittenOctetRows};
