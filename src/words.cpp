#include "words.h"

std::string groupedCount(std::uint64_t count) {
    std::string digits = std::to_string(count);
    for (std::size_t group = digits.size(); group > 3; group -= 3) digits.insert(group - 3, " ");
    return digits;
}

std::string countInWords(std::uint64_t count, const char* words) {
    std::string text = groupedCount(count) + " ";
    for (const char* c = words; *c != '\0'; ++c) {
        if (count >= 2 && *c == ' ') text += 's';
        text += *c;
    }
    if (count >= 2) text += 's';
    return text;
}

namespace {

// How many bytes a UTF-8 sequence that starts with `lead` has, and the bits the lead
// gives; 0 for a byte that cannot start one.
int sequenceLength(unsigned char lead, char32_t* bits) {
    if (lead < 0x80) {
        *bits = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        *bits = lead & 0x1Fu;
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        *bits = lead & 0x0Fu;
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        *bits = lead & 0x07u;
        return 4;
    }
    return 0;
}

// The smallest code point that needs a sequence of `length` bytes.
char32_t smallestOf(int length) {
    return length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
}

}  // namespace

bool decodeUtf8(const std::string& text, std::u32string* characters, std::size_t* wrongAt) {
    characters->clear();
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t character = 0;
        const int length = sequenceLength(static_cast<unsigned char>(text[i]), &character);
        bool right = length > 0 && i + static_cast<std::size_t>(length) <= text.size();
        for (int k = 1; right && k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            right = (next & 0xC0u) == 0x80u;
            character = character << 6 | (next & 0x3Fu);
        }
        right = right && (length == 1 || character >= smallestOf(length)) && character <= 0x10FFFF &&
                !(character >= 0xD800 && character <= 0xDFFF);
        if (!right) {
            *wrongAt = characters->size();
            return false;
        }
        characters->push_back(character);
        i += static_cast<std::size_t>(length);
    }
    return true;
}

void appendUtf8(char32_t character, std::string* text) {
    if (character < 0x80) {
        *text += static_cast<char>(character);
    } else if (character < 0x800) {
        *text += static_cast<char>(0xC0 | character >> 6);
        *text += static_cast<char>(0x80 | (character & 0x3F));
    } else if (character < 0x10000) {
        *text += static_cast<char>(0xE0 | character >> 12);
        *text += static_cast<char>(0x80 | (character >> 6 & 0x3F));
        *text += static_cast<char>(0x80 | (character & 0x3F));
    } else {
        *text += static_cast<char>(0xF0 | character >> 18);
        *text += static_cast<char>(0x80 | (character >> 12 & 0x3F));
        *text += static_cast<char>(0x80 | (character >> 6 & 0x3F));
        *text += static_cast<char>(0x80 | (character & 0x3F));
    }
}
