// Received bytes looked at eight at a time: the bytes of a word are taken first byte
// lowest (Windows runs little-endian only), and each byte is tested on its own, no
// carry crossing from one byte into the next.
#ifndef ORU_BYTE_SCAN_H
#define ORU_BYTE_SCAN_H

#include <cstddef>
#include <cstdint>

const std::uint64_t EVERY_BYTE = 0x0101010101010101u;
const std::uint64_t TOP_BITS = EVERY_BYTE * 0x80;
const std::uint64_t LOW_BITS = EVERY_BYTE * 0x7F;

// The five values the interpreter acts on: backspace, tab, line feed, form feed and
// carriage return.
inline bool isControlByte(unsigned char byte) {
    return byte == 8 || byte == 9 || byte == 10 || byte == 12 || byte == 13;
}

// Marks the top bit of every byte of `word` that is a control: from 8 to 13, but 11.
inline std::uint64_t controlBytes(std::uint64_t word) {
    std::uint64_t low = word & LOW_BITS;
    std::uint64_t from8To13 = (EVERY_BYTE * (127 + 14) - low) & ~word & (low + EVERY_BYTE * (127 - 7));
    std::uint64_t notEleven = word ^ (EVERY_BYTE * 11);
    std::uint64_t nonzero = ((notEleven & LOW_BITS) + LOW_BITS) | notEleven;
    return from8To13 & nonzero & TOP_BITS;
}

// Marks the top bit of every byte of `word` that equals `value`.
inline std::uint64_t bytesEqual(std::uint64_t word, unsigned char value) {
    std::uint64_t differ = word ^ (EVERY_BYTE * value);
    return ~(((differ & LOW_BITS) + LOW_BITS) | differ) & TOP_BITS;
}

// How many bytes are marked.
inline std::size_t markedBytes(std::uint64_t marks) {
    return static_cast<std::size_t>(((marks >> 7) * EVERY_BYTE) >> 56);
}

// The index of the byte of the lowest mark.
inline std::size_t lowestMarkedByte(std::uint64_t marks) {
    std::uint64_t lowest = marks & (~marks + 1);
    return static_cast<std::size_t>(((lowest >> 7) * 0x0001020304050607u) >> 56);
}

#endif
