// Reply rules: their text read or refused with the place of its first error, their
// patterns found on a stream however it is cut, and what the program sends by
// itself on a connection, counted.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"
#include "net/link.h"
#include "net/outgoing.h"
#include "net/rules.h"
#include "terminal/received_bytes.h"

namespace {

const std::uint32_t EVENT_READ = 1;
const std::uint32_t EVENT_ACCEPT = 8;
const std::uint32_t EVENT_CLOSE = 32;

// The rules of the README's example.
const char EXAMPLE[] =
    "# a comment; blank lines are allowed\n"
    "\n"
    "connexion                  -> texte \"Bienvenue\\r\\n\"\n"
    "recu hex \"10 ?? 00 04 4D 51 54 54\"   -> hex \"20 02 00 00\"\r\n"
    "recu hex \"C0 00\"           -> hex \"D0 00\"\n"
    "recu texte \"AT\\r\"          -> apres 50 ms texte \"OK\\r\\n\"\n"
    "toutes 1000 ms             -> hex \"30 0A 00 03 74 2F 31 68 65 6C 6C 6F\"\n"
    "recu hex \"?? ?? 00 00 00 06 01 03 00 00 00 02\" -> hex \"$1 $2 00 00 00 07 01 03 04 00 2A 00 2B\"  # modbus\n";

TEST(RulesText, TheExampleIsReadRuleByRule) {
    const RulesRead read = readRules(EXAMPLE);
    ASSERT_TRUE(read.ok) << read.problem;
    EXPECT_EQ("6 regles", rulesSummary(read));
    ASSERT_EQ(6u, read.rules.size());
    EXPECT_EQ(ON_CONNECTION, read.rules[0].trigger);
    EXPECT_EQ("Bienvenue\r\n", read.rules[0].reply);
    EXPECT_EQ(ON_RECEIVED, read.rules[1].trigger);
    EXPECT_EQ(std::string("\x10\0\0\x04MQTT", 8), read.rules[1].pattern.bytes);
    EXPECT_EQ(std::vector<bool>({false, true, false, false, false, false, false, false}), read.rules[1].pattern.anyByte);
    EXPECT_EQ(50, read.rules[3].delayMs);
    EXPECT_EQ("AT\r", read.rules[3].pattern.bytes);
    EXPECT_EQ(EVERY_PERIOD, read.rules[4].trigger);
    EXPECT_EQ(1000, read.rules[4].periodMs);
    EXPECT_EQ((std::vector<std::pair<std::size_t, int>>({{0, 1}, {1, 2}})), read.rules[5].matchedBytes);
    EXPECT_EQ("1 regle", rulesSummary(readRules("connexion->hex\"00\"")))
        << "blanks between the parts are free";
    EXPECT_EQ("0 regle", rulesSummary(readRules("  # nothing\n\n")));
}

// A text with an error gives no rule: the error names its line and column (in
// characters, from 1) and what was expected.
TEST(RulesText, AnErrorNamesItsLineColumnAndWhatWasExpected) {
    const struct {
        const char* text;
        const char* problem;
    } cases[] = {
        {"conexion -> hex \"00\"", "ligne 1, colonne 1 : connexion, recu ou toutes attendu"},
        {"Connexion -> hex \"00\"", "ligne 1, colonne 1 : connexion, recu ou toutes attendu"},
        {"connexion hex \"00\"", "ligne 1, colonne 11 : -> attendu"},
        {"connexion -> hexa \"00\"", "ligne 1, colonne 14 : texte ou hex attendu"},
        {"connexion -> hex 00", "ligne 1, colonne 18 : texte entre guillemets attendu"},
        {"connexion -> texte \"a\"b\"", "ligne 1, colonne 23 : fin de ligne attendue"},
        {"connexion -> texte \"abc", "ligne 1, colonne 20 : guillemet fermant manquant (un guillemet dans le texte s'ecrit \\x22)"},
        {"\n\nrecu hex \"C0 0\" -> hex \"D0 00\"", "ligne 3, colonne 14 : chiffre hexadecimal seul"},
        {"recu hex \"C0 00\" -> texte \"\\q\"", "ligne 1, colonne 28 : sequence \\q inconnue"},
        {u8"recu texte \"\u00e9\u03a9\" -> hex \"00\"", "ligne 1, colonne 14 : caractere U+03A9 absent de la page de code"},
        {"recu hex \"\" -> hex \"00\"", "ligne 1, colonne 11 : motif vide"},
        {"recu hex \"?? ??\" -> hex \"00\"", "ligne 1, colonne 11 : motif sans octet donne : rien que des ??"},
        {"recu hex \"01 ? 02\" -> hex \"00\"", "ligne 1, colonne 14 : ? seul (?? vaut un octet quelconque)"},
        {"recu texte \"??\" -> hex \"00\"", nullptr},  // a text pattern has no ??
        {"recu hex \"01 ??\" -> hex \"$1 $2\"", "ligne 1, colonne 29 : $2 sans 2e ?? dans le motif"},
        {"connexion -> hex \"$1\"", "ligne 1, colonne 19 : $1 sans 1e ?? dans le motif"},
        {"recu hex \"01 ??\" -> hex \"$ 00\"", "ligne 1, colonne 26 : $ sans numero : $1 est l'octet du premier ?? du motif"},
        {"recu hex \"01\" -> texte \"$1\"", nullptr},  // in a text, $ is itself
        {"recu hex \"01 ??\" -> hex \"?? 00\"", "ligne 1, colonne 26 : caractere ? invalide"},
        {"connexion -> hex \"\"", "ligne 1, colonne 19 : reponse vide"},
        {"toutes 9 ms -> hex \"00\"", "ligne 1, colonne 8 : entre 10 et 86400000 ms"},
        {"toutes 86400001 ms -> hex \"00\"", "ligne 1, colonne 8 : entre 10 et 86400000 ms"},
        {"toutes 99999999999999999999 ms -> hex \"00\"", "ligne 1, colonne 8 : entre 10 et 86400000 ms"},
        {"toutes ms -> hex \"00\"", "ligne 1, colonne 8 : nombre de millisecondes attendu"},
        {"toutes 100 -> hex \"00\"", "ligne 1, colonne 12 : ms attendu"},
        {"connexion -> apres 5 s hex \"00\"", "ligne 1, colonne 22 : ms attendu"},
        {"connexion -> apres 0 ms hex \"00\"", nullptr},
        {"recu hex \"01\" -> hex \"00\" junk", "ligne 1, colonne 27 : fin de ligne attendue"},
        {"recu hex \"01\" -> hex \"00\" # ok", nullptr},
        {"connexion -> texte \"a\xff\"", "ligne 1, colonne 22 : texte illisible (UTF-8)"},
    };
    for (const auto& c : cases) {
        const RulesRead read = readRules(c.text);
        if (c.problem == nullptr) {
            EXPECT_TRUE(read.ok) << c.text << ": " << read.problem;
            continue;
        }
        EXPECT_FALSE(read.ok) << c.text;
        EXPECT_EQ(c.problem, read.problem) << c.text;
        EXPECT_TRUE(read.rules.empty());
        EXPECT_EQ(c.problem, rulesSummary(read));
    }
    // A reply the queue to the peer could never take.
    const std::string huge = "connexion -> texte \"" + std::string(RULE_BYTES_MAX + 1, 'x') + "\"";
    EXPECT_EQ("ligne 1, colonne 21 : reponse de plus de 65 536 octets", readRules(huge).problem);
    std::string many;
    for (std::size_t i = 0; i <= RULES_MAX; ++i) many += "connexion -> hex \"00\"\n";
    EXPECT_EQ("ligne 1001, colonne 1 : plus de 1000 regles", readRules(many).problem);
}

// The matches of patterns on a stream given in pieces.
std::vector<std::string> matchesIn(const std::vector<std::string>& patterns, const std::vector<std::string>& pieces) {
    std::vector<StreamPattern> read;
    for (const std::string& text : patterns) {
        const RulesRead rules = readRules("recu hex \"" + text + "\" -> hex \"00\"");
        read.push_back(rules.rules.at(0).pattern);
    }
    StreamMatcher matcher;
    startMatching(&matcher, read);
    std::vector<StreamMatch> found;
    for (const std::string& piece : pieces) {
        matchChunk(&matcher, reinterpret_cast<const unsigned char*>(piece.data()), piece.size(), &found);
    }
    std::vector<std::string> seen;
    for (const StreamMatch& m : found) seen.push_back(std::to_string(m.pattern) + ":" + m.anyBytes);
    return seen;
}

TEST(RulesMatching, APatternIsFoundOnceWhenItsLastByteComesWhateverCutsTheStream) {
    // Split over three reads, one byte each, with its ?? in the middle.
    EXPECT_EQ(std::vector<std::string>({"0:B"}), matchesIn({"41 ?? 43"}, {"A", "B", "C"}));
    EXPECT_EQ(std::vector<std::string>({"0:B"}), matchesIn({"41 ?? 43"}, {"xxA", "", "BC", "yy"}));
    // Matches of one pattern do not overlap: AAAA holds two AA, not three.
    EXPECT_EQ(std::vector<std::string>({"0:", "0:"}), matchesIn({"41 41"}, {"AAAA"}));
    EXPECT_EQ(std::vector<std::string>({"0:", "0:"}), matchesIn({"41 41"}, {"A", "A", "A", "A"}));
    // Each pattern on its own; for one byte, in the patterns' order.
    EXPECT_EQ(std::vector<std::string>({"0:", "1:", "0:"}), matchesIn({"43", "42 43"}, {"ABC", "C"}));
    // The longest pattern spans the pieces; a shorter one needs no more kept.
    EXPECT_EQ(std::vector<std::string>({"1:", "0:12"}),
              matchesIn({"01 ?? ?? 04 05", "04"}, {"\x01", "\x31", "\x32\x04", "\x05"}));
    // ?? at the end matches any last byte.
    EXPECT_EQ(std::vector<std::string>({"0:x", "0:y"}), matchesIn({"41 ??"}, {"Ax", "zA", "y"}));
    EXPECT_TRUE(matchesIn({"C0 00"}, {"C0 00 as text"}).empty());
}

// Streams far longer than the blocks the search looks at, cut at random places:
// every cut gives the matches of the whole stream at once.
TEST(RulesMatching, ALongStreamCutAnywhereMatchesAsTheWholeStream) {
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 16;
    };
    std::string stream;
    for (int i = 0; i < 200000; ++i) stream += static_cast<char>('a' + next() % 3);
    const std::vector<std::vector<std::string>> patternSets = {
        {"61 62 63 61", "62 62"}, {"61 ?? 63", "63 63 63 63 63 63 63 63"}, {"61 62 ??"}};
    for (const auto& patterns : patternSets) {
        std::vector<std::string> hex;
        for (const std::string& p : patterns) hex.push_back(p);
        const std::vector<std::string> whole = matchesIn(hex, {stream});
        EXPECT_GT(whole.size(), 100u);
        // What a search that looks at every byte, as plainly as it can, finds.
        std::vector<StreamPattern> read;
        for (const std::string& text : patterns) read.push_back(readRules("recu hex \"" + text + "\" -> hex \"00\"").rules.at(0).pattern);
        std::vector<std::string> plain;
        std::vector<std::size_t> nextStart(read.size(), 0);
        for (std::size_t end = 1; end <= stream.size(); ++end) {
            for (std::size_t p = 0; p < read.size(); ++p) {
                const std::size_t length = read[p].bytes.size();
                if (end < length || end - length < nextStart[p]) continue;
                bool same = true;
                std::string any;
                for (std::size_t k = 0; k < length && same; ++k) {
                    const char c = stream[end - length + k];
                    if (read[p].anyByte[k]) any += c;
                    else same = c == read[p].bytes[k];
                }
                if (!same) continue;
                nextStart[p] = end;
                plain.push_back(std::to_string(p) + ":" + any);
            }
        }
        EXPECT_TRUE(plain == whole) << patterns[0] << ": " << plain.size() << " plain, " << whole.size() << " found";
        for (int round = 0; round < 3; ++round) {
            std::vector<std::string> pieces;
            for (std::size_t at = 0; at < stream.size();) {
                const std::size_t length = next() % (round == 0 ? 8 : round == 1 ? 5000 : 70000);
                pieces.push_back(stream.substr(at, length));
                at += length;
            }
            EXPECT_TRUE(matchesIn(hex, pieces) == whole) << patterns[0] << ", round " << round;
        }
    }
}

class RulesTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetAll();
        fake.clockStep = 0;
    }
    void TearDown() override { resetAll(); }

    static void apply(const std::string& text) {
        const RulesRead read = readRules(text);
        ASSERT_TRUE(read.ok) << read.problem;
        applyRules(read.rules);
        setRulesActive(true);
    }
    // A peer accepted on socket `socket`, listening first when idle.
    static void accept(SocketHandle socket) {
        if (serverState == SERVER_IDLE) onListenCommand();
        fake.accepts.push_back(FakeAccept{socket, ipv4("127.0.0.1"), 50123});
        onSocketNotify(listeningSocket, EVENT_ACCEPT);
        ASSERT_EQ(SERVER_CONNECTED, serverState) << traceText();
    }
    static void receive(SocketHandle socket, const std::string& bytes) {
        fake.receives.push_back(FakeReceive{0, Bytes(bytes.begin(), bytes.end())});
        onSocketNotify(socket, EVENT_READ);
    }
    static void close(SocketHandle socket) {
        fake.receives.push_back(FakeReceive{0, Bytes()});
        onSocketNotify(socket, EVENT_CLOSE);
    }
    static std::string sent() { return std::string(fake.sent.begin(), fake.sent.end()); }
    // The timer comes `ms` from now.
    static void wait(long long ms) {
        const long long until = fake.now + ms;
        while (fake.rulesTimerAt >= 0 && fake.rulesTimerAt <= until) {
            fake.now = fake.rulesTimerAt;
            fake.rulesTimerAt = -1;
            onRulesTimerDue();
        }
        fake.now = until;
    }
};

