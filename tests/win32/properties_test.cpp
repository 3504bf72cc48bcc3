// The Properties dialog driven in-process: what it shows at opening, read-only
// boxes while the link is not idle, and what OK and "Annuler" write.
#include "harness.h"

#include "app/app_win32.h"
// Winsock defines NO_ADDRESS (a resolver error) as a macro; the program's
// constant of that name is meant here.
#undef NO_ADDRESS
#include "net/address.h"
#include "net/link.h"
#include "session/settings.h"
#include "ui/resource.h"

namespace {

// What the dialog showed when it came up.
struct PropertiesSeen {
    std::string address;
    std::string port;
    bool wrapTicked;
    bool addressReadOnly;
    bool portReadOnly;
    bool wrapEnabled;
    RECT where;  // the client area's top-left corner, on the screen
};

PropertiesSeen readProperties(HWND dialog) {
    PropertiesSeen seen;
    seen.address = controlText(dialog, IDC_ADDRESS);
    seen.port = controlText(dialog, IDC_PORT);
    seen.wrapTicked = IsDlgButtonChecked(dialog, IDC_AUTOWRAP) == BST_CHECKED;
    seen.addressReadOnly = (GetWindowLongA(GetDlgItem(dialog, IDC_ADDRESS), GWL_STYLE) & ES_READONLY) != 0;
    seen.portReadOnly = (GetWindowLongA(GetDlgItem(dialog, IDC_PORT), GWL_STYLE) & ES_READONLY) != 0;
    seen.wrapEnabled = IsWindowEnabled(GetDlgItem(dialog, IDC_AUTOWRAP)) != FALSE;
    POINT corner = {0, 0};
    ClientToScreen(dialog, &corner);
    seen.where = {corner.x, corner.y, 0, 0};
    return seen;
}

// Opens the dialog through its command; `fill` runs in it, then `button` is pressed.
PropertiesSeen runProperties(const std::function<void(HWND)>& fill, int button) {
    PropertiesSeen seen = {};
    queueDialogScript([&seen, fill, button](HWND dialog) {
        seen = readProperties(dialog);
        if (fill) fill(dialog);
        pressButton(dialog, button);
    });
    sendCommand(IDM_PROPERTIES);
    return seen;
}

void setTicked(HWND dialog, bool ticked) {
    CheckDlgButton(dialog, IDC_AUTOWRAP, ticked ? BST_CHECKED : BST_UNCHECKED);
}

void setSettings(const char* address, std::uint32_t port) {
    copyTextField(serverAddress, sizeof serverAddress, address);
    serverPort = port;
}

// A timer inside the dialog's own modal loop: waits for `condition`, then acts.
struct DialogWait {
    std::function<bool()> condition;
    std::function<void(HWND)> action;
    DWORD start;
    bool held;
};
DialogWait dialogWait;

void CALLBACK dialogWaitTimer(HWND dialog, UINT, UINT_PTR id, DWORD) {
    dialogWait.held = dialogWait.condition();
    if (!dialogWait.held && GetTickCount() - dialogWait.start < 10000) return;
    KillTimer(dialog, id);
    dialogWait.action(dialog);
}

}  // namespace

TEST_F(MainWindowTest, PropertiesFillDefaultsAtOpeningEvenWhenCancelled) {
    setSettings("", 0);
    settingsChecked = true;
    PropertiesSeen seen = runProperties(nullptr, IDCANCEL);
    ASSERT_EQ(dialogsSeen.size(), 1u) << "Cancel must not validate";
    EXPECT_EQ(dialogsSeen[0].caption, "Proprietes");
    EXPECT_EQ(dialogsSeen[0].owner, mainWindow);
    EXPECT_EQ(dialogsSeen[0].focusId, IDC_ADDRESS);
    EXPECT_EQ(seen.address, "0.0.0.0");
    EXPECT_EQ(seen.port, "9000");
    EXPECT_FALSE(seen.wrapTicked);
    EXPECT_FALSE(seen.addressReadOnly);
    EXPECT_FALSE(seen.portReadOnly);
    EXPECT_STREQ(serverAddress, "0.0.0.0");
    EXPECT_EQ(serverPort, 9000u);
    EXPECT_TRUE(settingsChecked);
    POINT origin = {0, 0};
    ClientToScreen(mainWindow, &origin);
    EXPECT_EQ(seen.where.left, origin.x);
    EXPECT_EQ(seen.where.top, origin.y);

    // A port above 65535 is shown unsigned, as stored.
    setSettings("1.2.3.4", 4000000000u);
    seen = runProperties(nullptr, IDCANCEL);
    EXPECT_EQ(seen.port, "4000000000");
}

TEST_F(MainWindowTest, PropertiesCancelNeverChangesAutoWrap) {
    autoWrap = false;
    runProperties([](HWND d) { setTicked(d, true); }, IDCANCEL);
    EXPECT_FALSE(autoWrap);
    autoWrap = true;
    PropertiesSeen seen = runProperties([](HWND d) { setTicked(d, false); }, IDCANCEL);
    EXPECT_TRUE(seen.wrapTicked);
    EXPECT_TRUE(autoWrap);
}

