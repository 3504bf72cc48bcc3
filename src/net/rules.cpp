#include "net/rules.h"

#include <algorithm>

#include "net/outgoing.h"
#include "net/send_text.h"
#include "platform.h"
#include "words.h"

// ---- reading the text ---------------------------------------------------------------------

namespace {

// One line of the text, read from left to right. Columns count characters, from 1.
struct LineReader {
    const std::u32string* text;
    std::size_t begin;  // the line's first character in the text
    std::size_t end;    // past its last (its line end excluded)
    std::size_t at;     // the next character to read
    int line;
    std::string problem;  // the first error, with its place
};

bool failed(const LineReader& r) {
    return !r.problem.empty();
}

void failAt(LineReader* r, std::size_t at, const std::string& what) {
    if (failed(*r)) return;
    r->problem = "ligne " + std::to_string(r->line) + ", colonne " + std::to_string(at - r->begin + 1) + " : " + what;
}

void skipBlanks(LineReader* r) {
    while (r->at < r->end && ((*r->text)[r->at] == ' ' || (*r->text)[r->at] == '\t')) r->at++;
}

// Past the blanks, the line has nothing more but a comment.
bool lineOver(LineReader* r) {
    skipBlanks(r);
    return r->at == r->end || (*r->text)[r->at] == '#';
}

bool isLetter(char32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The word that comes next (letters), taken; empty when none comes.
std::string nextWord(LineReader* r) {
    skipBlanks(r);
    std::string word;
    while (r->at < r->end && isLetter((*r->text)[r->at])) word += static_cast<char>((*r->text)[r->at++]);
    return word;
}

// Takes the keyword `word`, or fails where it should be, saying what was expected.
bool expectWord(LineReader* r, const char* word, const std::string& expected) {
    skipBlanks(r);
    const std::size_t start = r->at;
    if (nextWord(r) == word) return true;
    failAt(r, start, expected);
    return false;
}

bool expectArrow(LineReader* r) {
    skipBlanks(r);
    if (r->at + 1 < r->end && (*r->text)[r->at] == '-' && (*r->text)[r->at + 1] == '>') {
        r->at += 2;
        return true;
    }
    failAt(r, r->at, "-> attendu");
    return false;
}

// A number of milliseconds followed by `ms`, from `least` to RULE_TIME_MAX_MS.
bool readMilliseconds(LineReader* r, long long least, long long* ms) {
    skipBlanks(r);
    const std::size_t start = r->at;
    long long value = 0;
    while (r->at < r->end && (*r->text)[r->at] >= '0' && (*r->text)[r->at] <= '9') {
        if (value <= RULE_TIME_MAX_MS) value = value * 10 + ((*r->text)[r->at] - '0');
        r->at++;
    }
    if (r->at == start) {
        failAt(r, start, "nombre de millisecondes attendu");
        return false;
    }
    if (value < least || value > RULE_TIME_MAX_MS) {
        failAt(r, start, "entre " + std::to_string(least) + " et " + std::to_string(RULE_TIME_MAX_MS) + " ms");
        return false;
    }
    *ms = value;
    return expectWord(r, "ms", "ms attendu");
}

bool readSyntax(LineReader* r, SendSyntax* syntax) {
    skipBlanks(r);
    const std::size_t start = r->at;
    const std::string word = nextWord(r);
    if (word == "texte" || word == "hex") {
        *syntax = word == "hex" ? SEND_AS_HEX : SEND_AS_TEXT;
        return true;
    }
    failAt(r, start, "texte ou hex attendu");
    return false;
}

// A text between quotes: its characters, and where the first one stands.
bool readQuoted(LineReader* r, std::u32string* quoted, std::size_t* first) {
    skipBlanks(r);
    if (r->at == r->end || (*r->text)[r->at] != '"') {
        failAt(r, r->at, "texte entre guillemets attendu");
        return false;
    }
    *first = ++r->at;
    while (r->at < r->end && (*r->text)[r->at] != '"') r->at++;
    if (r->at == r->end) {
        failAt(r, *first - 1, "guillemet fermant manquant (un guillemet dans le texte s'ecrit \\x22)");
        return false;
    }
    quoted->assign(*r->text, *first, r->at - *first);
    r->at++;
    return true;
}

// A way of writing and a quoted text, read as the send dialog reads it.
bool readBytes(LineReader* r, HexExtras extras, SentText* read, std::u32string* quoted, std::size_t* first) {
    SendSyntax syntax = SEND_AS_TEXT;
    if (!readSyntax(r, &syntax) || !readQuoted(r, quoted, first)) return false;
    *read = readSendCharacters(*quoted, syntax, syntax == SEND_AS_HEX ? extras : HEX_BYTES_ONLY);
    if (!read->ok) failAt(r, *first + read->problemAt, read->problem);
    return read->ok;
}

bool readPattern(LineReader* r, StreamPattern* pattern) {
    SentText read;
    std::u32string quoted;
    std::size_t first = 0;
    if (!readBytes(r, HEX_ANY_BYTE, &read, &quoted, &first)) return false;
    pattern->bytes = read.bytes;
    pattern->anyByte.assign(read.bytes.size(), false);
    for (std::size_t i = 0; i < read.marks.size(); ++i) pattern->anyByte[i] = read.marks[i] == MARK_ANY;
    if (read.bytes.empty()) failAt(r, first, "motif vide");
    else if (read.bytes.size() > RULE_BYTES_MAX) failAt(r, first, "motif de plus de " + groupedCount(RULE_BYTES_MAX) + " octets");
    else if (std::count(pattern->anyByte.begin(), pattern->anyByte.end(), false) == 0) {
        failAt(r, first, "motif sans octet donne : rien que des ??");
    }
    return !failed(*r);
}

// The place in `quoted` of its k-th `$` (from 0): where the k-th byte taken from the
// request is written.
std::size_t placeOfDollar(const std::u32string& quoted, std::size_t k) {
    for (std::size_t i = 0; i < quoted.size(); ++i) {
        if (quoted[i] == '$' && k-- == 0) return i;
    }
    return 0;
}

bool readReply(LineReader* r, std::size_t anyBytes, Rule* rule) {
    const std::size_t before = r->at;
    if (nextWord(r) == "apres") {
        if (!readMilliseconds(r, 0, &rule->delayMs)) return false;
    } else {
        r->at = before;
    }
    SentText read;
    std::u32string quoted;
    std::size_t first = 0;
    if (!readBytes(r, HEX_MATCHED_BYTE, &read, &quoted, &first)) return false;
    rule->reply = read.bytes;
    std::size_t dollars = 0;
    for (std::size_t i = 0; i < read.marks.size(); ++i) {
        if (read.marks[i] <= MARK_BYTE) continue;
        const int n = read.marks[i];
        if (static_cast<std::size_t>(n) > anyBytes) {
            failAt(r, first + placeOfDollar(quoted, dollars),
                   "$" + std::to_string(n) + " sans " + std::to_string(n) + "e ?? dans le motif");
            return false;
        }
        rule->matchedBytes.push_back({i, n});
        dollars++;
    }
    if (read.bytes.empty()) failAt(r, first, "reponse vide");
    else if (read.bytes.size() > RULE_BYTES_MAX) failAt(r, first, "reponse de plus de " + groupedCount(RULE_BYTES_MAX) + " octets");
    return !failed(*r);
}

// One line: nothing (blank or a comment), or a rule. False with the problem set when
// it is wrong.
bool readRuleLine(LineReader* r, std::vector<Rule>* rules) {
    if (lineOver(r)) return true;
    Rule rule = {ON_CONNECTION, StreamPattern(), 0, 0, std::string(), {}};
    const std::size_t start = r->at;
    const std::string trigger = nextWord(r);
    if (trigger == "recu") {
        rule.trigger = ON_RECEIVED;
        if (!readPattern(r, &rule.pattern)) return false;
    } else if (trigger == "toutes") {
        rule.trigger = EVERY_PERIOD;
        if (!readMilliseconds(r, RULE_PERIOD_MIN_MS, &rule.periodMs)) return false;
    } else if (trigger != "connexion") {
        failAt(r, start, "connexion, recu ou toutes attendu");
        return false;
    }
    if (!expectArrow(r)) return false;
    const std::size_t anyBytes = std::count(rule.pattern.anyByte.begin(), rule.pattern.anyByte.end(), true);
    if (!readReply(r, anyBytes, &rule)) return false;
    if (!lineOver(r)) {
        failAt(r, r->at, "fin de ligne attendue");
        return false;
    }
    if (rules->size() == RULES_MAX) {
        failAt(r, start, "plus de " + std::to_string(RULES_MAX) + " regles");
        return false;
    }
    rules->push_back(rule);
    return true;
}

RulesRead refusedRules(const std::string& problem) {
    return RulesRead{false, std::vector<Rule>(), problem};
}

// The line and column of the character at `at`, as an error names them.
std::string placeOf(const std::u32string& text, std::size_t at) {
    int line = 1;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < at; ++i) {
        if (text[i] == '\n') {
            line++;
            lineStart = i + 1;
        }
    }
    return "ligne " + std::to_string(line) + ", colonne " + std::to_string(at - lineStart + 1);
}

}  // namespace

