// Se connecter a, driven in-process: the dialog's controls, the boxes of a wrong host
// or port, the targets offered again, and the menus while the program connects to a
// device listening on 127.0.0.1.
#include "harness.h"

#include "app/app_win32.h"
#include "net/connect.h"
#include "net/link.h"
#include "ui/resource.h"

namespace {

class ConnectTest : public MainWindowTest {};

bool itemGrayed(int command) {
    return (GetMenuState(GetSystemMenu(mainWindow, FALSE), static_cast<UINT>(command), MF_BYCOMMAND) & MF_GRAYED) != 0;
}

std::string className(HWND window) {
    char name[32] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

void setHostAndPort(HWND dialog, const char* host, const char* port) {
    SetDlgItemTextA(dialog, IDC_CONNECT_HOST, host);
    SetDlgItemTextA(dialog, IDC_CONNECT_PORT, port);
}

// Connecter pressed and handled now; a box it brings up is answered by the next
// script.
void chooseConnect(HWND dialog) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
}

SOCKET listeningDevice(unsigned short* port) {
    SOCKET device = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = loopback(0);
    bind(device, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    listen(device, 1);
    int length = sizeof address;
    getsockname(device, reinterpret_cast<sockaddr*>(&address), &length);
    *port = ntohs(address.sin_port);
    return device;
}

TEST_F(ConnectTest, TheDialogSaysWhichOfHostAndPortIsWrongAndStays) {
    struct Seen {
        std::string caption;
        std::string hostClass;
        bool reconnectUnchecked;
        std::string connectText;
        std::string cancelText;
        bool stayedAfterEachBox;
    } seen = {};
    queueDialogScript([&seen](HWND dialog) {
        seen.caption = windowText(dialog);
        seen.hostClass = className(GetDlgItem(dialog, IDC_CONNECT_HOST));
        seen.reconnectUnchecked = IsDlgButtonChecked(dialog, IDC_CONNECT_RECONNECT) == BST_UNCHECKED;
        seen.connectText = controlText(dialog, IDOK);
        seen.cancelText = controlText(dialog, IDCANCEL);
        setHostAndPort(dialog, "192.168.1.300", "502");
        chooseConnect(dialog);
        setHostAndPort(dialog, "plc-2.example", "65536");
        chooseConnect(dialog);
        seen.stayedAfterEachBox = IsWindowVisible(dialog) != FALSE;
        pressButton(dialog, IDCANCEL);
    });
    queueDialogScript([](HWND box) { pressButton(box, IDOK); });
    queueDialogScript([](HWND box) { pressButton(box, IDOK); });
    sendCommand(IDM_CONNECT);

    EXPECT_EQ("Se connecter a", seen.caption);
    EXPECT_EQ("ComboBox", seen.hostClass);
    EXPECT_TRUE(seen.reconnectUnchecked);
    EXPECT_EQ("Connecter", seen.connectText);
    EXPECT_EQ("Annuler", seen.cancelText);
    EXPECT_TRUE(seen.stayedAfterEachBox);
    ASSERT_EQ(3u, dialogsSeen.size());
    ASSERT_EQ(1u, dialogsSeen[1].texts.size());
    EXPECT_EQ(HOST_WRONG_TEXT, dialogsSeen[1].texts[0]);
    EXPECT_EQ(CONNECT_PORT_WRONG_TEXT, dialogsSeen[2].texts[0]);
    EXPECT_EQ(SERVER_IDLE, serverState);  // Annuler: nothing is tried
}

TEST_F(ConnectTest, WhileConnectingAndConnectedTheMenusAreAsForAPeerAndTheTargetIsOfferedAgain) {
    unsigned short port = 0;
    SOCKET device = listeningDevice(&port);
    const std::string portText = std::to_string(port);
    EXPECT_FALSE(itemGrayed(IDM_CONNECT));
    queueDialogScript([&portText](HWND dialog) {
        setHostAndPort(dialog, " 127.0.0.1 ", portText.c_str());
        pressButton(dialog, IDOK);
    });
    sendCommand(IDM_CONNECT);

    // The connection is under way: its outcome waits in the queue.
    EXPECT_EQ(SERVER_CONNECTING, serverState);
    EXPECT_EQ("Connexion a <127.0.0.1 : " + portText + "> ...", statusText());
    EXPECT_EQ(MF_GRAYED, menuState(IDM_LISTEN) & MF_GRAYED);
    EXPECT_EQ(0, menuState(IDM_DISCONNECT) & MF_GRAYED);
    EXPECT_TRUE(itemGrayed(IDM_CONNECT));
    sendCommand(IDM_LISTEN);  // grayed: nothing
    EXPECT_EQ(SERVER_CONNECTING, serverState);

    ASSERT_TRUE(pumpUntil([] { return serverState == SERVER_CONNECTED; }));
    SOCKET peer = accept(device, nullptr, nullptr);
    ASSERT_NE(INVALID_SOCKET, peer);
    EXPECT_EQ("Connecte a <127.0.0.1 : " + portText + ">", statusText());
    EXPECT_EQ(MF_GRAYED, menuState(IDM_LISTEN) & MF_GRAYED);
    EXPECT_TRUE(itemGrayed(IDM_CONNECT));
    clearDialogsSeen();
    sendCommand(IDM_CONNECT);  // grayed: no dialog
    EXPECT_TRUE(dialogsSeen.empty());
    ASSERT_TRUE(sendAll(peer, "ready\r\n"));
    ASSERT_TRUE(pumpUntil([] { return gridCell(0, 0) == 'r'; }));

    sendCommand(IDM_DISCONNECT);
    bool closed = false;
    receiveBytes(peer, 1, 5000, &closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(SERVER_IDLE, serverState);
    EXPECT_FALSE(itemGrayed(IDM_CONNECT));
    closesocket(peer);
    closesocket(device);

    // Offered again: picked from the list, it fills the host and the port.
    struct Offered {
        LRESULT count;
        std::string host;
        std::string hostPicked;
        std::string portPicked;
    } offered = {};
    queueDialogScript([&offered](HWND dialog) {
        offered.count = SendDlgItemMessageW(dialog, IDC_CONNECT_HOST, CB_GETCOUNT, 0, 0);
        offered.host = controlText(dialog, IDC_CONNECT_HOST);
        setHostAndPort(dialog, "", "");
        SendDlgItemMessageW(dialog, IDC_CONNECT_HOST, CB_SETCURSEL, 0, 0);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_CONNECT_HOST, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_CONNECT_HOST)));
        pumpPending();
        offered.hostPicked = controlText(dialog, IDC_CONNECT_HOST);
        offered.portPicked = controlText(dialog, IDC_CONNECT_PORT);
        pressButton(dialog, IDCANCEL);
    });
    sendCommand(IDM_CONNECT);
    EXPECT_EQ(1, offered.count);
    EXPECT_EQ("127.0.0.1", offered.host);
    EXPECT_EQ("127.0.0.1", offered.hostPicked);
    EXPECT_EQ(portText, offered.portPicked);
}

}  // namespace
