// What the Properties dialog decides, and the command around it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"
#include "net/address.h"
#include "net/link.h"
#include "session/settings.h"
#include "ui/properties.h"
#include "ui/resource.h"

namespace {

typedef std::vector<std::string> Lines;

class PropertiesTest : public ::testing::Test {
protected:
    void SetUp() override { resetAll(); }
    void TearDown() override { resetAll(); }
};

TEST_F(PropertiesTest, OpeningFillsAnEmptyAddressAndAZeroPortInTheSettings) {
    serverAddress[0] = '\0';
    serverPort = 0;
    fillPropertiesDefaults();
    EXPECT_STREQ("0.0.0.0", serverAddress);
    EXPECT_EQ(9000u, serverPort);

    copyTextField(serverAddress, sizeof serverAddress, "bad text");
    serverPort = 65536;
    fillPropertiesDefaults();
    EXPECT_STREQ("bad text", serverAddress);
    EXPECT_EQ(65536u, serverPort);
    EXPECT_TRUE(fake.trace.empty());
}

TEST_F(PropertiesTest, OkWhileIdleStoresWhatWasEntered) {
    EXPECT_TRUE(propertiesAddressEditable());
    EXPECT_EQ(0, acceptPropertiesDialog(true, "10.0.0.2", 8080));
    EXPECT_TRUE(autoWrap);
    EXPECT_STREQ("10.0.0.2", serverAddress);
    EXPECT_EQ(8080u, serverPort);

    // An empty box keeps the address; a port read as 0 keeps the port.
    EXPECT_EQ(0, acceptPropertiesDialog(false, nullptr, 0));
    EXPECT_FALSE(autoWrap);
    EXPECT_STREQ("10.0.0.2", serverAddress);
    EXPECT_EQ(8080u, serverPort);

    // Longer than the field: the first 19 characters. Too big a port is stored as read.
    EXPECT_EQ(0, acceptPropertiesDialog(false, "123456789012345678901234", 65536));
    EXPECT_STREQ("1234567890123456789", serverAddress);
    EXPECT_EQ(65536u, serverPort);
}

TEST_F(PropertiesTest, OkWhileListeningOrConnectedChangesOnlyAutoWrap) {
    const int states[] = {SERVER_LISTENING, SERVER_CONNECTED};
    for (int state : states) {
        serverState = state;
        EXPECT_FALSE(propertiesAddressEditable());
        bool wrap = !autoWrap;
        EXPECT_NE(0, acceptPropertiesDialog(wrap, "10.9.9.9", 1234)) << state;
        EXPECT_EQ(wrap, autoWrap);
        EXPECT_STREQ("0.0.0.0", serverAddress);
        EXPECT_EQ(9000u, serverPort);
    }
}

TEST_F(PropertiesTest, CommandValidatesOnlyAfterAnAcceptedDialog) {
    settingsChecked = true;
    fake.dialogResults.push_back(-1);
    onPropertiesCommand();
    EXPECT_EQ(Lines({"dialog 100"}), fake.trace);
    EXPECT_TRUE(settingsChecked);

    settingsChecked = false;
    fake.trace.clear();
    fake.dialogResults.push_back(0);
    onPropertiesCommand();
    EXPECT_EQ(Lines({"dialog 100", "convert 0.0.0.0"}), fake.trace);
    EXPECT_TRUE(settingsChecked);
    EXPECT_EQ(0u, listenAddress);

    serverPort = 65536;
    fake.trace.clear();
    fake.dialogResults.push_back(0);
    onPropertiesCommand();
    EXPECT_EQ("errorBox Erreur sur numero de port|Erreur", fake.trace.back());
    EXPECT_FALSE(settingsChecked);

    serverPort = 9000;
    copyTextField(serverAddress, sizeof serverAddress, "1.2.3.4.5");
    settingsChecked = true;
    fake.trace.clear();
    fake.dialogResults.push_back(0);
    onPropertiesCommand();
    EXPECT_EQ(Lines({"dialog 100", "errorBox Erreur de format de l'adresse IP|Erreur"}), fake.trace);
    EXPECT_FALSE(settingsChecked);
}

// The user opens the dialog while connected; the peer leaves before OK is pressed,
// so OK finds the link idle, stores the boxes and validates.
TEST_F(PropertiesTest, StateIsReadAgainWhenOkIsPressed) {
    serverState = SERVER_CONNECTED;
    serverSocket = clientSocket = 8;
    fake.openSockets.insert(8);
    fake.dialogHandler = [](int id) {
        EXPECT_EQ(IDD_PROPERTIES, id);
        fillPropertiesDefaults();
        EXPECT_FALSE(propertiesAddressEditable());
        fake.receives.push_back(FakeReceive{0, Bytes()});
        onSocketNotify(8, 32);  // the peer closes while the dialog is up
        return acceptPropertiesDialog(true, "127.0.0.1", 9100);
    };
    onPropertiesCommand();
    EXPECT_EQ(SERVER_IDLE, serverState);
    EXPECT_STREQ("127.0.0.1", serverAddress);
    EXPECT_EQ(9100u, serverPort);
    EXPECT_TRUE(settingsChecked);
    EXPECT_EQ(ipv4("127.0.0.1"), listenAddress);
}

TEST_F(PropertiesTest, AboutRunsItsDialog) {
    onAboutCommand();
    EXPECT_EQ(Lines({"dialog 300"}), fake.trace);
}

}  // namespace
