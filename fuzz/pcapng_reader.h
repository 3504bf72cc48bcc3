// Reads back what the pcapng writer makes, for the fuzz target and the unit tests: its
// blocks checked one by one, its interfaces (raw IPv4 or raw IPv6), each packet's IP
// and TCP headers and checksums, and each packet's family held against its interface's.
#ifndef ORU_PCAPNG_READER_H
#define ORU_PCAPNG_READER_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

typedef std::array<unsigned char, 16> ReadAddress;  // network order; IPv4 in the first 4 bytes

struct ReadPacket {
    std::uint32_t interfaceId;
    int version;            // 4 or 6
    unsigned char hops;     // IPv4's time to live, IPv6's hop limit
    std::uint64_t time;
    ReadAddress from;
    ReadAddress to;
    std::uint16_t fromPort;
    std::uint16_t toPort;
    std::uint32_t sequence;
    std::uint32_t acknowledged;
    unsigned char flags;
    std::vector<unsigned char> payload;
    std::string comment;
};

struct ReadInterface {
    std::uint16_t linkType;
    bool microseconds;  // its time resolution
};

struct ReadFile {
    bool sectionSeen;
    std::vector<ReadInterface> interfaces;
    std::vector<ReadPacket> packets;
};

// False, with `error` saying what, when a block, a header or a checksum is wrong, or
// a packet is not of its interface's family.
bool readPcapng(const std::vector<unsigned char>& bytes, ReadFile* file, std::string* error);

#endif
