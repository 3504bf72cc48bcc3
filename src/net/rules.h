// Reply rules: what the program sends by itself on a connection. A rule is one
// line of a text:
//
//     # a comment; blank lines are allowed
//     connexion                  -> texte "Bienvenue\r\n"
//     recu hex "10 ?? 00 04 4D 51 54 54"   -> hex "20 02 00 00"
//     recu texte "AT\r"          -> apres 50 ms texte "OK\r\n"
//     toutes 1000 ms             -> hex "30 0A 00 03 74 2F 31 68 65 6C 6C 6F"
//     recu hex "?? ?? 00 00 00 06 01 03 00 00 00 02" -> hex "$1 $2 00 00 00 07 01 03 04 00 2A 00 2B"
//
// Its trigger: a peer accepted (`connexion`), the received bytes of the connection
// ending with a pattern (`recu`), or every N ms while a peer is connected (`toutes`).
// Its reply, sent at once or N ms after the trigger (`apres N ms`). Texts and
// hexadecimal are read as the send dialog reads them; in a pattern `??` is any one
// byte, and in a hexadecimal reply `$N` is the byte that the pattern's N-th `??`
// matched.
#ifndef ORU_RULES_H
#define ORU_RULES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum RuleTrigger { ON_CONNECTION, ON_RECEIVED, EVERY_PERIOD };

// The bounds of a rule's times, in milliseconds.
const long long RULE_PERIOD_MIN_MS = 10;
const long long RULE_TIME_MAX_MS = 86400000;  // a day
// The most bytes a reply or a pattern gives: the room of the queue to the peer.
const std::size_t RULE_BYTES_MAX = 64 * 1024;
// The most rules one text holds.
const std::size_t RULES_MAX = 1000;

// A pattern of the received stream: its bytes, and where any byte matches.
struct StreamPattern {
    std::string bytes;
    std::vector<bool> anyByte;  // one a byte: true where the pattern has `??`
};

struct Rule {
    RuleTrigger trigger;
    StreamPattern pattern;  // ON_RECEIVED
    long long periodMs;     // EVERY_PERIOD
    long long delayMs;      // 0: the reply goes at once
    std::string reply;      // its bytes
    // Where the reply takes a byte of the request: (place in the reply, N of `$N`).
    std::vector<std::pair<std::size_t, int>> matchedBytes;
};

struct RulesRead {
    bool ok;
    std::vector<Rule> rules;
    std::string problem;  // the first error, "ligne 3, colonne 12 : ...", when not ok
};

// Reads a UTF-8 text of rules. Any error refuses the whole text.
RulesRead readRules(const std::string& text);
// What the rules dialog's line says of a text: "5 regles", or its first error.
std::string rulesSummary(const RulesRead& read);
// What it says once the text was applied, `dropped` delayed replies that waited
// having been dropped: "5 regles", or "5 regles ; 2 reponses abandonnees".
std::string appliedRulesSummary(const RulesRead& read, std::size_t dropped);

// The most a rules file holds.
const std::size_t RULES_FILE_MAX = 1024 * 1024;
const char RULES_FILE_UNWRITABLE_TEXT[] = "Impossible d'ecrire le fichier ";
// A rules file, by its UTF-8 path, read whole into `text`; false when it cannot be
// read or holds more than RULES_FILE_MAX (a box says so, as for a file to send).
bool loadRulesFile(const std::string& path, std::string* text);
// Writes `text` as the whole of the file; false when it cannot (a box says so).
bool saveRulesFile(const std::string& path, const std::string& text);

// ---- matching on the received stream --------------------------------------------------
// A match: the pattern's number in the matcher, and the bytes its `??` matched.
struct StreamMatch {
    std::size_t pattern;
    std::string anyBytes;
};
// Finds patterns in a stream given chunk by chunk, whatever cuts it: a match is found
// once, when its last byte comes; matches of one pattern do not overlap (after one,
// the pattern looks again from the next byte). It keeps no more of the stream than
// the longest pattern less one byte, and copies no more.
struct StreamMatcher {
    std::vector<StreamPattern> patterns;
    std::vector<std::vector<std::size_t>> endingWith;  // by last byte: the patterns, in order
    // By byte, and by a byte and the one before it (before * 256 + byte): 1 where some
    // pattern may end there. Most bytes of a stream are passed over by one look.
    std::vector<unsigned char> mayEnd;
    std::vector<unsigned char> mayEndPair;
    // By byte: how many places on no pattern can end once the byte is seen (the
    // place of the byte itself included), at most the shortest pattern's length: the
    // byte stands, in every pattern, no nearer to its end than that.
    std::vector<unsigned char> skip;
    std::uint64_t nextEnd;                              // the next place a match may end at (bytes seen then)
    std::vector<std::uint64_t> nextStart;               // by pattern: where its next match may begin
    std::string tail;                                   // the last bytes before the chunk
    std::size_t tailKept;                               // how many it keeps
    std::uint64_t seen;                                 // bytes of the stream so far
};
void startMatching(StreamMatcher* matcher, const std::vector<StreamPattern>& patterns);
// The matches that end in this chunk, in the order of their last byte, and for one
// byte in the patterns' order.
void matchChunk(StreamMatcher* matcher, const unsigned char* bytes, std::size_t count,
                std::vector<StreamMatch>* matches);

// ---- the rules in force ----------------------------------------------------------------
// What became of a rule's replies in this run.
struct RuleCounts {
    std::uint64_t sent;         // handed to the queue to the peer
    std::uint64_t noRoom;       // the queue's 64 KB were full
    std::uint64_t ended;        // its connection ended before its delay
    std::uint64_t tooMany;      // past RULE_REPLIES_WAITING_MAX waiting
    std::uint64_t cancelled;    // waiting when the rules stopped acting
};
// The most delayed replies that wait at once; one more is not sent, and counted.
const std::size_t RULE_REPLIES_WAITING_MAX = 1000;

// The rules that act from now on, with counts anew. Delayed replies that waited are
// dropped; returns how many.
std::size_t applyRules(const std::vector<Rule>& rules);
const std::vector<Rule>& rulesInForce();
// Whether the rules in force act ("Actives"); off at start. Turned off, the delayed
// replies that wait are dropped (counted as cancelled).
void setRulesActive(bool active);
bool rulesActive();
const RuleCounts& ruleCounts(std::size_t rule);
// "regle 3 : 12 envoyees, 1 sans place" (numbers from 1).
std::string ruleCountsText(std::size_t rule);
// Changes whenever a count does.
std::uint64_t rulesCountsVersion();

// ---- the link's side --------------------------------------------------------------------
// A peer was accepted (after the queue to it was started): greetings, timed sends.
void rulesConnectionStarted();
// What the peer sent, after the capture took it.
void rulesSeeReceived(const unsigned char* bytes, std::size_t count);
// The connection ended: what waited for it is dropped, counted.
void rulesConnectionEnded();
// The rules' timer is due (scheduleRulesTimer): what is due goes.
void onRulesTimerDue();

#endif
