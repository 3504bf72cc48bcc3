#include "net/host.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

const char BLANKS[] = " \t";
const char PART_SEPARATOR = '.';   // between IPv4 parts, and between a name's labels
const char GROUP_SEPARATOR = ':';  // between IPv6 groups
const char ZERO_RUN[] = "::";      // one or more IPv6 groups of zeros
const char SCOPE_MARK = '%';
const char PORT_SEPARATOR = ':';
const char OPEN_BRACKET = '[';
const char CLOSE_BRACKET = ']';
const char HYPHEN = '-';
const char UNDERSCORE = '_';
const char HEX_DIGITS[] = "0123456789abcdef";

const int IPV4_PARTS = 4;
const std::size_t IPV4_PART_DIGITS_MAX = 3;
const unsigned IPV4_PART_MAX = 255;
const int IPV6_GROUPS = sizeof(Endpoint::address) / 2;
const int IPV6_GROUPS_OF_IPV4 = IPV4_PARTS / 2;
const std::size_t IPV6_GROUP_DIGITS_MAX = 4;
const int MAPPED_ZEROS = 10;  // bytes of zeros before the ones of a mapped IPv4 address
const int ZERO_RUN_GROUPS_MIN = 2;  // a single zero group is written, not shortened
const std::uint64_t SCOPE_MAX = 0xFFFFFFFFu;
const std::size_t LABEL_LENGTH_MAX = 63;
const std::size_t NAME_LENGTH_MAX = 253;  // not counting a final dot

typedef std::vector<std::uint16_t> Groups;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// A hexadecimal digit's value, -1 for any other character.
int hexDigitValue(char c) {
    if (isDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string withoutBlanksAround(const std::string& text) {
    const std::size_t first = text.find_first_not_of(BLANKS);
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(BLANKS) - first + 1);
}

// The pieces between the separators: "a.b" gives "a" and "b", "" gives one empty piece.
std::vector<std::string> piecesBetween(const std::string& text, char separator) {
    std::vector<std::string> pieces(1);
    for (char c : text) {
        if (c == separator) pieces.emplace_back();
        else pieces.back() += c;
    }
    return pieces;
}

// One IPv4 part: one to three decimal digits, zeros in front allowed, at most 255.
bool readIpv4Part(const std::string& text, unsigned char* part) {
    if (text.empty() || text.size() > IPV4_PART_DIGITS_MAX) return false;
    unsigned value = 0;
    for (char c : text) {
        if (!isDigit(c)) return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > IPV4_PART_MAX) return false;
    *part = static_cast<unsigned char>(value);
    return true;
}

// A dotted IPv4 address into its four bytes.
bool readIpv4Address(const std::string& text, unsigned char* bytes) {
    const std::vector<std::string> parts = piecesBetween(text, PART_SEPARATOR);
    if (parts.size() != IPV4_PARTS) return false;
    for (int i = 0; i < IPV4_PARTS; ++i)
        if (!readIpv4Part(parts[i], &bytes[i])) return false;
    return true;
}

bool readHexGroup(const std::string& text, std::uint16_t* group) {
    if (text.empty() || text.size() > IPV6_GROUP_DIGITS_MAX) return false;
    unsigned value = 0;
    for (char c : text) {
        const int digit = hexDigitValue(c);
        if (digit < 0) return false;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    *group = static_cast<std::uint16_t>(value);
    return true;
}

// Groups separated by single colons, appended to `groups`; an empty text has none.
// When `ipv4MayEnd`, the last may be a dotted IPv4 address, which makes two groups.
bool readGroups(const std::string& text, bool ipv4MayEnd, Groups* groups) {
    if (text.empty()) return true;
    const std::vector<std::string> pieces = piecesBetween(text, GROUP_SEPARATOR);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        unsigned char ipv4[IPV4_PARTS];
        if (ipv4MayEnd && i + 1 == pieces.size() && readIpv4Address(pieces[i], ipv4)) {
            for (int part = 0; part < IPV4_PARTS; part += 2)
                groups->push_back(static_cast<std::uint16_t>(ipv4[part] << 8 | ipv4[part + 1]));
            continue;
        }
        std::uint16_t group = 0;
        if (!readHexGroup(pieces[i], &group)) return false;
        groups->push_back(group);
    }
    return true;
}

// An IPv6 address without its scope: eight groups, or fewer around the one "::" that
// stands for at least one zero group. A dotted IPv4 address may only end it.
bool readIpv6Address(const std::string& text, unsigned char* bytes) {
    Groups head;
    Groups tail;
    const std::size_t run = text.find(ZERO_RUN);
    if (run == std::string::npos) {
        if (!readGroups(text, true, &head) || head.size() != IPV6_GROUPS) return false;
    } else {
        // A second "::" leaves an empty group in the tail, which is refused there.
        if (!readGroups(text.substr(0, run), false, &head)) return false;
        if (!readGroups(text.substr(run + sizeof ZERO_RUN - 1), true, &tail)) return false;
        if (head.size() + tail.size() >= IPV6_GROUPS) return false;
    }
    Groups all(head);
    all.resize(IPV6_GROUPS - tail.size(), 0);
    all.insert(all.end(), tail.begin(), tail.end());
    for (int i = 0; i < IPV6_GROUPS; ++i) {
        bytes[2 * i] = static_cast<unsigned char>(all[i] >> 8);
        bytes[2 * i + 1] = static_cast<unsigned char>(all[i] & 0xFF);
    }
    return true;
}

// An interface number: decimal, 1 to 4294967295.
bool readScope(const std::string& text, std::uint32_t* scope) {
    if (text.empty()) return false;
    std::uint64_t value = 0;
    for (char c : text) {
        if (!isDigit(c)) return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > SCOPE_MAX) return false;
    }
    if (value == 0) return false;
    *scope = static_cast<std::uint32_t>(value);
    return true;
}

