// The conversation with the peer as a pcapng file that packet analysers open: a
// section, two interfaces with microsecond times (raw IPv4 packets, then raw IPv6
// packets), and each connection as a TCP stream between its real ends on the
// interface of their family, its bytes in segments of the side that sent them, with a
// made-up handshake and close, and true checksums.
//
// The writer only makes blocks: each is appended whole to a buffer, which its owner
// writes out as it likes, so the file is readable as it stands between blocks.
#ifndef ORU_PCAPNG_H
#define ORU_PCAPNG_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "net/endpoint.h"

// The most payload bytes of one segment: what an IPv4 packet of 65,535 bytes holds
// after its own header and TCP's (an IPv6 packet's payload of 65,535 bytes holds the
// TCP header and as many).
const std::size_t MOST_SEGMENT_PAYLOAD = 65495;
// The link types of raw IPv4 and raw IPv6 packets, the interfaces that carry them
// (numbered in the order they are described), and the block types written.
const std::uint16_t LINKTYPE_IPV4 = 228;
const std::uint16_t LINKTYPE_IPV6 = 229;
const std::uint32_t IPV4_INTERFACE = 0;
const std::uint32_t IPV6_INTERFACE = 1;
const std::uint32_t SECTION_HEADER_BLOCK = 0x0A0D0D0A;
const std::uint32_t INTERFACE_DESCRIPTION_BLOCK = 1;
const std::uint32_t ENHANCED_PACKET_BLOCK = 6;

typedef std::vector<unsigned char> PcapBytes;

// A section header and the two interfaces (raw IPv4, raw IPv6; microseconds).
void appendPcapngStart(PcapBytes& out);

// One connection as a TCP stream between the local end and the peer. Its packets are
// of the peer's family (the local end is of the same), the IPv6 scope not written.
// Sequence numbers count each direction's bytes from its made-up initial number.
struct TcpStream {
    Endpoint local;
    Endpoint peer;
    std::uint32_t localNext;  // the next sequence number of each side
    std::uint32_t peerNext;
    std::uint16_t localPacketId;  // the IPv4 identification of each side's next packet
    std::uint16_t peerPacketId;
};

// Times are microseconds since 1970-01-01 UTC. A comment, when not empty, goes with
// the packet as its opt_comment.
// The stream's start, from the side that opened it (the program when `openedHere`,
// else the peer): its SYN, the other side's SYN-ACK, its ACK. The comment goes with
// the SYN.
TcpStream openTcpStream(PcapBytes& out, const Endpoint& local, const Endpoint& peer, bool openedHere,
                        std::uint64_t time, const std::string& comment);
// A stream whose start is not known: it begins at its first bytes, without a handshake.
TcpStream tcpStreamFromHere(const Endpoint& local, const Endpoint& peer);
// Bytes one side sent, in segments of at most MOST_SEGMENT_PAYLOAD bytes, PSH/ACK;
// the comment goes with the first.
void appendTcpBytes(PcapBytes& out, TcpStream& stream, bool fromPeer, const unsigned char* bytes,
                    std::size_t count, std::uint64_t time, const std::string& comment);
// The stream's end: a FIN/ACK from the peer when it closed; the program's FIN/ACK and
// the peer's answering one when the program closed it; a RST from the peer when it
// reset the connection.
void closeTcpStream(PcapBytes& out, TcpStream& stream, TcpEnding ending, std::uint64_t time,
                    const std::string& comment);

// The checksum of the Internet protocols over `count` bytes, added to `sum`.
std::uint32_t addToInternetSum(std::uint32_t sum, const unsigned char* bytes, std::size_t count);
std::uint16_t foldInternetSum(std::uint32_t sum);

#endif
