// How the program writes counts and texts for people: one rule for every count it
// shows, and the character sets that texts cross on their way in and out.
#ifndef ORU_WORDS_H
#define ORU_WORDS_H

#include <cstddef>
#include <cstdint>
#include <string>

// A count with its thousands set apart by blanks: "1 234 567".
std::string groupedCount(std::uint64_t count);
// A count followed by its words, each word taking an s from 2 on (0 and 1 take
// none): countInWords(1, "octet recu") is "1 octet recu", countInWords(1500,
// "octet") "1 500 octets".
std::string countInWords(std::uint64_t count, const char* words);

// The characters of a UTF-8 text, one code point each, into `characters`. False
// where it is not UTF-8 (a stray or missing continuation byte, an overlong form, a
// surrogate, past U+10FFFF), with the place of the first wrong character (from 0,
// in characters) in `wrongAt`, and the characters before it in `characters`.
bool decodeUtf8(const std::string& text, std::u32string* characters, std::size_t* wrongAt);
// A code point as UTF-8.
void appendUtf8(char32_t character, std::string* text);

#endif