RulesRead readRules(const std::string& text) {
    std::u32string characters;
    std::size_t wrongAt = 0;
    if (!decodeUtf8(text, &characters, &wrongAt)) {
        // The characters before the first wrong one are those decoded.
        return refusedRules(placeOf(characters, characters.size()) + " : texte illisible (UTF-8)");
    }
    RulesRead read = {true, std::vector<Rule>(), std::string()};
    std::size_t lineStart = 0;
    if (characters.size() >= 1 && characters[0] == 0xFEFF) lineStart = 1;  // a byte order mark
    for (int line = 1; lineStart <= characters.size(); ++line) {
        std::size_t lineEnd = characters.find(U'\n', lineStart);
        if (lineEnd == std::u32string::npos) lineEnd = characters.size();
        std::size_t contentEnd = lineEnd;
        if (contentEnd > lineStart && characters[contentEnd - 1] == '\r') contentEnd--;
        LineReader reader = {&characters, lineStart, contentEnd, lineStart, line, std::string()};
        if (!readRuleLine(&reader, &read.rules)) return refusedRules(reader.problem);
        lineStart = lineEnd + 1;
    }
    return read;
}

std::string rulesSummary(const RulesRead& read) {
    return read.ok ? countInWords(read.rules.size(), "regle") : read.problem;
}

