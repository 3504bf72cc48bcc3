#include "capture/pcapng.h"

#include <cstring>

namespace {

const std::uint16_t OPTION_END = 0;
const std::uint16_t OPTION_COMMENT = 1;
const std::uint16_t OPTION_TIME_RESOLUTION = 9;
const unsigned char MICROSECONDS = 6;

const unsigned char TCP_FIN = 0x01;
const unsigned char TCP_SYN = 0x02;
const unsigned char TCP_RST = 0x04;
const unsigned char TCP_PSH = 0x08;
const unsigned char TCP_ACK = 0x10;

const std::size_t IPV4_HEADER = 20;
const std::size_t IPV6_HEADER = 40;
const std::size_t TCP_HEADER = 20;
const unsigned char PROTOCOL_TCP = 6;
const unsigned char HOP_LIMIT = 64;  // IPv4's time to live, IPv6's hop limit
const std::uint16_t TCP_WINDOW = 65535;
// The made-up initial sequence numbers of the two sides.
const std::uint32_t PEER_FIRST_SEQUENCE = 0x10000000;
const std::uint32_t LOCAL_FIRST_SEQUENCE = 0x20000000;

// pcapng blocks are written in this machine's order, which its section header's
// magic tells readers; the program runs on little-endian machines only.
void put16(PcapBytes& out, std::uint16_t value) {
    out.push_back(static_cast<unsigned char>(value));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

void put32(PcapBytes& out, std::uint32_t value) {
    put16(out, static_cast<std::uint16_t>(value));
    put16(out, static_cast<std::uint16_t>(value >> 16));
}

void padTo4(PcapBytes& out) {
    while (out.size() % 4 != 0) out.push_back(0);
}

// Network order, for the packets themselves.
void putBig16(unsigned char* at, std::uint16_t value) {
    at[0] = static_cast<unsigned char>(value >> 8);
    at[1] = static_cast<unsigned char>(value);
}

void putBig32(unsigned char* at, std::uint32_t value) {
    putBig16(at, static_cast<std::uint16_t>(value >> 16));
    putBig16(at + 2, static_cast<std::uint16_t>(value));
}

void putOption(PcapBytes& out, std::uint16_t code, const void* value, std::size_t length) {
    put16(out, code);
    put16(out, static_cast<std::uint16_t>(length));
    const unsigned char* bytes = static_cast<const unsigned char*>(value);
    out.insert(out.end(), bytes, bytes + length);
    padTo4(out);
}

// A block's type and a place for its length, then its body, then the length twice.
std::size_t beginBlock(PcapBytes& out, std::uint32_t type) {
    const std::size_t start = out.size();
    put32(out, type);
    put32(out, 0);
    return start;
}

void endBlock(PcapBytes& out, std::size_t start) {
    const std::uint32_t length = static_cast<std::uint32_t>(out.size() - start + 4);
    put32(out, length);
    for (int i = 0; i < 4; ++i) out[start + 4 + static_cast<std::size_t>(i)] = static_cast<unsigned char>(length >> (8 * i));
}

// A comment longer than an option holds is cut.
void putComment(PcapBytes& out, const std::string& comment) {
    if (comment.empty()) return;
    putOption(out, OPTION_COMMENT, comment.data(), comment.size() < 0xFFFF ? comment.size() : 0xFFFF);
}

// One TCP segment as a raw IP packet of its ends' family in an Enhanced Packet Block.
struct Segment {
    const Endpoint& from;
    const Endpoint& to;
    bool ipv6;
    std::uint16_t packetId;
    std::uint32_t sequence;
    std::uint32_t acknowledged;
    unsigned char flags;
    const unsigned char* payload;
    std::size_t length;
};

void putIpv4Header(unsigned char* ip, const Segment& s) {
    ip[0] = 0x45;  // version 4, a header of five words
    putBig16(ip + 2, static_cast<std::uint16_t>(IPV4_HEADER + TCP_HEADER + s.length));
    putBig16(ip + 4, s.packetId);
    putBig16(ip + 6, 0x4000);  // don't fragment
    ip[8] = HOP_LIMIT;
    ip[9] = PROTOCOL_TCP;
    std::memcpy(ip + 12, s.from.address, 4);
    std::memcpy(ip + 16, s.to.address, 4);
    putBig16(ip + 10, foldInternetSum(addToInternetSum(0, ip, IPV4_HEADER)));
}

// Version 6, no traffic class, no flow label.
void putIpv6Header(unsigned char* ip, const Segment& s) {
    ip[0] = 0x60;
    putBig16(ip + 4, static_cast<std::uint16_t>(TCP_HEADER + s.length));
    ip[6] = PROTOCOL_TCP;
    ip[7] = HOP_LIMIT;
    std::memcpy(ip + 8, s.from.address, 16);
    std::memcpy(ip + 24, s.to.address, 16);
}

// The sum of the pseudo-header that TCP's checksum covers: the two addresses, the
// protocol and TCP's length, as each family lays them out.
std::uint32_t pseudoHeaderSum(const Segment& s) {
    const std::size_t tcpLength = TCP_HEADER + s.length;
    unsigned char pseudo[40] = {};
    if (!s.ipv6) {
        std::memcpy(pseudo, s.from.address, 4);
        std::memcpy(pseudo + 4, s.to.address, 4);
        pseudo[9] = PROTOCOL_TCP;
        putBig16(pseudo + 10, static_cast<std::uint16_t>(tcpLength));
        return addToInternetSum(0, pseudo, 12);
    }
    std::memcpy(pseudo, s.from.address, 16);
    std::memcpy(pseudo + 16, s.to.address, 16);
    putBig32(pseudo + 32, static_cast<std::uint32_t>(tcpLength));
    pseudo[39] = PROTOCOL_TCP;
    return addToInternetSum(0, pseudo, sizeof pseudo);
}

void appendSegment(PcapBytes& out, const Segment& s, std::uint64_t time, const std::string& comment) {
    const std::size_t ipHeader = s.ipv6 ? IPV6_HEADER : IPV4_HEADER;
    const std::size_t packetLength = ipHeader + TCP_HEADER + s.length;
    const std::size_t block = beginBlock(out, ENHANCED_PACKET_BLOCK);
    put32(out, s.ipv6 ? IPV6_INTERFACE : IPV4_INTERFACE);
    put32(out, static_cast<std::uint32_t>(time >> 32));
    put32(out, static_cast<std::uint32_t>(time));
    put32(out, static_cast<std::uint32_t>(packetLength));
    put32(out, static_cast<std::uint32_t>(packetLength));

    const std::size_t at = out.size();
    out.resize(at + ipHeader + TCP_HEADER);
    unsigned char* ip = out.data() + at;
    if (s.ipv6) putIpv6Header(ip, s);
    else putIpv4Header(ip, s);

    unsigned char* tcp = ip + ipHeader;
    putBig16(tcp, s.from.port);
    putBig16(tcp + 2, s.to.port);
    putBig32(tcp + 4, s.sequence);
    putBig32(tcp + 8, (s.flags & TCP_ACK) != 0 ? s.acknowledged : 0);
    tcp[12] = 5 << 4;  // a header of five words
    tcp[13] = s.flags;
    putBig16(tcp + 14, TCP_WINDOW);
    std::uint32_t sum = pseudoHeaderSum(s);
    sum = addToInternetSum(sum, tcp, TCP_HEADER);
    sum = addToInternetSum(sum, s.payload, s.length);
    putBig16(tcp + 16, foldInternetSum(sum));

    out.insert(out.end(), s.payload, s.payload + s.length);
    padTo4(out);
    putComment(out, comment);
    if (!comment.empty()) put32(out, OPTION_END);
    endBlock(out, block);
}

// A segment of one side, its sequence number moving on by `advance`.
void appendFromSide(PcapBytes& out, TcpStream& stream, bool fromPeer, unsigned char flags,
                    const unsigned char* payload, std::size_t length, std::uint32_t advance,
                    std::uint64_t time, const std::string& comment) {
    std::uint32_t& next = fromPeer ? stream.peerNext : stream.localNext;
    std::uint16_t& id = fromPeer ? stream.peerPacketId : stream.localPacketId;
    const Segment segment = {fromPeer ? stream.peer : stream.local,
                             fromPeer ? stream.local : stream.peer,
                             stream.peer.family == FAMILY_IPV6,
                             id,
                             next,
                             fromPeer ? stream.localNext : stream.peerNext,
                             flags,
                             payload,
                             length};
    appendSegment(out, segment, time, comment);
    next += advance;
    id++;
}

// An interface of one link type, times in microseconds.
void appendInterface(PcapBytes& out, std::uint16_t linkType) {
    const std::size_t block = beginBlock(out, INTERFACE_DESCRIPTION_BLOCK);
    put16(out, linkType);
    put16(out, 0);
    put32(out, 0);  // no snapshot length: packets are whole
    putOption(out, OPTION_TIME_RESOLUTION, &MICROSECONDS, 1);
    put32(out, OPTION_END);
    endBlock(out, block);
}

}  // namespace

std::uint32_t addToInternetSum(std::uint32_t sum, const unsigned char* bytes, std::size_t count) {
    // Words are added four bytes at a time in this machine's order and the folded sum
    // turned round: the ones' complement sum is the same in either byte order. The sum
    // given is folded first, so that any number of calls may follow one another.
    sum = (sum & 0xFFFF) + (sum >> 16);
    std::uint64_t wide = 0;
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        std::uint32_t word;
        std::memcpy(&word, bytes + i, 4);
        wide += word;
    }
    while (wide >> 16 != 0) wide = (wide & 0xFFFF) + (wide >> 16);
    sum += static_cast<std::uint32_t>((wide & 0xFF) << 8 | wide >> 8);
    for (; i + 1 < count; i += 2) sum += static_cast<std::uint32_t>(bytes[i]) << 8 | bytes[i + 1];
    if (i < count) sum += static_cast<std::uint32_t>(bytes[i]) << 8;
    return sum;
}

