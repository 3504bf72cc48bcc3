// Received bytes looked at a block at a time: sixteen with the processor's vector
// instructions where the compiler may use them (every 64-bit build), else eight in a
// 64-bit word. A block's marks tell which of its bytes are of a kind, the first
// byte lowest; each byte is tested on its own, nothing crossing from one into the
// next. Both kinds of block are always compiled, so that both can be tested;
// `byteScan` is the one the program uses.
#ifndef ORU_BYTE_SCAN_H
#define ORU_BYTE_SCAN_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The five values the interpreter acts on: backspace, tab, line feed, form feed and
// carriage return.
inline bool isControlByte(unsigned char byte) {
    return byte == 8 || byte == 9 || byte == 10 || byte == 12 || byte == 13;
}

// Eight bytes in a 64-bit word (Windows runs little-endian only); a mark is the top
// bit of its byte.
namespace wordScan {

typedef std::uint64_t Block;
typedef std::uint64_t Marks;
const std::size_t BLOCK_BYTES = sizeof(Block);

const std::uint64_t EVERY_BYTE = 0x0101010101010101u;
const std::uint64_t TOP_BITS = EVERY_BYTE * 0x80;
const std::uint64_t LOW_BITS = EVERY_BYTE * 0x7F;

inline Block loadBlock(const unsigned char* at) {
    Block block;
    std::memcpy(&block, at, sizeof block);
    return block;
}

// The controls: from 8 to 13, but 11.
inline Marks controlBytes(Block block) {
    std::uint64_t low = block & LOW_BITS;
    std::uint64_t from8To13 = (EVERY_BYTE * (127 + 14) - low) & ~block & (low + EVERY_BYTE * (127 - 7));
    std::uint64_t notEleven = block ^ (EVERY_BYTE * 11);
    std::uint64_t nonzero = ((notEleven & LOW_BITS) + LOW_BITS) | notEleven;
    return from8To13 & nonzero & TOP_BITS;
}

inline Marks bytesEqual(Block block, unsigned char value) {
    std::uint64_t differ = block ^ (EVERY_BYTE * value);
    return ~(((differ & LOW_BITS) + LOW_BITS) | differ) & TOP_BITS;
}

inline std::size_t markedBytes(Marks marks) {
    return static_cast<std::size_t>(((marks >> 7) * EVERY_BYTE) >> 56);
}

// The index of the byte of the lowest mark; marks not empty.
inline std::size_t lowestMarkedByte(Marks marks) {
    std::uint64_t lowest = marks & (~marks + 1);
    return static_cast<std::size_t>(((lowest >> 7) * 0x0001020304050607u) >> 56);
}

// The index of the byte of the highest mark; marks not empty.
inline std::size_t highestMarkedByte(Marks marks) {
    return static_cast<std::size_t>(63 - __builtin_clzll(marks)) / 8;
}

// The marks less that of one byte.
inline Marks withoutByte(Marks marks, std::size_t at) {
    return marks & ~(static_cast<Marks>(0x80) << (8 * at));
}

}  // namespace wordScan

#if defined(__SSE2__)
// Sixteen bytes in a vector register; a mark is one bit of a 16-bit mask.
namespace vectorScan {

typedef __m128i Block;
typedef unsigned Marks;
const std::size_t BLOCK_BYTES = sizeof(Block);

inline Block loadBlock(const unsigned char* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

inline Marks bytesEqual(Block block, unsigned char value) {
    const __m128i equal = _mm_cmpeq_epi8(block, _mm_set1_epi8(static_cast<char>(value)));
    return static_cast<Marks>(_mm_movemask_epi8(equal));
}

// The controls: from 8 to 13 (less 8, at most 5 without sign), but 11.
inline Marks controlBytes(Block block) {
    const __m128i from8 = _mm_sub_epi8(block, _mm_set1_epi8(8));
    const __m128i upTo13 = _mm_cmpeq_epi8(_mm_min_epu8(from8, _mm_set1_epi8(5)), from8);
    return static_cast<Marks>(_mm_movemask_epi8(upTo13)) & ~bytesEqual(block, 11);
}

inline std::size_t markedBytes(Marks marks) {
    marks = marks - ((marks >> 1) & 0x5555u);
    marks = (marks & 0x3333u) + ((marks >> 2) & 0x3333u);
    marks = (marks + (marks >> 4)) & 0x0F0Fu;
    return static_cast<std::size_t>((marks + (marks >> 8)) & 0x1Fu);
}

// The index of the byte of the lowest mark; marks not empty.
inline std::size_t lowestMarkedByte(Marks marks) {
    return static_cast<std::size_t>(__builtin_ctz(marks));
}

// The index of the byte of the highest mark; marks not empty.
inline std::size_t highestMarkedByte(Marks marks) {
    return static_cast<std::size_t>(31 - __builtin_clz(marks));
}

// The marks less that of one byte.
inline Marks withoutByte(Marks marks, std::size_t at) {
    return marks & ~(1u << at);
}

}  // namespace vectorScan
namespace byteScan = vectorScan;
#else
namespace byteScan = wordScan;
#endif

#endif