std::string appliedRulesSummary(const RulesRead& read, std::size_t dropped) {
    if (dropped == 0) return rulesSummary(read);
    return rulesSummary(read) + " ; " + countInWords(dropped, "reponse abandonnee");
}

bool loadRulesFile(const std::string& path, std::string* text) {
    const FileHandle file = openFileToSend(path.c_str());
    std::uint64_t size = 0;
    bool read = file != NO_FILE && fileSizeOf(file, &size) && size <= RULES_FILE_MAX;
    if (read) {
        text->assign(static_cast<std::size_t>(size), '\0');
        std::size_t got = 0;
        while (read && got < text->size()) {
            const std::size_t more = readFileBytes(file, &(*text)[got], text->size() - got);
            read = more > 0;
            got += more;
        }
    }
    if (file != NO_FILE) closeFile(file);
    if (!read) showErrorBox((FILE_UNREADABLE_TEXT + path).c_str(), FILE_UNREADABLE_CAPTION);
    return read;
}

bool saveRulesFile(const std::string& path, const std::string& text) {
    const FileHandle file = openFileToReplace(path.c_str());
    const bool written = file != NO_FILE && writeFileBytes(file, text.data(), text.size());
    if (file != NO_FILE) closeFile(file);
    if (!written) showErrorBox((RULES_FILE_UNWRITABLE_TEXT + path).c_str(), FILE_UNREADABLE_CAPTION);
    return written;
}

// ---- matching on the received stream --------------------------------------------------

namespace {

// The bytes that the pattern's byte `k` (from its end: 0 the last) may be: all of
// them for `??`, and beyond its first byte, where anything may stand.
std::vector<int> bytesThatMayBe(const StreamPattern& pattern, std::size_t k) {
    const std::size_t length = pattern.bytes.size();
    std::vector<int> bytes;
    if (k >= length || pattern.anyByte[length - 1 - k]) {
        for (int b = 0; b < 256; ++b) bytes.push_back(b);
    } else {
        bytes.push_back(static_cast<unsigned char>(pattern.bytes[length - 1 - k]));
    }
    return bytes;
}

}  // namespace

