// The pcapng file of a conversation: its blocks, its packets as a TCP stream, their
// checksums, and the bytes of each side read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "capture/pcapng.h"
#include "pcapng_reader.h"

namespace {

const std::uint32_t LOCAL_ADDRESS = 0x0100007F;  // 127.0.0.1 as the sockets give it
const std::uint32_t PEER_ADDRESS = 0x1401A8C0;   // 192.168.1.20

std::vector<unsigned char> bytesOf(const std::string& text) {
    return std::vector<unsigned char>(text.begin(), text.end());
}

// An IPv6 end: 2001:db8::`last`, or fe80::`last` with an interface number.
Endpoint ipv6End(bool linkLocal, unsigned char last, std::uint16_t port) {
    Endpoint end = {FAMILY_IPV6, {}, port, linkLocal ? 3u : 0u};
    end.address[0] = linkLocal ? 0xFE : 0x20;
    end.address[1] = linkLocal ? 0x80 : 0x01;
    end.address[2] = linkLocal ? 0x00 : 0x0D;
    end.address[3] = linkLocal ? 0x00 : 0xB8;
    end.address[15] = last;
    return end;
}

// The packet was sent from `end`, its address and port.
bool sentBy(const ReadPacket& p, const Endpoint& end) {
    return std::equal(p.from.begin(), p.from.end(), end.address) && p.fromPort == end.port;
}

bool sentTo(const ReadPacket& p, const Endpoint& end) {
    return std::equal(p.to.begin(), p.to.end(), end.address) && p.toPort == end.port;
}

// Each side's bytes, joined in the order of their sequence numbers, which must follow
// one another; and every packet must acknowledge what the other side sent before it.
struct Streams {
    std::vector<unsigned char> fromPeer;
    std::vector<unsigned char> fromLocal;
};

Streams followStreams(const ReadFile& file, const Endpoint& peer, std::string* fault) {
    Streams streams;
    bool started = false;
    std::uint32_t next[2] = {0, 0};  // 0 the peer's, 1 the local side's
    for (const ReadPacket& p : file.packets) {
        const int side = std::equal(p.from.begin(), p.from.end(), peer.address) ? 0 : 1;
        if ((p.flags & 0x02) != 0) {  // a SYN sets the side's numbers
            next[side] = p.sequence + 1;
            started = true;
            continue;
        }
        if (!started) {
            next[side] = p.sequence;
            if (next[1 - side] == 0) next[1 - side] = p.acknowledged;
        }
        if (p.sequence != next[side]) *fault = "a gap or an overlap in a side's sequence numbers";
        if ((p.flags & 0x10) != 0 && p.acknowledged != next[1 - side]) *fault = "an acknowledgement off";
        next[side] += static_cast<std::uint32_t>(p.payload.size()) + ((p.flags & 0x01) != 0 ? 1 : 0);
        std::vector<unsigned char>& into = side == 0 ? streams.fromPeer : streams.fromLocal;
        into.insert(into.end(), p.payload.begin(), p.payload.end());
    }
    return streams;
}

TEST(Pcapng, AConversationReadsBackAsOneTcpStreamWithTrueChecksums) {
    const Endpoint local = ipv4Endpoint(LOCAL_ADDRESS, 9000);
    const Endpoint peer = ipv4Endpoint(PEER_ADDRESS, 50123);
    PcapBytes out;
    appendPcapngStart(out);
    const std::uint64_t start = 1765300000000000ull;  // some microseconds of 2025
    TcpStream stream = openTcpStream(out, local, peer, false, start, "Connexion de 192.168.1.20:50123");
    std::vector<unsigned char> big(150000);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<unsigned char>(i * 7 + i / 253);
    const std::vector<unsigned char> request = bytesOf("GET / HTTP/1.0\r\n\r\n");
    const std::vector<unsigned char> odd = bytesOf("abc");  // an odd length sums its last byte alone
    appendTcpBytes(out, stream, true, request.data(), request.size(), start + 10, "");
    appendTcpBytes(out, stream, false, big.data(), big.size(), start + 2500, "(regle 1)");
    appendTcpBytes(out, stream, true, odd.data(), odd.size(), start + 3000, "");
    closeTcpStream(out, stream, CLOSED_BY_PEER, start + 4000000, "Fin de connexion");
    ASSERT_EQ(0u, out.size() % 4);

    ReadFile file;
    std::string error;
    ASSERT_TRUE(readPcapng(out, &file, &error)) << error;
    ASSERT_EQ(2u, file.interfaces.size());
    EXPECT_EQ(228, file.interfaces[0].linkType);
    EXPECT_EQ(229, file.interfaces[1].linkType);
    EXPECT_TRUE(file.interfaces[0].microseconds && file.interfaces[1].microseconds);
    // SYN, SYN-ACK, ACK; 1 + 3 segments of at most 65,495 bytes + 1; the FIN.
    ASSERT_EQ(3u + 1 + 3 + 1 + 1, file.packets.size());
    EXPECT_EQ(0x02, file.packets[0].flags);
    EXPECT_EQ(0x12, file.packets[1].flags);
    EXPECT_EQ(0x10, file.packets[2].flags);
    EXPECT_EQ(0x18, file.packets[3].flags);  // PSH/ACK
    EXPECT_EQ(0x11, file.packets.back().flags);  // FIN/ACK from the peer
    EXPECT_TRUE(sentBy(file.packets.back(), peer));
    EXPECT_EQ(65495u, file.packets[4].payload.size());
    EXPECT_EQ(150000u - 2 * 65495u, file.packets[6].payload.size());
    EXPECT_EQ(50123, file.packets[0].fromPort);
    EXPECT_EQ(9000, file.packets[0].toPort);
    EXPECT_EQ(start, file.packets[0].time);
    EXPECT_EQ(start + 2500, file.packets[5].time);
    EXPECT_EQ("Connexion de 192.168.1.20:50123", file.packets[0].comment);
    EXPECT_EQ("(regle 1)", file.packets[4].comment);
    EXPECT_EQ("", file.packets[5].comment);
    EXPECT_EQ("Fin de connexion", file.packets.back().comment);

    std::string fault;
    const Streams streams = followStreams(file, peer, &fault);
    EXPECT_EQ("", fault);
    std::vector<unsigned char> fromPeer = request;
    fromPeer.insert(fromPeer.end(), odd.begin(), odd.end());
    EXPECT_EQ(fromPeer, streams.fromPeer);
    EXPECT_EQ(big, streams.fromLocal);
}

// How each ending closes a stream: the flags of its closing packets and which side
// sent each.
struct Ending {
    TcpEnding ending;
    std::vector<unsigned char> flags;
    std::vector<bool> fromPeer;
};
const Ending ENDINGS[] = {{CLOSED_BY_PEER, {0x11}, {true}},
                          {CLOSED_HERE, {0x11, 0x11}, {false, true}},
                          {RESET_BY_PEER, {0x14}, {true}}};

TEST(Pcapng, EachEndingClosesFromTheSideThatClosedAndAStreamMayBeginWithoutItsStart) {
    const Endpoint local = ipv4Endpoint(LOCAL_ADDRESS, 502);
    const Endpoint peer = ipv4Endpoint(PEER_ADDRESS, 40000);
    for (const Ending& c : ENDINGS) {
        PcapBytes out;
        appendPcapngStart(out);
        TcpStream stream = tcpStreamFromHere(local, peer);  // its start no longer known
        const std::vector<unsigned char> reply = {0, 1, 0, 0, 0, 3, 1, 3, 0};  // a Modbus reply
        appendTcpBytes(out, stream, false, reply.data(), reply.size(), 5, "");
        closeTcpStream(out, stream, c.ending, 6, "Fin de connexion");
        ReadFile file;
        std::string error;
        ASSERT_TRUE(readPcapng(out, &file, &error)) << error;
        ASSERT_EQ(1 + c.flags.size(), file.packets.size());
        for (std::size_t i = 0; i < c.flags.size(); ++i) {
            EXPECT_EQ(c.flags[i], file.packets[1 + i].flags) << c.ending;
            EXPECT_EQ(c.fromPeer[i], sentBy(file.packets[1 + i], peer)) << c.ending;
        }
        std::string fault;
        EXPECT_EQ(reply, followStreams(file, peer, &fault).fromLocal);
        EXPECT_EQ("", fault) << c.ending;
    }
}

// Each family, either side opening and each ending: the packets go on the interface of
// their family with its header and checksums, the handshake comes from the side that
// opened, and the stream reads back whole.
TEST(Pcapng, EveryFamilyOpenerAndEndingMakesAWholeStreamOnTheFamilysInterface) {
    struct Family {
        const char* name;
        Endpoint local;
        Endpoint peer;
        int version;
        std::uint32_t interfaceId;
    };
    const Family families[] = {
        {"IPv4", ipv4Endpoint(LOCAL_ADDRESS, 9000), ipv4Endpoint(PEER_ADDRESS, 502), 4, 0},
        {"IPv6", ipv6End(false, 1, 9000), ipv6End(false, 0x20, 502), 6, 1},
        {"IPv6 of a link", ipv6End(true, 1, 9000), ipv6End(true, 0x20, 502), 6, 1},
    };
    const std::vector<unsigned char> request = bytesOf("read 7");
    std::vector<unsigned char> big(MOST_SEGMENT_PAYLOAD + 7);  // two segments, the first full
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<unsigned char>(i * 13 + i / 251);
    for (const Family& f : families) {
        for (bool openedHere : {false, true}) {
            for (const Ending& e : ENDINGS) {
                const std::string which = std::string(f.name) + (openedHere ? ", opened here" : ", opened by the peer") +
                                          ", ending " + std::to_string(e.ending);
                PcapBytes out;
                appendPcapngStart(out);
                TcpStream stream = openTcpStream(out, f.local, f.peer, openedHere, 100, "start");
                appendTcpBytes(out, stream, !openedHere, request.data(), request.size(), 200, "");
                appendTcpBytes(out, stream, openedHere, big.data(), big.size(), 300, "");
                closeTcpStream(out, stream, e.ending, 400, "end");

                ReadFile file;
                std::string error;
                ASSERT_TRUE(readPcapng(out, &file, &error)) << which << ": " << error;
                ASSERT_EQ(2u, file.interfaces.size()) << which;
                EXPECT_EQ(LINKTYPE_IPV4, file.interfaces[0].linkType);
                EXPECT_EQ(LINKTYPE_IPV6, file.interfaces[1].linkType);
                ASSERT_EQ(3 + 1 + 2 + e.flags.size(), file.packets.size()) << which;
                for (const ReadPacket& p : file.packets) {
                    EXPECT_EQ(f.version, p.version) << which;
                    EXPECT_EQ(f.interfaceId, p.interfaceId) << which;
                    EXPECT_EQ(64, p.hops) << which;
                    EXPECT_TRUE((sentBy(p, f.peer) && sentTo(p, f.local)) || (sentBy(p, f.local) && sentTo(p, f.peer)))
                        << which;
                }
                // The opener's SYN with the comment, the SYN-ACK, the opener's ACK.
                const Endpoint& opener = openedHere ? f.local : f.peer;
                const ReadPacket* shake = file.packets.data();
                EXPECT_EQ(0x02, shake[0].flags) << which;
                EXPECT_EQ(0x12, shake[1].flags) << which;
                EXPECT_EQ(0x10, shake[2].flags) << which;
                EXPECT_TRUE(sentBy(shake[0], opener) && !sentBy(shake[1], opener) && sentBy(shake[2], opener)) << which;
                EXPECT_EQ(shake[0].sequence + 1, shake[1].acknowledged) << which;
                EXPECT_EQ(shake[0].sequence + 1, shake[2].sequence) << which;
                EXPECT_EQ(shake[1].sequence + 1, shake[2].acknowledged) << which;
                EXPECT_EQ("start", shake[0].comment) << which;
                EXPECT_EQ("", shake[1].comment + shake[2].comment) << which;
                EXPECT_EQ(MOST_SEGMENT_PAYLOAD, file.packets[4].payload.size()) << which;
                for (std::size_t i = 0; i < e.flags.size(); ++i) {
                    const ReadPacket& closing = file.packets[6 + i];
                    EXPECT_EQ(e.flags[i], closing.flags) << which;
                    EXPECT_EQ(e.fromPeer[i], sentBy(closing, f.peer)) << which;
                }
                std::string fault;
                const Streams streams = followStreams(file, f.peer, &fault);
                EXPECT_EQ("", fault) << which;
                EXPECT_EQ(openedHere ? big : request, streams.fromPeer) << which;
                EXPECT_EQ(openedHere ? request : big, streams.fromLocal) << which;
            }
        }
    }
}

// The checksum adds words four bytes at a time: held against the plain sum of 16-bit
// words for every length and start within a word, and after sums already large.
TEST(Pcapng, TheInternetChecksumEqualsThePlainSumOfWordsForEveryLengthAndStart) {
    std::vector<unsigned char> bytes(96);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(0xFF - i * 37);
    const std::uint32_t startingSums[] = {0, 0xFFFF, 0x7FFFFFFF, 0xFFFE0001};
    for (std::uint32_t start : startingSums) {
        for (std::size_t from = 0; from < 4; ++from) {
            for (std::size_t count = 0; from + count <= bytes.size(); ++count) {
                std::uint64_t plain = start;
                for (std::size_t i = 0; i < count; i += 2)
                    plain += static_cast<std::uint64_t>(bytes[from + i]) << 8 | (i + 1 < count ? bytes[from + i + 1] : 0);
                while (plain >> 16 != 0) plain = (plain & 0xFFFF) + (plain >> 16);
                ASSERT_EQ(static_cast<std::uint16_t>(~plain),
                          foldInternetSum(addToInternetSum(start, bytes.data() + from, count)))
                    << "start " << start << ", from " << from << ", count " << count;
            }
        }
    }
}

}  // namespace

