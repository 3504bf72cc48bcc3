// Fuzzes the pcapng writer: any series of connections, receives, sends and endings
// gives a file whose blocks read back, checksums true, to the same bytes, sides,
// times and comments, in segments no larger than a packet holds, with each side's
// sequence numbers following on and each acknowledgement the other side's next, and
// every packet of the connections' family on that family's interface.
//
// The first byte chooses the connections: bit 0 whether the first one's start is
// known (a handshake), bit 1 IPv6 ends rather than IPv4, bit 2 the program opened
// them rather than the peer. Then each record is a byte: its low 2 bits say what (0 bytes from the peer, 1 bytes from
// the program, 2 the connection ends and another begins, 3 time passes); for bytes,
// two more bytes give a count, multiplied by 1 + the record's bits 2-3, so that one
// record can need several segments; the bytes themselves are the input's, cycled. An
// ending is bits 2-3 (modulo 3); bit 4 says whether the next connection's start is
// known (a handshake) or not (the bytes kept no longer hold it).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture/pcapng.h"
#include "pcapng_reader.h"

namespace {

const std::size_t MOST_BYTES = 256u << 10;

// The two ends of each connection, of one family; the peer's port moves on with each.
Endpoint endOf(bool ipv6, unsigned char last, std::uint16_t port) {
    Endpoint end = {ipv6 ? FAMILY_IPV6 : FAMILY_IPV4, {}, port, ipv6 ? 7u : 0u};
    if (ipv6) {
        end.address[0] = 0x20;  // 2001:db8::last, the scope not written
        end.address[1] = 0x01;
        end.address[2] = 0x0D;
        end.address[3] = 0xB8;
        end.address[15] = last;
    } else {
        end.address[0] = 127;
        end.address[3] = last;
    }
    return end;
}

bool isAddressOf(const ReadAddress& read, const Endpoint& end) {
    return std::equal(read.begin(), read.end(), end.address);
}

struct Expected {
    std::uint16_t peerPort;  // its connection's
    bool fromPeer;
    unsigned char flags;
    std::size_t length;
    std::uint64_t time;
    std::string comment;
};

void fail(const char* what, std::size_t packet) {
    std::fprintf(stderr, "pcapng: %s at packet %zu\n", what, packet);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool ipv6 = (data[0] & 2) != 0;
    const bool openedHere = (data[0] & 4) != 0;
    const Endpoint local = endOf(ipv6, 1, 9000);
    Endpoint peer = endOf(ipv6, 2, 40000);
    PcapBytes out;
    appendPcapngStart(out);
    std::vector<Expected> expected;
    std::vector<unsigned char> sent;  // every payload byte, in order
    std::uint64_t time = 1000000;
    // A handshake from the side that opened: its SYN (with the comment), the SYN-ACK,
    // its ACK.
    const auto expectHandshake = [&](const std::string& comment) {
        expected.push_back(Expected{peer.port, !openedHere, 0x02, 0, time, comment});
        expected.push_back(Expected{peer.port, openedHere, 0x12, 0, time, ""});
        expected.push_back(Expected{peer.port, !openedHere, 0x10, 0, time, ""});
    };
    const bool handshake = (data[0] & 1) != 0;
    TcpStream stream = handshake ? openTcpStream(out, local, peer, openedHere, time, "start")
                                 : tcpStreamFromHere(local, peer);
    if (handshake) expectHandshake("start");
    std::size_t total = 0;
    for (std::size_t at = 1; at < size;) {
        const std::uint8_t record = data[at++];
        const int what = record & 3;
        if (what == 3) {
            time += 1 + record;
        } else if (what == 2) {
            const TcpEnding ending = static_cast<TcpEnding>((record >> 2 & 3) % 3);
            closeTcpStream(out, stream, ending, time, "end");
            if (ending == CLOSED_HERE) {
                expected.push_back(Expected{peer.port, false, 0x11, 0, time, "end"});
                expected.push_back(Expected{peer.port, true, 0x11, 0, time, ""});
            } else {
                const unsigned char flags = ending == RESET_BY_PEER ? 0x14 : 0x11;
                expected.push_back(Expected{peer.port, true, flags, 0, time, "end"});
            }
            peer.port++;
            if ((record & 0x10) != 0) {
                stream = openTcpStream(out, local, peer, openedHere, time, "");
                expectHandshake("");
            } else {
                stream = tcpStreamFromHere(local, peer);
            }
        } else {
            std::size_t count = 0;
            if (at + 1 < size) count = (static_cast<std::size_t>(data[at]) | static_cast<std::size_t>(data[at + 1]) << 8);
            at += 2;
            count *= 1 + (record >> 2 & 3);
            if (total + count > MOST_BYTES) count = 0;
            total += count;
            std::vector<unsigned char> bytes(count);
            for (std::size_t i = 0; i < count; ++i) bytes[i] = data[i % size];
            const std::string comment = (record & 0x10) != 0 ? "(regle 2)" : "";
            appendTcpBytes(out, stream, what == 0, bytes.data(), count, time, comment);
            for (std::size_t from = 0; from < count; from += MOST_SEGMENT_PAYLOAD) {
                const std::size_t length = count - from < MOST_SEGMENT_PAYLOAD ? count - from : MOST_SEGMENT_PAYLOAD;
                expected.push_back(Expected{peer.port, what == 0, 0x18, length, time, from == 0 ? comment : ""});
            }
            sent.insert(sent.end(), bytes.begin(), bytes.end());
        }
    }

    ReadFile file;
    std::string error;
    if (!readPcapng(out, &file, &error)) {
        std::fprintf(stderr, "pcapng: %s\n", error.c_str());
        std::abort();
    }
    if (file.interfaces.size() != 2 || file.interfaces[0].linkType != 228 || file.interfaces[1].linkType != 229 ||
        !file.interfaces[0].microseconds || !file.interfaces[1].microseconds)
        fail("interfaces not raw IPv4 and raw IPv6 in microseconds", 0);
    if (file.packets.size() != expected.size()) fail("a packet count not the records'", file.packets.size());
    std::vector<unsigned char> read;
    std::uint32_t next[2] = {0, 0};  // the peer's and the program's next sequence numbers
    bool known[2] = {false, false};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const ReadPacket& p = file.packets[i];
        const Expected& e = expected[i];
        const int side = e.fromPeer ? 0 : 1;
        if (p.version != (ipv6 ? 6 : 4) || p.interfaceId != (ipv6 ? 1u : 0u)) fail("a family or an interface", i);
        const Endpoint& from = e.fromPeer ? peer : local;
        const Endpoint& to = e.fromPeer ? local : peer;
        const std::uint16_t fromPort = e.fromPeer ? e.peerPort : local.port;
        const std::uint16_t toPort = e.fromPeer ? local.port : e.peerPort;
        if (!isAddressOf(p.from, from) || !isAddressOf(p.to, to) || p.fromPort != fromPort || p.toPort != toPort)
            fail("a side", i);
        if (p.flags != e.flags || p.payload.size() != e.length || p.time != e.time || p.comment != e.comment)
            fail("a packet not its record's", i);
        if (e.flags == 0x02 || (!known[side] && !known[1 - side])) {
            known[0] = known[1] = false;  // a new stream
        }
        if (known[side] && p.sequence != next[side]) fail("a sequence number", i);
        if (known[1 - side] && (p.flags & 0x10) != 0 && p.acknowledged != next[1 - side]) fail("an acknowledgement", i);
        next[side] = p.sequence + static_cast<std::uint32_t>(p.payload.size()) + ((p.flags & 0x03) != 0 ? 1 : 0);
        known[side] = true;
        if ((p.flags & 0x05) != 0) known[0] = known[1] = false;  // the stream ended
        read.insert(read.end(), p.payload.begin(), p.payload.end());
    }
    if (read != sent) fail("bytes not those sent", 0);
    return 0;
}