bool readIpv4(const std::string& text, Endpoint* address) {
    Endpoint read = {FAMILY_IPV4, {}, 0, 0};
    if (!readIpv4Address(text, read.address)) return false;
    *address = read;
    return true;
}

// An IPv6 address with its interface number, if any, after the scope mark.
bool readIpv6(const std::string& text, Endpoint* address) {
    const std::size_t mark = text.find(SCOPE_MARK);
    Endpoint read = {FAMILY_IPV6, {}, 0, 0};
    if (mark != std::string::npos && !readScope(text.substr(mark + 1), &read.scope)) return false;
    if (!readIpv6Address(text.substr(0, mark), read.address)) return false;
    *address = read;
    return true;
}

bool isBracketed(const std::string& text) {
    return text.size() >= 2 && text.front() == OPEN_BRACKET && text.back() == CLOSE_BRACKET;
}

bool isOnlyDigitsAndDots(const std::string& text) {
    for (char c : text)
        if (!isDigit(c) && c != PART_SEPARATOR) return false;
    return true;
}

bool isLabelCharacter(char c) { return isLetter(c) || isDigit(c) || c == HYPHEN || c == UNDERSCORE; }

bool isLabel(const std::string& label) {
    if (label.empty() || label.size() > LABEL_LENGTH_MAX) return false;
    if (label.front() == HYPHEN || label.back() == HYPHEN) return false;
    for (char c : label)
        if (!isLabelCharacter(c)) return false;
    return true;
}

// Labels separated by dots, one dot allowed at the end.
bool isName(const std::string& text) {
    std::string labels = text;
    if (!labels.empty() && labels.back() == PART_SEPARATOR) labels.pop_back();
    if (labels.empty() || labels.size() > NAME_LENGTH_MAX) return false;
    for (const std::string& label : piecesBetween(labels, PART_SEPARATOR))
        if (!isLabel(label)) return false;
    return true;
}

std::string ipv4Text(const unsigned char* bytes) {
    std::string text;
    for (int i = 0; i < IPV4_PARTS; ++i) {
        if (i > 0) text += PART_SEPARATOR;
        text += std::to_string(bytes[i]);
    }
    return text;
}

// Lowercase, without zeros in front.
std::string hexGroupText(std::uint16_t group) {
    std::string text;
    do {
        text.insert(text.begin(), HEX_DIGITS[group & 0xF]);
        group = static_cast<std::uint16_t>(group >> 4);
    } while (group != 0);
    return text;
}

// An IPv4 address mapped into IPv6 (::ffff:a.b.c.d): 80 bits of zeros, 16 of ones,
// then the IPv4 address.
bool isIpv4Mapped(const unsigned char* bytes) {
    for (int i = 0; i < MAPPED_ZEROS; ++i)
        if (bytes[i] != 0) return false;
    return bytes[MAPPED_ZEROS] == 0xFF && bytes[MAPPED_ZEROS + 1] == 0xFF;
}

struct ZeroRun {
    int first;
    int length;  // 0: no run long enough to be shortened
};

// The longest run of zero groups, the first of the longest when two are as long.
ZeroRun longestZeroRun(const std::uint16_t* groups, int count) {
    ZeroRun longest = {0, 0};
    for (int first = 0; first < count;) {
        int end = first;
        while (end < count && groups[end] == 0) ++end;
        if (end - first >= ZERO_RUN_GROUPS_MIN && end - first > longest.length) longest = ZeroRun{first, end - first};
        first = end == first ? first + 1 : end;
    }
    return longest;
}

std::string ipv6Text(const unsigned char* bytes) {
    std::uint16_t groups[IPV6_GROUPS];
    for (int i = 0; i < IPV6_GROUPS; ++i)
        groups[i] = static_cast<std::uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
    const bool mapped = isIpv4Mapped(bytes);
    const int hexGroups = mapped ? IPV6_GROUPS - IPV6_GROUPS_OF_IPV4 : IPV6_GROUPS;
    const ZeroRun run = longestZeroRun(groups, hexGroups);
    std::string text;
    for (int i = 0; i < hexGroups;) {
        if (run.length > 0 && i == run.first) {
            text += ZERO_RUN;
            i += run.length;
            continue;
        }
        if (!text.empty() && text.back() != GROUP_SEPARATOR) text += GROUP_SEPARATOR;
        text += hexGroupText(groups[i++]);
    }
    if (mapped) {
        if (text.back() != GROUP_SEPARATOR) text += GROUP_SEPARATOR;
        text += ipv4Text(bytes + 2 * hexGroups);
    }
    return text;
}

}  // namespace

HostKind readHost(const std::string& text, Endpoint* address, std::string* name) {
    const std::string host = withoutBlanksAround(text);
    if (isBracketed(host)) return readIpv6(host.substr(1, host.size() - 2), address) ? HOST_IPV6 : HOST_WRONG;
    if (readIpv4(host, address)) return HOST_IPV4;
    if (readIpv6(host, address)) return HOST_IPV6;
    if (isOnlyDigitsAndDots(host) || !isName(host)) return HOST_WRONG;
    *name = host;
    return HOST_NAME;
}

std::string addressText(const Endpoint& end) {
    if (end.family != FAMILY_IPV6) return ipv4Text(end.address);
    std::string text = OPEN_BRACKET + ipv6Text(end.address);
    if (end.scope != 0) text += SCOPE_MARK + std::to_string(end.scope);
    return text + CLOSE_BRACKET;
}

std::string endpointText(const Endpoint& end) {
    return addressText(end) + PORT_SEPARATOR + std::to_string(end.port);
}