TEST_F(RulesTest, ARequestCutIntoBytesIsAnsweredOnceInOrderAndTheGreetingOpensEachConnection) {
    onKeepListeningCommand();
    apply(EXAMPLE);
    accept(8);
    EXPECT_EQ("Bienvenue\r\n", sent());
    fake.sent.clear();
    const std::string connect("\x10\x0c\x00\x04MQTT\x04\x02\x00\x3c", 12);
    const std::string ping("\xc0\x00", 2);
    for (char c : connect + ping) receive(8, std::string(1, c));
    EXPECT_EQ(std::string("\x20\x02\x00\x00\xd0\x00", 6), sent());
    fake.sent.clear();
    receive(8, connect + ping + ping);
    EXPECT_EQ(std::string("\x20\x02\x00\x00\xd0\x00\xd0\x00", 8), sent());

    // A Modbus/TCP poll: the reply carries each request's transaction id.
    fake.sent.clear();
    receive(8, std::string("\x12\x34\x00\x00\x00\x06\x01\x03\x00\x00\x00\x02", 12));
    receive(8, std::string("\x12\x35\x00\x00\x00\x06\x01\x03\x00\x00\x00\x02", 12));
    EXPECT_EQ(std::string("\x12\x34\x00\x00\x00\x07\x01\x03\x04\x00\x2a\x00\x2b"
                          "\x12\x35\x00\x00\x00\x07\x01\x03\x04\x00\x2a\x00\x2b",
                          26),
              sent());

    // The next connection is greeted too, and matches afresh: half a request left
    // by the first peer completes nothing.
    receive(8, std::string("\xc0", 1));
    fake.accepts.push_back(FakeAccept{NO_SOCKET, 0, 0, ACCEPT_NONE_WAITING});
    close(8);
    ASSERT_EQ(SERVER_LISTENING, serverState);
    fake.sent.clear();
    accept(9);
    receive(9, std::string("\x00", 1));
    EXPECT_EQ("Bienvenue\r\n", sent());
    EXPECT_EQ("regle 1 : 2 envoyees", ruleCountsText(0));
    EXPECT_EQ("regle 3 : 3 envoyees", ruleCountsText(2));
}