void startMatching(StreamMatcher* matcher, const std::vector<StreamPattern>& patterns) {
    matcher->patterns = patterns;
    matcher->endingWith.assign(256, std::vector<std::size_t>());
    matcher->mayEnd.assign(256, 0);
    matcher->mayEndPair.assign(256 * 256, 0);
    matcher->nextStart.assign(patterns.size(), 0);
    std::size_t longest = 0;
    for (std::size_t p = 0; p < patterns.size(); ++p) {
        const StreamPattern& pattern = patterns[p];
        longest = std::max(longest, pattern.bytes.size());
        const std::vector<int> lasts = bytesThatMayBe(pattern, 0);
        const std::vector<int> befores = bytesThatMayBe(pattern, 1);
        for (int last : lasts) {
            matcher->endingWith[static_cast<std::size_t>(last)].push_back(p);
            matcher->mayEnd[static_cast<std::size_t>(last)] = 1;
            for (int before : befores) matcher->mayEndPair[static_cast<std::size_t>(before * 256 + last)] = 1;
        }
    }
    // How far a byte lets the search leap: within the shortest pattern's length, to the
    // nearest place from its end where some pattern holds that byte or `??`.
    std::size_t shortest = 255;
    for (const StreamPattern& pattern : patterns) shortest = std::min(shortest, pattern.bytes.size());
    std::size_t anyNearest = shortest;
    std::vector<std::size_t> nearest(256, shortest);
    for (const StreamPattern& pattern : patterns) {
        for (std::size_t k = 0; k < shortest; ++k) {
            const std::size_t at = pattern.bytes.size() - 1 - k;
            if (pattern.anyByte[at]) anyNearest = std::min(anyNearest, k);
            else nearest[static_cast<unsigned char>(pattern.bytes[at])] = std::min(nearest[static_cast<unsigned char>(pattern.bytes[at])], k);
        }
    }
    matcher->skip.assign(256, 0);
    for (int b = 0; b < 256; ++b) matcher->skip[static_cast<std::size_t>(b)] = static_cast<unsigned char>(std::min(nearest[static_cast<std::size_t>(b)], anyNearest));
    matcher->nextEnd = 1;
    matcher->tailKept = longest > 0 ? longest - 1 : 0;
    matcher->tail.clear();
    matcher->tail.reserve(matcher->tailKept);
    matcher->seen = 0;
}

namespace {

// Whether `pattern` ends at bytes[last], what came before the chunk being `tail`.
// The bytes its `??` matched go to `anyBytes` when it does.
bool endsHere(const StreamPattern& pattern, const std::string& tail, const unsigned char* bytes, std::size_t last,
              std::string* anyBytes) {
    const std::size_t length = pattern.bytes.size();
    for (std::size_t k = 0; k < length; ++k) {
        if (pattern.anyByte[length - 1 - k]) continue;
        const unsigned char seen = k <= last ? bytes[last - k]
                                             : static_cast<unsigned char>(tail[tail.size() - (k - last)]);
        if (seen != static_cast<unsigned char>(pattern.bytes[length - 1 - k])) return false;
    }
    anyBytes->clear();
    for (std::size_t k = 0; k < length; ++k) {
        if (!pattern.anyByte[k]) continue;
        const std::size_t back = length - 1 - k;  // bytes before the last
        *anyBytes += back <= last ? static_cast<char>(bytes[last - back]) : tail[tail.size() - (back - last)];
    }
    return true;
}

// The tail keeps the last bytes of the stream, as many as the longest pattern less one.
void keepTail(StreamMatcher* matcher, const unsigned char* bytes, std::size_t count) {
    const std::size_t kept = matcher->tailKept;
    if (count >= kept) {
        matcher->tail.assign(reinterpret_cast<const char*>(bytes + count - kept), kept);
        return;
    }
    const std::size_t old = std::min(matcher->tail.size(), kept - count);
    matcher->tail.erase(0, matcher->tail.size() - old);
    matcher->tail.append(reinterpret_cast<const char*>(bytes), count);
}

}  // namespace

