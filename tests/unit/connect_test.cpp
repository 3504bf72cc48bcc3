// Reaching a device that listens: the dialog's host and port read, the name
// resolved, each address tried in turn, the words of a failure, and trying again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"
#include "net/connect.h"
#include "net/link.h"
#include "terminal/received_bytes.h"
#include "ui/resource.h"

namespace {

const std::uint32_t EVENT_READ = 1;
const std::uint32_t EVENT_CONNECT = 16;
const unsigned REFUSED = 10061;
std::uint32_t connectOutcome(unsigned error) { return error << 16 | EVENT_CONNECT; }

Endpoint ipv6Loopback(std::uint16_t port) {
    Endpoint end = {FAMILY_IPV6, {}, port, 0};
    end.address[15] = 1;
    return end;
}

class ConnectTest : public ::testing::Test {
protected:
    void SetUp() override { resetAll(); }
    void TearDown() override { resetAll(); }

    static ConnectTarget target(const char* host, std::uint16_t port, bool reconnect = false) {
        return ConnectTarget{host, port, reconnect};
    }
    // The socket of the address being tried answers.
    static void answer(unsigned error) {
        onSocketNotify(fake.nextSocket - 1, connectOutcome(error));
    }
    static void peerCloses() {
        fake.receives.push_back(FakeReceive{0, {}});
        onSocketNotify(clientSocket, EVENT_READ);
    }
};

TEST_F(ConnectTest, TheDialogsHostAndPortAreReadAndTheTargetsConnectedToAreOffered) {
    struct Case {
        const char* host;
        const char* port;
        TargetFault fault;
        const char* shown;  // in the list, when good
    };
    const Case cases[] = {
        {" 192.168.1.20 ", "502", TARGET_GOOD, "192.168.1.20:502"},
        {"::1", " 23 ", TARGET_GOOD, "[::1]:23"},
        {"[fe80::1%3]", "65535", TARGET_GOOD, "[fe80::1%3]:65535"},
        {"plc-2.example", "1", TARGET_GOOD, "plc-2.example:1"},
        {"", "502", TARGET_HOST_WRONG, ""},
        {"host:23", "23", TARGET_HOST_WRONG, ""},
        {"192.168.1.256", "502", TARGET_HOST_WRONG, ""},
        {"localhost", "0", TARGET_PORT_WRONG, ""},
        {"localhost", "65536", TARGET_PORT_WRONG, ""},
        {"localhost", "", TARGET_PORT_WRONG, ""},
        {"localhost", "2 3", TARGET_PORT_WRONG, ""},
        {"localhost", "-1", TARGET_PORT_WRONG, ""},
    };
    for (const Case& c : cases) {
        ConnectTarget t = {};
        EXPECT_EQ(c.fault, readConnectTarget(c.host, c.port, &t)) << c.host << " " << c.port;
        if (c.fault == TARGET_GOOD) {
            EXPECT_EQ(c.shown, targetText(t)) << c.host;
        }
    }

    // The latest first, one of each host and port, ten at most.
    for (int i = 1; i <= 12; ++i) {
        startConnecting(target("10.0.0.1", static_cast<std::uint16_t>(i)));
        onDisconnectCommand();
    }
    startConnecting(target("10.0.0.1", 5));
    onDisconnectCommand();
    const std::vector<ConnectTarget>& offered = rememberedTargets();
    ASSERT_EQ(TARGETS_REMEMBERED, offered.size());
    EXPECT_EQ(5, offered[0].port);
    EXPECT_EQ(12, offered[1].port);
    EXPECT_EQ(3, offered[9].port);
}

TEST_F(ConnectTest, AnAddressIsTriedWithoutWaitingAndOnceConnectedIsServedAsAPeerThatCameIn) {
    startConnecting(target("192.168.1.20", 502));
    EXPECT_EQ(SERVER_CONNECTING, serverState);
    EXPECT_EQ("Connexion a <192.168.1.20 : 502> ...", fake.statusText);
    EXPECT_EQ(1u, traceCount("menu 506 505")) << traceText();
    EXPECT_FALSE(fake.enabledItems[IDM_CONNECT]);
    EXPECT_EQ(CONNECT_ATTEMPT_MS, fake.connectTimerMs);
    onListenCommand();  // grayed meanwhile
    EXPECT_EQ(SERVER_CONNECTING, serverState);

    answer(0);
    ASSERT_EQ(SERVER_CONNECTED, serverState) << traceText();
    EXPECT_EQ("Connecte a <192.168.1.20 : 502>", fake.statusText);
    EXPECT_EQ(-1, fake.connectTimerMs);
    const SocketHandle connected = clientSocket;
    EXPECT_EQ(1u, traceCount("keepalive " + std::to_string(connected) + " 30000 5000")) << traceText();

    fake.receives.push_back(FakeReceive{0, bytesOf("hello")});
    onSocketNotify(connected, EVENT_READ);
    EXPECT_EQ("00:00:00.000  Connexion a 192.168.1.20:502", octetRowText(firstKeptOctetRow()));

    onDisconnectCommand();
    EXPECT_EQ(SERVER_IDLE, serverState);
    EXPECT_TRUE(fake.openSockets.empty());
    EXPECT_TRUE(fake.enabledItems[IDM_CONNECT]);
}

TEST_F(ConnectTest, ANamesAddressesAreTriedInTurnAndWhenAllFailTheStatusAndABoxSayWhy) {
    startConnecting(target("device.local", 23));
    ASSERT_EQ(std::vector<std::string>({"device.local 23 #1"}), fake.namesAsked);
    EXPECT_EQ("Connexion a <device.local : 23> ...", fake.statusText);

    const Endpoint found[] = {ipv6Loopback(23), ipv4Endpoint(ipv4("127.0.0.1"), 23), ipv4Endpoint(ipv4("10.9.9.9"), 23)};
    fake.connectStartFailures.push_back(CONNECT_UNREACHABLE);  // the IPv6 address: no route
    onHostResolved(1, found, 3, CONNECT_FAILED);
    ASSERT_EQ(2u, fake.connectsStarted.size());
    answer(REFUSED);  // 127.0.0.1
    ASSERT_EQ(3u, fake.connectsStarted.size());
    EXPECT_EQ("10.9.9.9:23", endpointText(fake.connectsStarted[2]));
    onConnectTimerDue();  // 10.9.9.9 gives no answer

    const std::string why = "Connexion a <device.local : 23> impossible : pas de reponse";
    EXPECT_EQ(SERVER_IDLE, serverState);
    EXPECT_EQ(why, fake.statusText);
    EXPECT_EQ(1u, traceCount("errorBox " + why + "|erreur")) << traceText();
    EXPECT_TRUE(fake.openSockets.empty());
    EXPECT_EQ(1u, traceCount("menu 505 506"));

    // An unknown name, and a refused port, in their words.
    startConnecting(target("nowhere.invalid", 23));
    onHostResolved(2, nullptr, 0, CONNECT_NAME_UNKNOWN);
    EXPECT_EQ("Connexion a <nowhere.invalid : 23> impossible : nom inconnu", fake.statusText);
    startConnecting(target("::1", 1));
    answer(REFUSED);
    EXPECT_EQ("Connexion a <[::1] : 1> impossible : connexion refusee", fake.statusText);
}

TEST_F(ConnectTest, DeconnexionAbandonsTheNameAndItsLateAnswerIsDropped) {
    startConnecting(target("device.local", 23));
    onDisconnectCommand();
    EXPECT_EQ(1u, fake.namesAbandoned.count(1));
    EXPECT_EQ(SERVER_IDLE, serverState);
    EXPECT_EQ(" ", fake.statusText);

    startConnecting(target("device.local", 24));
    const Endpoint late[] = {ipv4Endpoint(ipv4("127.0.0.1"), 23)};
    onHostResolved(1, late, 1, CONNECT_FAILED);  // the first request's answer, late
    EXPECT_TRUE(fake.connectsStarted.empty());
    const Endpoint found[] = {ipv4Endpoint(ipv4("127.0.0.1"), 24)};
    onHostResolved(2, found, 1, CONNECT_FAILED);
    ASSERT_EQ(1u, fake.connectsStarted.size());
    onDisconnectCommand();  // while the address is tried: its socket closes
    EXPECT_TRUE(fake.openSockets.empty());
    answer(0);  // its answer, queued before
    EXPECT_EQ(SERVER_IDLE, serverState);
}

TEST_F(ConnectTest, TryingAgainWaitsOneSecondThenTwiceAsLongUpToThirtyCountingDown) {
    startConnecting(target("127.0.0.1", 502, true));
    const int waits[] = {1, 2, 4, 8, 16, 30, 30};
    for (int wait : waits) {
        answer(REFUSED);
        ASSERT_EQ(SERVER_WAITING_TO_RETRY, serverState) << traceText();
        EXPECT_EQ("Nouvel essai dans " + std::to_string(wait) + " s", fake.statusText);
        EXPECT_EQ(0u, traceCount("errorBox "));  // no box while trying again
        for (int left = wait - 1; left > 0; --left) {
            onConnectTimerDue();
            EXPECT_EQ("Nouvel essai dans " + std::to_string(left) + " s", fake.statusText);
        }
        onConnectTimerDue();
        ASSERT_EQ(SERVER_CONNECTING, serverState);
    }
    EXPECT_EQ(8u, fake.connectsStarted.size());
    onDisconnectCommand();
    EXPECT_EQ(SERVER_IDLE, serverState);
    onConnectTimerDue();  // a tick already queued
    EXPECT_EQ(SERVER_IDLE, serverState);
    EXPECT_TRUE(fake.openSockets.empty());
}

TEST_F(ConnectTest, AConnectionThatEndsIsTriedAgainTheWaitStartingAfreshOnceOneLastedTenSeconds) {
    keepListening = true;  // concerns listening only
    startConnecting(target("127.0.0.1", 502, true));
    struct Round {
        long long lasted;
        int wait;
    };
    const Round rounds[] = {{100, 1}, {100, 2}, {CONNECTION_LASTED_MS, 1}, {100, 2}};
    for (const Round& r : rounds) {
        answer(0);
        ASSERT_EQ(SERVER_CONNECTED, serverState) << traceText();
        fake.now += r.lasted;
        peerCloses();
        ASSERT_EQ(SERVER_WAITING_TO_RETRY, serverState) << traceText();
        EXPECT_EQ("Nouvel essai dans " + std::to_string(r.wait) + " s", fake.statusText);
        EXPECT_EQ(NO_SOCKET, listeningSocket);
        for (int i = 0; i < r.wait; ++i) onConnectTimerDue();
    }
    // Each connection is marked in the kept bytes, opened and ended.
    std::size_t opened = 0;
    for (std::uint64_t i = firstKeptRecord(); i != keptRecordsEnd(); ++i) {
        const KeptRecord r = keptRecord(i);
        if (r.kind == KEPT_OPENED && r.openedHere && endpointText(r.peer) == "127.0.0.1:502") opened++;
    }
    EXPECT_EQ(4u, opened);
    EXPECT_EQ("00:00:00.000  Connexion a 127.0.0.1:502", octetRowText(firstKeptOctetRow()));

    // Without trying again, an end leaves the link idle.
    onDisconnectCommand();
    startConnecting(target("127.0.0.1", 502));
    answer(0);
    peerCloses();
    EXPECT_EQ(SERVER_IDLE, serverState);
    EXPECT_EQ(" ", fake.statusText);
    EXPECT_TRUE(fake.openSockets.empty());
}

}  // namespace
