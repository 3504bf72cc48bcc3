#include "pcapng_reader.h"

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

bool readPacket(const unsigned char* packet, std::size_t length, ReadPacket* read, std::string* error) {
    if (length < 40 || packet[0] != 0x45) return fail(error, "not an IPv4 packet of 20 header bytes");
    if (big16(packet + 2) != length) return fail(error, "the IPv4 length is not the packet's");
    if (packet[9] != 6) return fail(error, "not TCP");
    if (onesSum(packet, 20) != 0xFFFF) return fail(error, "a wrong IPv4 checksum");
    const unsigned char* tcp = packet + 20;
    if (tcp[12] >> 4 != 5) return fail(error, "a TCP header that is not 20 bytes");
    unsigned char pseudo[12] = {};
    for (int i = 0; i < 8; ++i) pseudo[i] = packet[12 + i];
    pseudo[9] = 6;
    pseudo[10] = static_cast<unsigned char>((length - 20) >> 8);
    pseudo[11] = static_cast<unsigned char>(length - 20);
    std::uint32_t sum = onesSum(pseudo, sizeof pseudo);
    if (onesSum(tcp, length - 20, sum) != 0xFFFF) return fail(error, "a wrong TCP checksum");
    read->from = little32(packet + 12);
    read->to = little32(packet + 16);
    read->fromPort = big16(tcp);
    read->toPort = big16(tcp + 2);
    read->sequence = big32(tcp + 4);
    read->acknowledged = big32(tcp + 8);
    read->flags = tcp[13];
    read->payload.assign(tcp + 20, packet + length);
    return true;
}

}  // namespace

bool readPcapng(const std::vector<unsigned char>& bytes, ReadFile* file, std::string* error) {
    *file = ReadFile{false, false, 0, {}};
    std::size_t at = 0;
    bool interfaceSeen = false;
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
            file->linkType = little16(block + 8);
            if (!readOptions(block + 16, end, nullptr, &file->microseconds, error)) return false;
            interfaceSeen = true;
        } else if (type == 6) {
            if (!interfaceSeen || length < 32) return fail(error, "a packet before its interface");
            if (little32(block + 8) != 0) return fail(error, "a packet of another interface");
            const std::uint32_t captured = little32(block + 20);
            if (captured != little32(block + 24)) return fail(error, "a packet cut short");
            const std::size_t padded = (captured + 3u) & ~3u;
            if (28 + padded + 4 > length) return fail(error, "a packet longer than its block");
            ReadPacket packet;
            packet.time = static_cast<std::uint64_t>(little32(block + 12)) << 32 | little32(block + 16);
            if (!readPacket(block + 28, captured, &packet, error)) return false;
            if (!readOptions(block + 28 + padded, end, &packet.comment, nullptr, error)) return false;
            file->packets.push_back(packet);
        } else {
            return fail(error, "a block of an unknown type");
        }
        at += length;
    }
    return true;
}