namespace {

// The search looks at a chunk a block at a time, each block in four lanes.
const std::size_t BLOCK_SIZE = 4096;
const std::size_t LANES = 4;
const std::size_t LANE_SIZE = BLOCK_SIZE / LANES;

// The places of bytes[from, to) where a match may end (whose leap is 0), in order,
// into `places`; returns how many, and in `*next` the first place after `to` that
// is still to be looked at. The block is cut in four lanes that leap side by side:
// each lane waits for its own last look only, so that the four go at once.
std::size_t placesToLook(const unsigned char* bytes, std::size_t from, std::size_t to, const unsigned char* skip,
                         std::uint16_t (*places)[LANE_SIZE], std::size_t* found, std::size_t* next) {
    std::size_t at[LANES];
    std::size_t end[LANES];
    bool used[LANES];
    const std::size_t base = from - from % BLOCK_SIZE;
    for (std::size_t k = 0; k < LANES; ++k) {
        at[k] = std::max(from, base + k * LANE_SIZE);
        end[k] = std::min(to, base + (k + 1) * LANE_SIZE);
        used[k] = at[k] < end[k];
        found[k] = 0;
    }
    for (bool going = true; going;) {
        going = false;
        for (std::size_t k = 0; k < LANES; ++k) {
            if (at[k] >= end[k]) continue;
            going = true;
            std::size_t leap = skip[bytes[at[k]]];
            if (leap == 0) {
                places[k][found[k]++] = static_cast<std::uint16_t>(at[k] - base);
                leap = 1;
            }
            at[k] += leap;
        }
    }
    // A lane's last leap may pass `to`: the places it passed over are settled.
    *next = to;
    for (std::size_t k = 0; k < LANES; ++k) {
        if (used[k]) *next = std::max(*next, at[k]);
    }
    std::size_t total = 0;
    for (std::size_t k = 0; k < LANES; ++k) total += found[k];
    return total;
}

// Some pattern may end at bytes[i], by this byte and the one before it.
bool mayEndAt(const StreamMatcher& matcher, const unsigned char* bytes, std::size_t i) {
    if (i > 0) return matcher.mayEndPair[bytes[i - 1] * 256u + bytes[i]] != 0;
    if (matcher.tail.empty()) return matcher.mayEnd[bytes[0]] != 0;
    return matcher.mayEndPair[static_cast<unsigned char>(matcher.tail.back()) * 256u + bytes[0]] != 0;
}

}  // namespace

namespace {

// Whether patterns end at bytes[i]: those that do are matches.
void lookAt(StreamMatcher* matcher, const unsigned char* bytes, std::size_t i, const unsigned char* pairs,
            std::vector<StreamMatch>* matches) {
    if (i > 0 && pairs[bytes[i - 1] * 256u + bytes[i]] == 0) return;
    if (i == 0 && !mayEndAt(*matcher, bytes, 0)) return;
    const std::uint64_t end = matcher->seen + i + 1;  // bytes of the stream up to this one
    for (std::size_t p : matcher->endingWith[bytes[i]]) {
        const StreamPattern& pattern = matcher->patterns[p];
        const std::size_t length = pattern.bytes.size();
        if (end < length || end - length < matcher->nextStart[p]) continue;
        StreamMatch match = {p, std::string()};
        if (!endsHere(pattern, matcher->tail, bytes, i, &match.anyBytes)) continue;
        matcher->nextStart[p] = end;
        matches->push_back(match);
    }
}

}  // namespace

