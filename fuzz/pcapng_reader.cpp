#include "pcapng_reader.h"

#include <algorithm>

namespace {

std::uint32_t little32(const unsigned char* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

std::uint16_t little16(const unsigned char* at) {
    return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}

std::uint16_t big16(const unsigned char* at) {
    return static_cast<std::uint16_t>(at[0] << 8 | at[1]);
}

std::uint32_t big32(const unsigned char* at) {
    return static_cast<std::uint32_t>(big16(at)) << 16 | big16(at + 2);
}

// The ones' complement sum of 16-bit words, folded: 0xFFFF over a header whose
// checksum is right.
std::uint16_t onesSum(const unsigned char* bytes, std::size_t count, std::uint32_t sum = 0) {
    for (std::size_t i = 0; i + 1 < count; i += 2) sum += big16(bytes + i);
    if (count % 2 != 0) sum += static_cast<std::uint32_t>(bytes[count - 1]) << 8;
    while (sum >> 16 != 0) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(sum);
}

bool fail(std::string* error, const std::string& what) {
    *error = what;
    return false;
}

// Options from `at` to `end`: the comment, and whether the end option closes them.
bool readOptions(const unsigned char* at, const unsigned char* end, std::string* comment, bool* microseconds,
                 std::string* error) {
    while (at + 4 <= end) {
        const std::uint16_t code = little16(at);
        const std::uint16_t length = little16(at + 2);
        if (code == 0) return true;
        const std::size_t padded = (length + 3u) & ~3u;
        if (at + 4 + padded > end) return fail(error, "an option runs past its block");
        if (code == 1 && comment != nullptr) comment->assign(reinterpret_cast<const char*>(at + 4), length);
        if (code == 9 && microseconds != nullptr) *microseconds = length == 1 && at[4] == 6;
        at += 4 + padded;
    }
    return at == end || fail(error, "options without their end");
}

// The TCP header and payload after an IP header: their checksum, with the sum of
// the pseudo-header already in `sum`, and their fields.
bool readTcp(const unsigned char* tcp, std::size_t length, std::uint32_t sum, ReadPacket* read, std::string* error) {
    if (length < 20 || tcp[12] >> 4 != 5) return fail(error, "a TCP header that is not 20 bytes");
    if (onesSum(tcp, length, sum) != 0xFFFF) return fail(error, "a wrong TCP checksum");
    read->fromPort = big16(tcp);
    read->toPort = big16(tcp + 2);
    read->sequence = big32(tcp + 4);
    read->acknowledged = big32(tcp + 8);
    read->flags = tcp[13];
    read->payload.assign(tcp + 20, tcp + length);
    return true;
}

bool readIpv4(const unsigned char* packet, std::size_t length, ReadPacket* read, std::string* error) {
    if (length < 20 || packet[0] != 0x45) return fail(error, "not an IPv4 packet of 20 header bytes");
    if (big16(packet + 2) != length) return fail(error, "the IPv4 length is not the packet's");
    if (packet[9] != 6) return fail(error, "not TCP");
    if (onesSum(packet, 20) != 0xFFFF) return fail(error, "a wrong IPv4 checksum");
    unsigned char pseudo[12] = {};
    for (int i = 0; i < 8; ++i) pseudo[i] = packet[12 + i];
    pseudo[9] = 6;
    pseudo[10] = static_cast<unsigned char>((length - 20) >> 8);
    pseudo[11] = static_cast<unsigned char>(length - 20);
    read->version = 4;
    read->hops = packet[8];
    read->from = ReadAddress{};
    read->to = ReadAddress{};
    std::copy(packet + 12, packet + 16, read->from.begin());
    std::copy(packet + 16, packet + 20, read->to.begin());
    return readTcp(packet + 20, length - 20, onesSum(pseudo, sizeof pseudo), read, error);
}

bool readIpv6(const unsigned char* packet, std::size_t length, ReadPacket* read, std::string* error) {
    if (length < 40 || big32(packet) != 0x60000000) return fail(error, "not an IPv6 packet without class or flow");
    if (big16(packet + 4) != length - 40) return fail(error, "the IPv6 payload length is not the packet's");
    if (packet[6] != 6) return fail(error, "not TCP");
    // The pseudo-header: source, destination, TCP's length in 32 bits, 3 zero bytes and
    // the next header.
    unsigned char pseudo[40] = {};
    std::copy(packet + 8, packet + 40, pseudo);
    const std::size_t tcpLength = length - 40;
    for (int i = 0; i < 4; ++i) pseudo[32 + i] = static_cast<unsigned char>(tcpLength >> (24 - 8 * i));
    pseudo[39] = 6;
    read->version = 6;
    read->hops = packet[7];
    std::copy(packet + 8, packet + 24, read->from.begin());
    std::copy(packet + 24, packet + 40, read->to.begin());
    return readTcp(packet + 40, tcpLength, onesSum(pseudo, sizeof pseudo), read, error);
}

}  // namespace

bool readPcapng(const std::vector<unsigned char>& bytes, ReadFile* file, std::string* error) {
    *file = ReadFile{false, {}, {}};
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < 12) return fail(error, "a block cut short");
        const unsigned char* block = bytes.data() + at;
        const std::uint32_t type = little32(block);
        const std::uint32_t length = little32(block + 4);
        if (length < 12 || length % 4 != 0 || length > bytes.size() - at) return fail(error, "a wrong block length");
        if (little32(block + length - 4) != length) return fail(error, "the block's two lengths differ");
        const unsigned char* end = block + length - 4;
        if (type == 0x0A0D0D0A) {
            if (length < 28 || little32(block + 8) != 0x1A2B3C4D) return fail(error, "a wrong section header");
            file->sectionSeen = true;
        } else if (type == 1) {
            if (!file->sectionSeen || length < 20) return fail(error, "an interface outside a section");
            ReadInterface described = {little16(block + 8), false};
            if (described.linkType != 228 && described.linkType != 229) return fail(error, "a link type not raw IP");
            if (!readOptions(block + 16, end, nullptr, &described.microseconds, error)) return false;
            file->interfaces.push_back(described);
        } else if (type == 6) {
            if (length < 32) return fail(error, "a packet block cut short");
            const std::uint32_t interfaceId = little32(block + 8);
            if (interfaceId >= file->interfaces.size()) return fail(error, "a packet of no interface described");
            const std::uint32_t captured = little32(block + 20);
            if (captured != little32(block + 24)) return fail(error, "a packet cut short");
            const std::size_t padded = (captured + 3u) & ~3u;
            if (28 + padded + 4 > length) return fail(error, "a packet longer than its block");
            ReadPacket packet;
            packet.interfaceId = interfaceId;
            packet.time = static_cast<std::uint64_t>(little32(block + 12)) << 32 | little32(block + 16);
            const bool ipv6 = file->interfaces[interfaceId].linkType == 229;
            if (captured == 0 || block[28] >> 4 != (ipv6 ? 6 : 4)) return fail(error, "a packet not of its interface's family");
            if (!(ipv6 ? readIpv6 : readIpv4)(block + 28, captured, &packet, error)) return false;
            if (!readOptions(block + 28 + padded, end, &packet.comment, nullptr, error)) return false;
            file->packets.push_back(packet);
        } else {
            return fail(error, "a block of an unknown type");
        }
        at += length;
    }
    return true;
}