// ---- the journal, through the link ------------------------------------------------

#include "capture/journal.h"
#include "fake_platform.h"
#include "net/link.h"
#include "net/outgoing.h"
#include "terminal/received_bytes.h"
#include "ui/resource.h"

namespace {

const std::uint32_t EVENT_READ = 1;
const std::uint32_t EVENT_ACCEPT = 8;

class JournalTest : public ::testing::Test {
protected:
    void SetUp() override { resetAll(); }
    void TearDown() override { resetAll(); }

    // Listens and takes a peer from 192.168.1.20:port on socket `socket`.
    static void connectPeer(SocketHandle socket, std::uint16_t port) {
        if (serverState == SERVER_IDLE) onListenCommand();
        fake.accepts.push_back(FakeAccept{socket, ipv4("192.168.1.20"), port});
        onSocketNotify(listeningSocket, EVENT_ACCEPT);
        ASSERT_EQ(SERVER_CONNECTED, serverState) << traceText();
    }
    static void receive(const std::vector<unsigned char>& bytes) {
        fake.receives.push_back(FakeReceive{0, bytes});
        onSocketNotify(clientSocket, EVENT_READ);
    }
    static ReadFile journalRead(const std::string& path) {
        ReadFile file;
        std::string error;
        EXPECT_TRUE(readPcapng(fake.files[path], &file, &error)) << error;
        return file;
    }
};

TEST_F(JournalTest, TheJournalHoldsEachConnectionBothWaysAndIsWrittenInPiecesAndAtItsEnd) {
    fake.chosenPcapng = "j.pcapng";
    onJournalCommand();
    ASSERT_TRUE(journalRunning());
    EXPECT_TRUE(fake.checkedItems[IDM_JOURNAL]);
    EXPECT_EQ(JOURNAL_STOP_ITEM_TEXT, fake.itemTexts[IDM_JOURNAL]);
    EXPECT_TRUE(fake.journalTimerRuns);
    connectPeer(8, 50123);
    receive(bytesOf("ping"));
    sendTypedChar('k');
    const std::size_t beforeTheTimer = fake.files["j.pcapng"].size();
    onJournalTimerDue();
    EXPECT_GT(fake.files["j.pcapng"].size(), beforeTheTimer) << "written at least once a second";
    fake.receives.push_back(FakeReceive{0, Bytes()});  // the peer closes
    onSocketNotify(clientSocket, EVENT_READ);
    ASSERT_EQ(SERVER_IDLE, serverState) << traceText();
    connectPeer(10, 50124);
    std::vector<unsigned char> big(200000, 'x');
    receive(big);  // one receive, four segments
    onJournalCommand();  // stopped: what waited is written, the file closed
    EXPECT_FALSE(journalRunning());
    EXPECT_FALSE(fake.checkedItems[IDM_JOURNAL]);
    EXPECT_EQ(JOURNAL_ITEM_TEXT, fake.itemTexts[IDM_JOURNAL]);

    const ReadFile file = journalRead("j.pcapng");
    ASSERT_GE(file.packets.size(), 3u + 2 + 1 + 3 + 4u);
    EXPECT_EQ("Connexion de 192.168.1.20:50123", file.packets[0].comment);
    EXPECT_EQ(9000, file.packets[0].toPort);
    EXPECT_EQ(bytesOf("ping"), file.packets[3].payload);
    EXPECT_EQ(bytesOf("k"), file.packets[4].payload);
    EXPECT_EQ(0x11, file.packets[5].flags);  // the peer's FIN
    EXPECT_EQ("Fin de connexion", file.packets[5].comment);
    EXPECT_EQ(50124, file.packets[6].fromPort);
    std::vector<unsigned char> got;
    for (std::size_t i = 9; i < file.packets.size(); ++i) {
        got.insert(got.end(), file.packets[i].payload.begin(), file.packets[i].payload.end());
    }
    EXPECT_EQ(big, got);
}

TEST_F(JournalTest, AJournalStartedDuringAConnectionStartsItThenAndAFailedWriteStopsIt) {
    connectPeer(8, 50123);
    receive(bytesOf("before"));
    fake.chosenPcapng = "late.pcapng";
    onJournalCommand();
    receive(bytesOf("after"));
    onJournalTimerDue();
    ReadFile file = journalRead("late.pcapng");
    ASSERT_EQ(4u, file.packets.size());
    EXPECT_EQ("Connexion de 192.168.1.20:50123, journal commence apres 6 octets recus et 0 octet envoye",
              file.packets[0].comment);
    EXPECT_EQ(bytesOf("after"), file.packets[3].payload);

    fake.writeRoom = 10;  // the disk fills
    receive(bytesOf("lost"));
    onJournalTimerDue();
    EXPECT_FALSE(journalRunning());
    EXPECT_EQ(1u, traceCount(std::string("errorBox ") + JOURNAL_WRITE_FAILED_TEXT + "late.pcapng|erreur"))
        << traceText();
    EXPECT_FALSE(fake.checkedItems[IDM_JOURNAL]);
    EXPECT_EQ(SERVER_CONNECTED, serverState) << "the link goes on";

    // A file that cannot be made says so, and no journal starts.
    fake.writeRoom = static_cast<std::size_t>(-1);
    fake.chosenPcapng = "";
    onJournalCommand();  // no file chosen: nothing
    EXPECT_FALSE(journalRunning());
}

TEST_F(JournalTest, TheBytesKeptAreSavedAsStreamsAndOneWhoseStartIsGoneBeginsAtItsFirstKeptBytes) {
    connectPeer(8, 50123);
    std::vector<std::vector<unsigned char>> chunks;
    for (int n = 0; n < 5; ++n) chunks.push_back(std::vector<unsigned char>(1u << 20, static_cast<unsigned char>('a' + n)));
    for (const auto& chunk : chunks) receive(chunk);  // 5 MiB: the start and the first chunks go
    sendTypedChar('k');
    fake.receives.push_back(FakeReceive{-1, Bytes()});  // reset by the peer
    onSocketNotify(clientSocket, EVENT_READ);
    ASSERT_EQ(SERVER_IDLE, serverState) << traceText();
    connectPeer(10, 50124);
    receive(bytesOf("second"));

    fake.chosenPcapng = "kept.pcapng";
    onSaveKeptBytesCommand();
    const ReadFile file = journalRead("kept.pcapng");
    ASSERT_FALSE(file.packets.empty());
    EXPECT_EQ(0x18, file.packets[0].flags) << "no made-up start for a connection whose start is gone";
    EXPECT_EQ(50123, file.packets[0].fromPort);
    std::vector<unsigned char> kept;
    std::size_t at = 0;
    for (; at < file.packets.size() && file.packets[at].fromPort == 50123; ++at) {
        kept.insert(kept.end(), file.packets[at].payload.begin(), file.packets[at].payload.end());
    }
    std::vector<unsigned char> expected;
    for (int n = 2; n < 5; ++n) expected.insert(expected.end(), chunks[n].begin(), chunks[n].end());
    EXPECT_EQ(expected, kept);
    ASSERT_LT(at + 2, file.packets.size());
    EXPECT_EQ(bytesOf("k"), file.packets[at].payload);
    EXPECT_EQ(0x14, file.packets[at + 1].flags);  // the peer's reset
    EXPECT_EQ(0x02, file.packets[at + 2].flags);  // the second connection's start, kept
    EXPECT_EQ("Connexion de 192.168.1.20:50124", file.packets[at + 2].comment);
    EXPECT_EQ(bytesOf("second"), file.packets.back().payload);
    std::string fault;
    followStreams(file, ipv4Endpoint(PEER_ADDRESS, 0), &fault);
    EXPECT_EQ("", fault);
}

// The link opens no connection yet: the journal and the bytes kept are told of one
// directly, as the link will tell them.
TEST_F(JournalTest, AnIpv6ConnectionOpenedHereIsJournalledAndSavedFromTheProgramsSyn) {
    const Endpoint local = ipv6End(true, 1, 49152);
    const Endpoint peer = ipv6End(true, 0x20, 502);
    const std::vector<unsigned char> request = {0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1};
    const std::vector<unsigned char> reply = {0, 1, 0, 0, 0, 5, 1, 3, 2, 0, 42};
    fake.chosenPcapng = "opened.pcapng";
    onJournalCommand();
    journalConnectionOpened(local, peer, true);
    keepConnectionOpened(peer, local, true);
    journalBytes(false, request.data(), request.size(), 0);
    keepSentChunk(request.data(), request.size());
    journalBytes(true, reply.data(), reply.size(), 0);
    keepReceivedChunk(reply.data(), reply.size());
    journalConnectionEnded(CLOSED_HERE);
    keepConnectionEnded(CLOSED_HERE);
    onJournalCommand();
    fake.chosenPcapng = "kept.pcapng";
    onSaveKeptBytesCommand();

    for (const char* path : {"opened.pcapng", "kept.pcapng"}) {
        const ReadFile file = journalRead(path);
        ASSERT_EQ(3u + 2 + 2, file.packets.size()) << path;
        EXPECT_EQ("Connexion a [fe80::20%3]:502", file.packets[0].comment) << path;
        const unsigned char flags[] = {0x02, 0x12, 0x10, 0x18, 0x18, 0x11, 0x11};
        const bool fromHere[] = {true, false, true, true, false, true, false};
        for (std::size_t i = 0; i < file.packets.size(); ++i) {
            const ReadPacket& p = file.packets[i];
            EXPECT_EQ(flags[i], p.flags) << path << ", packet " << i;
            EXPECT_TRUE(fromHere[i] ? sentBy(p, local) && sentTo(p, peer) : sentBy(p, peer) && sentTo(p, local))
                << path << ", packet " << i;
            EXPECT_EQ(6, p.version) << path;
            EXPECT_EQ(IPV6_INTERFACE, p.interfaceId) << path;
        }
        EXPECT_EQ(request, file.packets[3].payload) << path;
        EXPECT_EQ(reply, file.packets[4].payload) << path;
        std::string fault;
        followStreams(file, peer, &fault);
        EXPECT_EQ("", fault) << path;
    }
}

}  // namespace