void matchChunk(StreamMatcher* matcher, const unsigned char* bytes, std::size_t count,
                std::vector<StreamMatch>* matches) {
    const unsigned char* pairs = matcher->mayEndPair.data();
    const unsigned char* skip = matcher->skip.data();
    std::uint16_t places[LANES][LANE_SIZE];
    std::size_t found[LANES];
    // The places to look at: from the next one a match may end at, leaping over those
    // where none can (as far as each byte seen allows).
    std::size_t i = static_cast<std::size_t>(matcher->nextEnd - matcher->seen - 1);
    while (i < count) {
        const std::size_t blockEnd = std::min(count, i - i % BLOCK_SIZE + BLOCK_SIZE);
        const std::size_t base = i - i % BLOCK_SIZE;
        std::size_t next = 0;
        if (placesToLook(bytes, i, blockEnd, skip, places, found, &next) > 0) {
            for (std::size_t k = 0; k < LANES; ++k) {
                for (std::size_t f = 0; f < found[k]; ++f) lookAt(matcher, bytes, base + places[k][f], pairs, matches);
            }
        }
        i = next;
    }
    matcher->nextEnd = matcher->seen + i + 1;
    keepTail(matcher, bytes, count);
    matcher->seen += count;
}

// ---- the rules in force ----------------------------------------------------------------

namespace {

struct WaitingReply {
    long long due;
    std::size_t rule;
    std::string bytes;
    std::uint64_t connection;
};

std::vector<Rule> inForce;
std::vector<RuleCounts> counts;
std::uint64_t countsVersion = 0;
bool active = false;
bool connected = false;
StreamMatcher matcher;
std::vector<std::size_t> ruleOfPattern;  // the matcher's patterns are the `recu` rules
std::vector<StreamMatch> found;
std::vector<WaitingReply> waiting;       // by when they are due, then as they came
std::vector<long long> nextTick;         // by rule: when a timed send is due, or -1

bool acting() {
    return active && connected;
}

void count(std::uint64_t RuleCounts::*which, std::size_t rule, std::uint64_t howMany = 1) {
    counts[rule].*which += howMany;
    countsVersion++;
}

// A reply goes now, or, `batched`, with the others of the chunk being matched.
void sendNow(std::size_t rule, const std::string& bytes, bool batched = false) {
    const int number = static_cast<int>(rule + 1);
    switch (batched ? queueReply(bytes, number) : sendReply(bytes, number)) {
    case SEND_QUEUED: count(&RuleCounts::sent, rule); break;
    case SEND_WITHOUT_ROOM: count(&RuleCounts::noRoom, rule); break;
    case SEND_WITHOUT_PEER: count(&RuleCounts::ended, rule); break;
    }
}

// The timer is set for the first thing due, or stopped when nothing is.
void scheduleNextDue() {
    long long first = -1;
    if (!waiting.empty()) first = waiting.front().due;
    for (long long tick : nextTick) {
        if (tick >= 0 && (first < 0 || tick < first)) first = tick;
    }
    if (first < 0) {
        cancelRulesTimer();
        return;
    }
    const long long now = monotonicMilliseconds();
    scheduleRulesTimer(first > now ? first - now : 0);
}

void replyTo(std::size_t rule, const std::string& anyBytes, bool batched = false) {
    const Rule& r = inForce[rule];
    std::string bytes = r.reply;
    for (const auto& taken : r.matchedBytes) bytes[taken.first] = anyBytes[static_cast<std::size_t>(taken.second - 1)];
    if (r.delayMs == 0) {
        sendNow(rule, bytes, batched);
        return;
    }
    if (waiting.size() >= RULE_REPLIES_WAITING_MAX) {
        count(&RuleCounts::tooMany, rule);
        return;
    }
    const WaitingReply reply = {monotonicMilliseconds() + r.delayMs, rule, bytes, outgoingConnection()};
    const auto place = std::upper_bound(waiting.begin(), waiting.end(), reply.due,
                                        [](long long due, const WaitingReply& w) { return due < w.due; });
    waiting.insert(place, reply);
    scheduleNextDue();
}

// The replies that wait are dropped, each counted `as`; timed sends stop.
void dropWaiting(std::uint64_t RuleCounts::*as) {
    for (const WaitingReply& reply : waiting) count(as, reply.rule);
    waiting.clear();
    nextTick.assign(inForce.size(), -1);
    cancelRulesTimer();
}

// The rules begin to act on the connection now: matching starts afresh, and the
// timed sends are due a period from now.
void startActing() {
    std::vector<StreamPattern> patterns;
    ruleOfPattern.clear();
    for (std::size_t i = 0; i < inForce.size(); ++i) {
        if (inForce[i].trigger != ON_RECEIVED) continue;
        patterns.push_back(inForce[i].pattern);
        ruleOfPattern.push_back(i);
    }
    startMatching(&matcher, patterns);
    const long long now = monotonicMilliseconds();
    nextTick.assign(inForce.size(), -1);
    for (std::size_t i = 0; i < inForce.size(); ++i) {
        if (inForce[i].trigger == EVERY_PERIOD) nextTick[i] = now + inForce[i].periodMs;
    }
    scheduleNextDue();
}

}  // namespace