TEST_F(MainWindowTest, PropertiesOkWhileIdleStoresAndValidates) {
    unsigned short port = freeLoopbackPort();
    setSettings("0.0.0.0", 9000);
    settingsChecked = false;
    runProperties([port](HWND d) {
        SetDlgItemTextA(d, IDC_ADDRESS, "127.0.0.1");
        SetDlgItemInt(d, IDC_PORT, port, FALSE);
        setTicked(d, true);
    }, IDOK);
    EXPECT_EQ(dialogsSeen.size(), 1u) << "valid settings show no box";
    EXPECT_STREQ(serverAddress, "127.0.0.1");
    EXPECT_EQ(serverPort, port);
    EXPECT_TRUE(autoWrap);
    EXPECT_TRUE(settingsChecked);
    EXPECT_EQ(listenAddress, htonl(INADDR_LOOPBACK));
    // The next listen goes ahead without validating again.
    sendCommand(IDM_LISTEN);
    EXPECT_EQ(serverState, SERVER_LISTENING);
    EXPECT_EQ(dialogsSeen.size(), 1u);
}

TEST_F(MainWindowTest, PropertiesOkKeepsWhatTheBoxesDoNotGive) {
    const char* ports[] = {"", "0", "abc"};
    for (const char* portText : ports) {
        SCOPED_TRACE(portText);
        clearDialogsSeen();
        setSettings("10.1.2.3", 7000);
        runProperties([portText](HWND d) {
            SetDlgItemTextA(d, IDC_ADDRESS, "");
            SetDlgItemTextA(d, IDC_PORT, portText);
        }, IDOK);
        EXPECT_STREQ(serverAddress, "10.1.2.3");
        EXPECT_EQ(serverPort, 7000u);
        EXPECT_EQ(dialogsSeen.size(), 1u);
        EXPECT_TRUE(settingsChecked);
    }

    // Port 65536 is stored as typed; the validation then tells and clears the flag.
    clearDialogsSeen();
    runProperties([](HWND d) { SetDlgItemTextA(d, IDC_PORT, "65536"); }, IDOK);
    EXPECT_EQ(serverPort, 65536u);
    EXPECT_FALSE(settingsChecked);
    ASSERT_EQ(dialogsSeen.size(), 2u);
    EXPECT_EQ(dialogsSeen[1].caption, "Erreur");
    ASSERT_EQ(dialogsSeen[1].texts.size(), 1u);
    EXPECT_EQ(dialogsSeen[1].texts[0], "Erreur sur numero de port");

    // An address longer than the field keeps its first 19 characters.
    clearDialogsSeen();
    runProperties([](HWND d) {
        SetDlgItemTextA(d, IDC_ADDRESS, "123456789012345678901234");
        SetDlgItemTextA(d, IDC_PORT, "80");
    }, IDOK);
    EXPECT_STREQ(serverAddress, "1234567890123456789");
    EXPECT_EQ(serverPort, 80u);
    EXPECT_FALSE(settingsChecked);
    ASSERT_EQ(dialogsSeen.size(), 2u);
    ASSERT_EQ(dialogsSeen[1].texts.size(), 1u);
    EXPECT_EQ(dialogsSeen[1].texts[0], "Erreur de format de l'adresse IP");
}

TEST_F(MainWindowTest, PropertiesWhileListeningChangeOnlyAutoWrap) {
    unsigned short port = freeLoopbackPort();
    ASSERT_TRUE(listenOn(port));
    ASSERT_TRUE(settingsChecked);
    autoWrap = false;
    PropertiesSeen seen = runProperties([](HWND d) {
        SetDlgItemTextA(d, IDC_ADDRESS, "10.9.9.9");
        SetDlgItemTextA(d, IDC_PORT, "1");
        setTicked(d, true);
    }, IDOK);
    EXPECT_TRUE(seen.addressReadOnly);
    EXPECT_TRUE(seen.portReadOnly);
    EXPECT_TRUE(seen.wrapEnabled);
    EXPECT_EQ(seen.address, "127.0.0.1");
    EXPECT_EQ(seen.port, std::to_string(port));
    EXPECT_TRUE(autoWrap);
    EXPECT_STREQ(serverAddress, "127.0.0.1");
    EXPECT_EQ(serverPort, port);
    EXPECT_TRUE(settingsChecked) << "no validation may run while listening";
    EXPECT_EQ(dialogsSeen.size(), 1u);
    EXPECT_EQ(serverState, SERVER_LISTENING);
}

TEST_F(MainWindowTest, PropertiesOpenedConnectedThenPeerLeavesValidatesOnOk) {
    unsigned short port = freeLoopbackPort();
    ASSERT_TRUE(listenOn(port));
    SOCKET peer = connectPeer(port);
    ASSERT_NE(peer, INVALID_SOCKET);
    ASSERT_TRUE(pumpUntil([] { return serverState == SERVER_CONNECTED; }));
    PropertiesSeen seen = {};
    queueDialogScript([&](HWND dialog) {
        seen = readProperties(dialog);
        // The peer goes while the dialog is up; its own loop handles the close.
        closesocket(peer);
        dialogWait = {[] { return serverState == SERVER_IDLE; },
                      [](HWND d) { pressButton(d, IDOK); }, GetTickCount(), false};
        SetTimer(dialog, 0x4F20, 20, dialogWaitTimer);
    });
    sendCommand(IDM_PROPERTIES);
    EXPECT_TRUE(seen.addressReadOnly);
    EXPECT_TRUE(seen.portReadOnly);
    EXPECT_TRUE(dialogWait.held) << "the link did not go idle while the dialog was up";
    // OK found the link idle: it read the boxes (as shown) and validated them.
    EXPECT_STREQ(serverAddress, "127.0.0.1");
    EXPECT_EQ(serverPort, port);
    EXPECT_TRUE(settingsChecked);
    EXPECT_EQ(dialogsSeen.size(), 1u);
}
