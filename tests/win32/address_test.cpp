// Address and port validation with Winsock's own conversion, and its message boxes.
#include "harness.h"

#include <cstdio>

#include "app/app_win32.h"
// Winsock defines NO_ADDRESS (a resolver error) as a macro; the program's
// constant of that name is meant here.
#undef NO_ADDRESS
#include "net/address.h"
#include "net/link.h"
#include "session/settings.h"
#include "ui/resource.h"

namespace {

const std::uint32_t UNTOUCHED = 0x12345678u;

// Runs the check from a known listenAddress and returns what it left there.
std::uint32_t checkedAddress(const char* text, int* result) {
    listenAddress = UNTOUCHED;
    *result = checkListenAddress(text);
    return listenAddress;
}

void expectSingleErrorBox(const char* text) {
    ASSERT_EQ(dialogsSeen.size(), 1u);
    const DialogSeen& box = dialogsSeen[0];
    EXPECT_EQ(box.caption, "Erreur");
    ASSERT_EQ(box.texts.size(), 1u);
    EXPECT_EQ(box.texts[0], text);
    EXPECT_EQ(box.owner, mainWindow);
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
}

int validate(const char* address, std::uint32_t port) {
    clearDialogsSeen();
    copyTextField(serverAddress, sizeof serverAddress, address);
    serverPort = port;
    return validateServerSettings();
}

}  // namespace

TEST_F(MainWindowTest, DottedCheckThenWinsockConversion) {
    int result = 0;
    EXPECT_EQ(checkedAddress("0.0.0.0", &result), 0u);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(checkedAddress("127.0.0.1", &result), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(result, 0);

    // Passes the dotted check, refused by the conversion, which is still stored.
    EXPECT_EQ(checkedAddress("255.255.255.255", &result), NO_ADDRESS);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(checkedAddress("1.1.1.256", &result), NO_ADDRESS);
    EXPECT_EQ(result, -1);

    // Refused by the dotted check: no conversion, listenAddress kept.
    for (const char* text : {"256.1.1.1", "1.2.3", "1.2.3.4.5", ".1.2.3", "1234.1.1.1", ""}) {
        EXPECT_EQ(checkedAddress(text, &result), UNTOUCHED) << '"' << text << '"';
        EXPECT_EQ(result, -1) << '"' << text << '"';
    }

    // Leading zeros are octal and a 0x prefix hexadecimal, by Winsock's rules.
    EXPECT_EQ(checkedAddress("010.0.0.1", &result), inet_addr("8.0.0.1"));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(checkedAddress("0x1.0.0.1", &result), inet_addr("1.0.0.1"));
    EXPECT_EQ(result, 0);

    // Texts that pass the dotted check are settled by the platform's conversion,
    // whatever it makes of them.
    for (const char* text : {"1.2.3.4 ", "-1.0.0.1", "1..2.3", "1.2.3.", " 1.2.3.4"}) {
        std::uint32_t platform = inet_addr(text);
        EXPECT_EQ(checkedAddress(text, &result), platform) << '"' << text << '"';
        EXPECT_EQ(result, platform == INADDR_NONE ? -1 : 0) << '"' << text << '"';
        std::printf("[ measured ] inet_addr(\"%s\") = 0x%08lx\n", text,
                    static_cast<unsigned long>(platform));
    }
}

TEST_F(MainWindowTest, ValidationTellsTheFirstFaultInABox) {
    EXPECT_EQ(validate("255.255.255.255", 9000), 1);
    expectSingleErrorBox("Erreur de format de l'adresse IP");
    // A bad address hides a bad port.
    EXPECT_EQ(validate("1.2.3.4.5", 0), 1);
    expectSingleErrorBox("Erreur de format de l'adresse IP");
    EXPECT_EQ(validate("127.0.0.1", 0), 2);
    expectSingleErrorBox("Erreur sur numero de port");
    EXPECT_EQ(validate("127.0.0.1", 65536), 2);
    expectSingleErrorBox("Erreur sur numero de port");
    EXPECT_EQ(validate("0.0.0.0", 1), 0);
    EXPECT_TRUE(dialogsSeen.empty());
    EXPECT_EQ(validate("0.0.0.0", 65535), 0);
    EXPECT_TRUE(dialogsSeen.empty());
}

TEST_F(MainWindowTest, ListenWithARefusedAddressOpensNothing) {
    copyTextField(serverAddress, sizeof serverAddress, "1.1.1.256");
    serverPort = 9000;
    settingsChecked = false;
    sendCommand(IDM_LISTEN);
    expectSingleErrorBox("Erreur de format de l'adresse IP");
    EXPECT_EQ(serverState, SERVER_IDLE);
    EXPECT_EQ(serverSocket, NO_SOCKET);
    EXPECT_FALSE(settingsChecked);
    EXPECT_EQ(statusText(), "") << "the status line must stay as it was";
    EXPECT_EQ(menuState(IDM_LISTEN) & MF_GRAYED, 0);
    EXPECT_EQ(menuState(IDM_DISCONNECT) & MF_GRAYED, MF_GRAYED);
    // The next listen validates again and tells again.
    sendCommand(IDM_LISTEN);
    EXPECT_EQ(dialogsSeen.size(), 1u + 1u);
}
