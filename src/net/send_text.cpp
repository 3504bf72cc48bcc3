#include "net/send_text.h"

namespace {

std::vector<SentEntry> sentTextsKept;

// The value of a hexadecimal digit, or -1.
int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string at(std::size_t index) {
    return " en position " + std::to_string(index + 1);
}

// A character as the line shows it: itself when printable, else its code.
std::string shown(char c) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte <= 0x7E) return std::string(1, c);
    const char digits[] = "0123456789ABCDEF";
    return std::string("0x") + digits[byte >> 4] + digits[byte & 0xF];
}

SentText refused(const std::string& problem) {
    return SentText{false, std::string(), problem};
}

// The byte an escape names, or -1 for none.
int escapedByte(char c) {
    switch (c) {
    case 'r': return 0x0D;
    case 'n': return 0x0A;
    case 't': return 0x09;
    case '0': return 0x00;
    case 'e': return 0x1B;
    case '\\': return 0x5C;
    default: return -1;
    }
}

SentText readText(const char* text, std::size_t length) {
    SentText read = {true, std::string(), std::string()};
    read.bytes.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] != '\\') {
            read.bytes += text[i];
            continue;
        }
        if (i + 1 == length) return refused("\\ seul en fin de texte" + at(i));
        const char what = text[i + 1];
        if (what == 'x') {
            const int high = i + 2 < length ? hexDigit(text[i + 2]) : -1;
            const int low = i + 3 < length ? hexDigit(text[i + 3]) : -1;
            if (high < 0 || low < 0) return refused("\\x sans deux chiffres hexadecimaux" + at(i));
            read.bytes += static_cast<char>(high * 16 + low);
            i += 3;
            continue;
        }
        const int byte = escapedByte(what);
        if (byte < 0) return refused("sequence \\" + shown(what) + " inconnue" + at(i));
        read.bytes += static_cast<char>(byte);
        i += 1;
    }
    return read;
}

bool isSeparator(char c) {
    return c == ' ' || c == '\t' || c == ',' || c == ':' || c == '-';
}

SentText readHex(const char* text, std::size_t length) {
    SentText read = {true, std::string(), std::string()};
    read.bytes.reserve(length / 2);
    std::size_t i = 0;
    while (i < length) {
        if (isSeparator(text[i])) {
            i++;
            continue;
        }
        if (text[i] == '0' && i + 1 < length && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
            i += 2;
            if (i == length || isSeparator(text[i])) return refused("0x sans octet apres" + at(i - 2));
        }
        const int high = hexDigit(text[i]);
        if (high < 0) return refused("caractere " + shown(text[i]) + " invalide" + at(i));
        const int low = i + 1 < length ? hexDigit(text[i + 1]) : -1;
        if (low < 0) {
            if (i + 1 < length && !isSeparator(text[i + 1])) {
                return refused("caractere " + shown(text[i + 1]) + " invalide" + at(i + 1));
            }
            return refused("chiffre hexadecimal seul" + at(i));
        }
        read.bytes += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return read;
}

}  // namespace

SentText readSendText(const char* text, std::size_t length, SendSyntax syntax) {
    return syntax == SEND_AS_HEX ? readHex(text, length) : readText(text, length);
}

std::string groupedCount(std::uint64_t count) {
    std::string digits = std::to_string(count);
    for (std::size_t group = digits.size(); group > 3; group -= 3) digits.insert(group - 3, " ");
    return digits;
}

std::string sendTextSummary(const SentText& read) {
    return read.ok ? groupedCount(read.bytes.size()) + " octets" : read.problem;
}

std::string noRoomSummary(std::size_t bytes, std::size_t room) {
    return "rien n'est parti : " + groupedCount(bytes) + " octets, " + groupedCount(room) +
           " de place pour l'envoi";
}

void rememberSentText(const std::string& text, SendSyntax syntax) {
    for (auto it = sentTextsKept.begin(); it != sentTextsKept.end(); ++it) {
        if (it->text == text && it->syntax == syntax) {
            sentTextsKept.erase(it);
            break;
        }
    }
    sentTextsKept.insert(sentTextsKept.begin(), SentEntry{text, syntax});
    if (sentTextsKept.size() > SENT_TEXTS_KEPT) sentTextsKept.resize(SENT_TEXTS_KEPT);
}

const std::vector<SentEntry>& sentTexts() {
    return sentTextsKept;
}

void forgetSentTexts() {
    sentTextsKept.clear();
}
