// Fuzzes the reply rules: their reader with arbitrary text, and the matcher of their
// patterns on a stream cut at arbitrary places.
//
// The input's first byte chooses. Even: the input is a text of rules; it is read or
// refused with a place, and a text read gives rules within their bounds. Odd: the
// input gives a few patterns (with any bytes), a stream and the places to cut it;
// the matches found chunk by chunk are the matches found in the whole stream at
// once, and those found one byte at a time.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "net/rules.h"

namespace {

void fail(const char* what) {
    std::fprintf(stderr, "rules: %s\n", what);
    std::abort();
}

void checkText(const std::string& text) {
    const RulesRead read = readRules(text);
    if (!read.ok) {
        if (read.problem.compare(0, 6, "ligne ") != 0 || read.problem.find(", colonne ") == std::string::npos) {
            fail("an error without its line and column");
        }
        if (!read.rules.empty()) fail("rules beside an error");
        return;
    }
    if (read.rules.size() > RULES_MAX) fail("more rules than allowed");
    for (const Rule& rule : read.rules) {
        if (rule.reply.empty() || rule.reply.size() > RULE_BYTES_MAX) fail("a reply out of bounds");
        if (rule.delayMs < 0 || rule.delayMs > RULE_TIME_MAX_MS) fail("a delay out of bounds");
        if (rule.trigger == EVERY_PERIOD && (rule.periodMs < RULE_PERIOD_MIN_MS || rule.periodMs > RULE_TIME_MAX_MS)) {
            fail("a period out of bounds");
        }
        std::size_t anyBytes = 0;
        for (bool any : rule.pattern.anyByte) anyBytes += any ? 1 : 0;
        if (rule.trigger == ON_RECEIVED && (rule.pattern.bytes.empty() || anyBytes == rule.pattern.bytes.size())) {
            fail("a pattern without a byte given");
        }
        for (const auto& taken : rule.matchedBytes) {
            if (taken.first >= rule.reply.size() || taken.second < 1 || static_cast<std::size_t>(taken.second) > anyBytes) {
                fail("a $N without its ??");
            }
        }
    }
}

std::vector<std::string> matches(const std::vector<StreamPattern>& patterns, const std::string& stream,
                                 const std::vector<std::size_t>& cuts) {
    StreamMatcher matcher;
    startMatching(&matcher, patterns);
    std::vector<StreamMatch> found;
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        const std::size_t to = cut < stream.size() ? cut : stream.size();
        if (to < from) continue;
        matchChunk(&matcher, reinterpret_cast<const unsigned char*>(stream.data()) + from, to - from, &found);
        from = to;
        if (matcher.tail.size() > matcher.tailKept) fail("more of the stream kept than the longest pattern");
    }
    matchChunk(&matcher, reinterpret_cast<const unsigned char*>(stream.data()) + from, stream.size() - from, &found);
    std::vector<std::string> seen;
    for (const StreamMatch& m : found) seen.push_back(std::to_string(m.pattern) + ":" + m.anyBytes);
    return seen;
}

// Patterns, stream and cuts from the input: a count of patterns, each a length and
// its bytes (0x3F, '?', is any byte), then the stream, cut at every byte 0xFF
// (removed) of the input's last part.
void checkMatching(const std::uint8_t* data, std::size_t size) {
    std::size_t at = 0;
    const std::size_t patternCount = size > 0 ? data[at++] % 4 + 1 : 1;
    std::vector<StreamPattern> patterns;
    for (std::size_t p = 0; p < patternCount && at < size; ++p) {
        const std::size_t length = data[at++] % 6 + 1;
        StreamPattern pattern;
        for (std::size_t k = 0; k < length && at < size; ++k, ++at) {
            pattern.bytes += static_cast<char>(data[at] % 4 + 'a');  // a small alphabet: many matches
            pattern.anyByte.push_back(data[at] >= 0xC0);
        }
        bool given = false;
        for (bool any : pattern.anyByte) given = given || !any;
        if (given) patterns.push_back(pattern);
    }
    if (patterns.empty()) return;
    std::string stream;
    std::vector<std::size_t> cuts;
    for (; at < size; ++at) {
        if (data[at] == 0xFF) cuts.push_back(stream.size());
        else stream += static_cast<char>(data[at] % 4 + 'a');
    }
    const std::vector<std::string> whole = matches(patterns, stream, {});
    if (matches(patterns, stream, cuts) != whole) fail("a cut stream matched otherwise than the whole");
    std::vector<std::size_t> everyByte;
    for (std::size_t i = 0; i < stream.size(); ++i) everyByte.push_back(i);
    if (matches(patterns, stream, everyByte) != whole) fail("a stream byte by byte matched otherwise than the whole");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    if (data[0] % 2 == 0) checkText(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    else checkMatching(data + 1, size - 1);
    return 0;
}
