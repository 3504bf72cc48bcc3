// Reads back what the pcapng writer makes, for the fuzz target and the unit tests: its
// blocks checked one by one, each packet's IPv4 and TCP headers and checksums.
#ifndef ORU_PCAPNG_READER_H
#define ORU_PCAPNG_READER_H

#include <cstdint>
#include <string>
#include <vector>

struct ReadPacket {
    std::uint64_t time;
    std::uint32_t from;  // IPv4 address, network order as read
    std::uint32_t to;
    std::uint16_t fromPort;
    std::uint16_t toPort;
    std::uint32_t sequence;
    std::uint32_t acknowledged;
    unsigned char flags;
    std::vector<unsigned char> payload;
    std::string comment;
};

struct ReadFile {
    bool sectionSeen;
    bool microseconds;  // the interface's time resolution
    std::uint16_t linkType;
    std::vector<ReadPacket> packets;
};

// False, with `error` saying what, when a block, a header or a checksum is wrong.
bool readPcapng(const std::vector<unsigned char>& bytes, ReadFile* file, std::string* error);

#endif
