// The strict dotted pre-check, the conversion and the validation messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"
#include "net/address.h"
#include "session/settings.h"

namespace {

typedef std::vector<std::string> Lines;

class AddressTest : public ::testing::Test {
protected:
    void SetUp() override { resetAll(); }
    void TearDown() override { resetAll(); }
};

TEST_F(AddressTest, AcceptedTextsStoreTheConversion) {
    EXPECT_EQ(NO_ADDRESS, listenAddress);
    EXPECT_EQ(0, checkListenAddress("0.0.0.0"));
    EXPECT_EQ(0u, listenAddress);
    EXPECT_EQ(Lines({"convert 0.0.0.0"}), fake.trace);

    struct Case { const char* text; const char* means; };
    const Case cases[] = {
        {"010.0.0.1", "8.0.0.1"},    // octal by the conversion, 10 for the pre-check
        {"1.2.3.0x1", "1.2.3.1"},    // the fourth field is only length-checked
        {"255.0.0.1", "255.0.0.1"},
        {"127.0.0.1", "127.0.0.1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(0, checkListenAddress(c.text)) << c.text;
        EXPECT_EQ(ipv4(c.means), listenAddress) << c.text;
    }
}

TEST_F(AddressTest, PreCheckRefusalsConvertNothingAndKeepTheAddress) {
    const char* texts[] = {"", "1.2.3", "1.2.3.4.5", ".1.2.3", "1234.1.1.1", "256.1.1.1",
                           "1.2.999.4", "1.2.3.4444", "1.2.3.4.", "abcd.1.1.1"};
    ASSERT_EQ(0, checkListenAddress("10.0.0.2"));
    fake.trace.clear();
    for (const char* text : texts) {
        EXPECT_EQ(-1, checkListenAddress(text)) << "'" << text << "'";
        EXPECT_EQ(ipv4("10.0.0.2"), listenAddress) << "'" << text << "'";
    }
    EXPECT_TRUE(fake.trace.empty()) << traceText();
}

TEST_F(AddressTest, ConversionRefusalsLeaveAllBitsSet) {
    const char* texts[] = {"255.255.255.255", "1.1.1.256", "-1.0.0.1", "1..2.3", "1.2.3.",
                           "1.2.3.999", "a.b.c.d"};
    for (const char* text : texts) {
        ASSERT_EQ(0, checkListenAddress("10.0.0.2"));
        fake.trace.clear();
        EXPECT_EQ(-1, checkListenAddress(text)) << text;
        EXPECT_EQ(NO_ADDRESS, listenAddress) << text;
        EXPECT_EQ(Lines({std::string("convert ") + text}), fake.trace);
    }
}

TEST_F(AddressTest, ValidationChecksTheAddressThenThePort) {
    EXPECT_EQ(0, validateServerSettings());
    EXPECT_EQ(Lines({"convert 0.0.0.0"}), fake.trace);

    const std::uint32_t goodPorts[] = {1, 9000, 65535};
    for (std::uint32_t port : goodPorts) {
        serverPort = port;
        fake.trace.clear();
        EXPECT_EQ(0, validateServerSettings()) << port;
        EXPECT_EQ(0u, traceCount("errorBox Erreur sur numero de port|Erreur"));
    }
    const std::uint32_t badPorts[] = {0, 65536, 0xFFFFFFFFu};
    for (std::uint32_t port : badPorts) {
        serverPort = port;
        fake.trace.clear();
        EXPECT_EQ(2, validateServerSettings()) << port;
        EXPECT_EQ(Lines({"convert 0.0.0.0", "errorBox Erreur sur numero de port|Erreur"}),
                  fake.trace);
    }

    // A bad address hides a bad port: one message only.
    copyTextField(serverAddress, sizeof serverAddress, "1.2.3");
    fake.trace.clear();
    EXPECT_EQ(1, validateServerSettings());
    EXPECT_EQ(Lines({"errorBox Erreur de format de l'adresse IP|Erreur"}), fake.trace);

    copyTextField(serverAddress, sizeof serverAddress, "255.255.255.255");
    serverPort = 9000;
    fake.trace.clear();
    EXPECT_EQ(1, validateServerSettings());
    EXPECT_EQ(Lines({"convert 255.255.255.255",
                     "errorBox Erreur de format de l'adresse IP|Erreur"}),
              fake.trace);
    EXPECT_EQ(NO_ADDRESS, listenAddress);
}

}  // namespace