TEST_F(RulesTest, AReplyIsASendOfItsOwnNamingItsRuleAndRulesDoNothingUntilActive) {
    const RulesRead read = readRules("recu texte \"?\" -> texte \"!\"\nrecu texte \"AT\\r\" -> texte \"OK\\r\\n\"");
    applyRules(read.rules);
    accept(8);
    receive(8, "AT\r");
    EXPECT_TRUE(fake.sent.empty()) << "rules acted before Actives was checked";
    setRulesActive(true);
    fake.now += 7;
    receive(8, "AT\r");
    EXPECT_EQ("OK\r\n", sent());
    // The mark, the receive of 3, the receive of 3, the reply, which went at once.
    EXPECT_EQ("00:00:00.000  +0.000 s  4 octets envoyes (regle 2)", octetRowText(1 + 2 + 2));
    // Taken by the socket in one send with a typed key that waited, the reply is
    // still a send of its own.
    fake.sendRoom = 0;
    sendTypedChar('k');
    receive(8, "AT\r");
    fake.sendRoom = static_cast<std::size_t>(-1);
    fake.trace.clear();
    onSocketNotify(8, 2);  // the socket can take more
    EXPECT_EQ(std::vector<std::string>({"send 8 5 bytes"}), fake.trace);
    EXPECT_EQ("OK\r\nkOK\r\n", sent());
    const std::uint64_t reply = octetRowsEnd() - 2;
    EXPECT_NE(std::string::npos, octetRowText(reply - 2).find("  1 octet envoye")) << octetRowText(reply - 2);
    EXPECT_NE(std::string::npos, octetRowText(reply).find("  4 octets envoyes (regle 2)")) << octetRowText(reply);
    setRulesActive(false);
    receive(8, "AT\r");
    EXPECT_EQ("OK\r\nkOK\r\n", sent());
}

