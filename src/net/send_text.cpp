#include "net/send_text.h"

#include "platform.h"
#include "words.h"

namespace {

std::vector<SentEntry> sentTextsKept;

// The value of a hexadecimal digit, or -1.
int hexDigit(char32_t c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
}

// A character as the line shows it: itself when printable ASCII, else its code
// (U+03A9, or 0x0D for a control character).
std::string shown(char32_t c) {
    const char digits[] = "0123456789ABCDEF";
    if (c >= 0x20 && c <= 0x7E) return std::string(1, static_cast<char>(c));
    if (c < 0x80) return std::string("0x") + digits[c >> 4] + digits[c & 0xF];
    std::string code = "U+";
    const int width = c > 0xFFFF ? 6 : 4;
    for (int shift = (width - 1) * 4; shift >= 0; shift -= 4) code += digits[(c >> shift) & 0xF];
    return code;
}

SentText refused(const std::string& problem, std::size_t at) {
    return SentText{false, std::string(), std::vector<int>(), problem, at};
}

// The byte an escape names, or -1 for none.
int escapedByte(char32_t c) {
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

// Appends a character's bytes in the code page; false when it has none there.
bool appendCodePageBytes(char32_t character, std::string* bytes) {
    char got[CODE_PAGE_BYTES_MAX];
    const int count = codePageBytesOf(character, got);
    bytes->append(got, static_cast<std::size_t>(count > 0 ? count : 0));
    return count > 0;
}

// Characters become their bytes in Windows' ANSI code page one by one, so that no
// byte of one (a double-byte character's 0x5C) is read as the start of an escape;
// the bytes an escape names are taken as they are.
SentText readText(const std::u32string& text) {
    SentText read = {true, std::string(), std::vector<int>(), std::string(), 0};
    const std::size_t length = text.size();
    read.bytes.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] != '\\') {
            if (!appendCodePageBytes(text[i], &read.bytes)) {
                return refused("caractere " + shown(text[i]) + " absent de la page de code", i);
            }
            continue;
        }
        if (i + 1 == length) return refused("\\ seul en fin de texte", i);
        const char32_t what = text[i + 1];
        if (what == 'x') {
            const int high = i + 2 < length ? hexDigit(text[i + 2]) : -1;
            const int low = i + 3 < length ? hexDigit(text[i + 3]) : -1;
            if (high < 0 || low < 0) return refused("\\x sans deux chiffres hexadecimaux", i);
            read.bytes += static_cast<char>(high * 16 + low);
            i += 3;
            continue;
        }
        const int byte = escapedByte(what);
        if (byte < 0) return refused("sequence \\" + shown(what) + " inconnue", i);
        read.bytes += static_cast<char>(byte);
        i += 1;
    }
    return read;
}

bool isSeparator(char32_t c) {
    return c == ' ' || c == '\t' || c == ',' || c == ':' || c == '-';
}

bool isDecimal(char32_t c) {
    return c >= '0' && c <= '9';
}

// A byte that is not given as it is: `??` (HEX_ANY_BYTE) or `$N` (HEX_MATCHED_BYTE),
// at text[i]. Its mark and the characters it takes; 0 characters when there is none
// there, and a problem when it is wrong.
std::size_t readMarkedByte(const std::u32string& text, std::size_t i, HexExtras extras, int* mark,
                           std::string* problem) {
    if (extras == HEX_ANY_BYTE && text[i] == '?') {
        if (i + 1 == text.size() || text[i + 1] != '?') {
            *problem = "? seul (?? vaut un octet quelconque)";
            return 1;
        }
        *mark = MARK_ANY;
        return 2;
    }
    if (extras == HEX_MATCHED_BYTE && text[i] == '$') {
        std::size_t end = i + 1;
        long long n = 0;
        while (end < text.size() && isDecimal(text[end]) && n <= 1000000) n = n * 10 + (text[end++] - '0');
        if (end == i + 1 || n == 0) {
            *problem = "$ sans numero : $1 est l'octet du premier ?? du motif";
            return 1;
        }
        *mark = static_cast<int>(n);
        return end - i;
    }
    return 0;
}

SentText readHex(const std::u32string& text, HexExtras extras) {
    SentText read = {true, std::string(), std::vector<int>(), std::string(), 0};
    const std::size_t length = text.size();
    read.bytes.reserve(length / 2);
    std::size_t i = 0;
    while (i < length) {
        if (isSeparator(text[i])) {
            i++;
            continue;
        }
        int mark = MARK_BYTE;
        std::string problem;
        const std::size_t taken = readMarkedByte(text, i, extras, &mark, &problem);
        if (!problem.empty()) return refused(problem, i);
        if (taken > 0) {
            read.bytes += '\0';
            read.marks.push_back(mark);
            i += taken;
            continue;
        }
        if (text[i] == '0' && i + 1 < length && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
            i += 2;
            if (i == length || isSeparator(text[i])) return refused("0x sans octet apres", i - 2);
        }
        const int high = hexDigit(text[i]);
        if (high < 0) return refused("caractere " + shown(text[i]) + " invalide", i);
        const int low = i + 1 < length ? hexDigit(text[i + 1]) : -1;
        if (low < 0) {
            if (i + 1 < length && !isSeparator(text[i + 1])) {
                return refused("caractere " + shown(text[i + 1]) + " invalide", i + 1);
            }
            return refused("chiffre hexadecimal seul", i);
        }
        read.bytes += static_cast<char>(high * 16 + low);
        read.marks.push_back(MARK_BYTE);
        i += 2;
    }
    if (extras == HEX_BYTES_ONLY) read.marks.clear();
    return read;
}

}  // namespace

SentText readSendCharacters(const std::u32string& text, SendSyntax syntax, HexExtras extras) {
    return syntax == SEND_AS_HEX ? readHex(text, extras) : readText(text);
}

SentText readSendText(const std::string& text, SendSyntax syntax) {
    std::u32string characters;
    std::size_t wrongAt = 0;
    if (!decodeUtf8(text, &characters, &wrongAt)) return refused("texte illisible (UTF-8)", wrongAt);
    return readSendCharacters(characters, syntax, HEX_BYTES_ONLY);
}

std::string sendTextSummary(const SentText& read) {
    if (read.ok) return countInWords(read.bytes.size(), "octet");
    return read.problem + " en position " + std::to_string(read.problemAt + 1);
}

std::string noRoomSummary(std::size_t bytes, std::size_t room) {
    return "rien n'est parti : " + countInWords(bytes, "octet") + ", " + groupedCount(room) +
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