std::size_t applyRules(const std::vector<Rule>& rules) {
    const std::size_t dropped = waiting.size();
    waiting.clear();
    inForce = rules;
    counts.assign(inForce.size(), RuleCounts{0, 0, 0, 0, 0});
    nextTick.assign(inForce.size(), -1);
    countsVersion++;
    if (acting()) startActing();
    else cancelRulesTimer();
    return dropped;
}

const std::vector<Rule>& rulesInForce() {
    return inForce;
}

void setRulesActive(bool on) {
    if (on == active) return;
    active = on;
    countsVersion++;
    if (!active) dropWaiting(&RuleCounts::cancelled);
    else if (connected) startActing();
}

bool rulesActive() {
    return active;
}

const RuleCounts& ruleCounts(std::size_t rule) {
    return counts[rule];
}

std::string ruleCountsText(std::size_t rule) {
    const RuleCounts& c = counts[rule];
    std::string text = "regle " + std::to_string(rule + 1) + " : " + countInWords(c.sent, "envoyee");
    if (c.noRoom > 0) text += ", " + groupedCount(c.noRoom) + " sans place";
    if (c.ended > 0) text += ", " + groupedCount(c.ended) + " hors connexion";
    if (c.tooMany > 0) text += ", " + groupedCount(c.tooMany) + " en surnombre";
    if (c.cancelled > 0) text += ", " + countInWords(c.cancelled, "annulee");
    return text;
}

std::uint64_t rulesCountsVersion() {
    return countsVersion;
}

void rulesConnectionStarted() {
    connected = true;
    if (!active) return;
    startActing();
    for (std::size_t i = 0; i < inForce.size(); ++i) {
        if (inForce[i].trigger == ON_CONNECTION) replyTo(i, std::string());
    }
}

void rulesSeeReceived(const unsigned char* bytes, std::size_t count) {
    if (!acting() || matcher.patterns.empty()) return;
    found.clear();
    matchChunk(&matcher, bytes, count, &found);
    if (found.empty()) return;
    for (const StreamMatch& match : found) replyTo(ruleOfPattern[match.pattern], match.anyBytes, true);
    sendWaitingBytes();
}

void rulesConnectionEnded() {
    connected = false;
    dropWaiting(&RuleCounts::ended);
}

void onRulesTimerDue() {
    const long long now = monotonicMilliseconds();
    for (;;) {
        // The first thing due: a waiting reply, or a timed send.
        std::size_t tickRule = nextTick.size();
        for (std::size_t i = 0; i < nextTick.size(); ++i) {
            if (nextTick[i] >= 0 && nextTick[i] <= now && (tickRule == nextTick.size() || nextTick[i] < nextTick[tickRule])) {
                tickRule = i;
            }
        }
        const bool replyDue = !waiting.empty() && waiting.front().due <= now;
        if (replyDue && (tickRule == nextTick.size() || waiting.front().due <= nextTick[tickRule])) {
            const WaitingReply reply = waiting.front();
            waiting.erase(waiting.begin());
            if (reply.connection != outgoingConnection()) count(&RuleCounts::ended, reply.rule);
            else sendNow(reply.rule, reply.bytes);
        } else if (tickRule < nextTick.size()) {
            sendNow(tickRule, inForce[tickRule].reply);
            // Due a period after the last one was due, or a period from now when that
            // has passed: a send that fell behind is not made up for in a burst.
            const long long next = nextTick[tickRule] + inForce[tickRule].periodMs;
            nextTick[tickRule] = next > now ? next : now + inForce[tickRule].periodMs;
        } else {
            break;
        }
    }
    scheduleNextDue();
}