TEST_F(RulesTest, DelayedRepliesAndTimedSendsGoWhenDueAndStopWithTheConnection) {
    apply("recu texte \"AT\\r\" -> apres 50 ms texte \"OK\\r\\n\"\ntoutes 100 ms -> texte \".\"");
    accept(8);
    receive(8, "AT\r");
    EXPECT_TRUE(fake.sent.empty());
    wait(49);
    EXPECT_TRUE(fake.sent.empty());
    wait(1);
    EXPECT_EQ("OK\r\n", sent());
    wait(950);
    EXPECT_EQ("OK\r\n..........", sent()) << "ten timed sends in a second";
    // The window stalls for 350 ms: one send, then the period starts again.
    fake.now += 350;
    fake.rulesTimerAt = -1;
    onRulesTimerDue();
    wait(99);
    EXPECT_EQ("OK\r\n...........", sent()) << "a send that fell behind is not made up for";
    // A reply that waits when the connection ends is not sent, and counted.
    receive(8, "AT\r");
    close(8);
    EXPECT_EQ(-1, fake.rulesTimerAt) << "the timer goes on without a connection";
    EXPECT_EQ("regle 1 : 1 envoyee, 1 hors connexion", ruleCountsText(0));
    EXPECT_EQ("regle 2 : 11 envoyees", ruleCountsText(1));
}

// A peer that never reads, while a rule answers each of its lines: the replies that
// find no room are counted, and what waits is bounded.
TEST_F(RulesTest, RepliesWithoutRoomOrPastTheWaitingBoundAreCountedNotKept) {
    apply("recu texte \"\\n\" -> texte \"ack\\r\\n\"\nrecu texte \"?\" -> apres 10 ms texte \"!\"");
    accept(8);
    fake.sendRoom = 0;
    std::string lines;
    for (int i = 0; i < 20000; ++i) lines += "line?\n";
    receive(8, lines);
    EXPECT_EQ(SEND_QUEUE_SIZE / 5 * 5, bytesWaitingToSend()) << "a reply goes whole or not at all";
    const RuleCounts& acks = ruleCounts(0);
    EXPECT_EQ(SEND_QUEUE_SIZE / 5, acks.sent);
    EXPECT_EQ(20000 - SEND_QUEUE_SIZE / 5, acks.noRoom);
    EXPECT_EQ(20000 - RULE_REPLIES_WAITING_MAX, ruleCounts(1).tooMany);
    // Unchecking Actives drops what waits, counted.
    setRulesActive(false);
    EXPECT_EQ(RULE_REPLIES_WAITING_MAX, ruleCounts(1).cancelled);
    EXPECT_EQ("regle 2 : 0 envoyee, 19 000 en surnombre, 1 000 annulees", ruleCountsText(1));
}

}  // namespace