std::uint16_t foldInternetSum(std::uint32_t sum) {
    while (sum >> 16 != 0) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

void appendPcapngStart(PcapBytes& out) {
    const std::size_t block = beginBlock(out, SECTION_HEADER_BLOCK);
    put32(out, 0x1A2B3C4D);  // the byte-order magic
    put16(out, 1);
    put16(out, 0);
    put32(out, 0xFFFFFFFF);  // the section's length is not known
    put32(out, 0xFFFFFFFF);
    endBlock(out, block);

    appendInterface(out, LINKTYPE_IPV4);
    appendInterface(out, LINKTYPE_IPV6);
}

TcpStream tcpStreamFromHere(const Endpoint& local, const Endpoint& peer) {
    return TcpStream{local, peer, LOCAL_FIRST_SEQUENCE, PEER_FIRST_SEQUENCE, 1, 1};
}

TcpStream openTcpStream(PcapBytes& out, const Endpoint& local, const Endpoint& peer, bool openedHere,
                        std::uint64_t time, const std::string& comment) {
    TcpStream stream = tcpStreamFromHere(local, peer);
    stream.localNext--;  // each SYN takes one sequence number
    stream.peerNext--;
    const bool peerOpened = !openedHere;
    appendFromSide(out, stream, peerOpened, TCP_SYN, nullptr, 0, 1, time, comment);
    appendFromSide(out, stream, !peerOpened, TCP_SYN | TCP_ACK, nullptr, 0, 1, time, std::string());
    appendFromSide(out, stream, peerOpened, TCP_ACK, nullptr, 0, 0, time, std::string());
    return stream;
}

void appendTcpBytes(PcapBytes& out, TcpStream& stream, bool fromPeer, const unsigned char* bytes,
                    std::size_t count, std::uint64_t time, const std::string& comment) {
    for (std::size_t at = 0; at < count; at += MOST_SEGMENT_PAYLOAD) {
        const std::size_t length = count - at < MOST_SEGMENT_PAYLOAD ? count - at : MOST_SEGMENT_PAYLOAD;
        appendFromSide(out, stream, fromPeer, TCP_PSH | TCP_ACK, bytes + at, length,
                       static_cast<std::uint32_t>(length), time, at == 0 ? comment : std::string());
    }
}

void closeTcpStream(PcapBytes& out, TcpStream& stream, TcpEnding ending, std::uint64_t time,
                    const std::string& comment) {
    switch (ending) {
    case RESET_BY_PEER: appendFromSide(out, stream, true, TCP_RST | TCP_ACK, nullptr, 0, 0, time, comment); break;
    case CLOSED_BY_PEER: appendFromSide(out, stream, true, TCP_FIN | TCP_ACK, nullptr, 0, 1, time, comment); break;
    case CLOSED_HERE:
        appendFromSide(out, stream, false, TCP_FIN | TCP_ACK, nullptr, 0, 1, time, comment);
        appendFromSide(out, stream, true, TCP_FIN | TCP_ACK, nullptr, 0, 1, time, std::string());
        break;
    }
}
