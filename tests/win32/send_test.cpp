// The send dialog in the real window: F4 and the system menu's item open it, its
// line reads the text as it is typed, Envoyer sends the bytes to a real peer and only
// while they are right and a peer is there, the list keeps what was sent with its
// way of writing, and a file reaches the peer byte for byte while the button stops it.
#include <string>

#include "app/app_win32.h"
#include "harness.h"
#include "net/link.h"
#include "net/outgoing.h"
#include "net/send_text.h"
#include "words.h"
#include "ui/resource.h"

namespace {

bool enabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

// A text put in the combo box as typing would, and the line that follows it.
std::string lineFor(HWND dialog, const std::string& text) {
    SetDlgItemTextA(dialog, IDC_SEND_TEXT, text.c_str());
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SEND_TEXT, CBN_EDITCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_SEND_TEXT)));
    return controlText(dialog, IDC_SEND_LINE);
}

void choose(HWND dialog, int radio) {
    SendMessageA(GetDlgItem(dialog, radio), BM_CLICK, 0, 0);
}

}  // namespace

TEST_F(MainWindowTest, TheSendDialogSendsWhatItReadsOnlyWhenRightAndKeepsWhatWasSent) {
    forgetSentTexts();
    char label[32] = "";
    GetMenuStringA(GetSystemMenu(mainWindow, FALSE), IDM_SEND, label, sizeof label, MF_BYCOMMAND);
    EXPECT_EQ(std::string(label), "Envoyer...\tF4");
    ASSERT_TRUE(takeFocus());
    HWND dialog = nullptr;
    queueDialogScript([&](HWND shown) { dialog = shown; });
    const WORD f4 = VK_F4;
    pressKeys(&f4, 1);
    ASSERT_TRUE(pumpUntil([&] { return dialog != nullptr; }));
    EXPECT_EQ(windowText(dialog), "Envoyer");
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), mainWindow);
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_SEND_AS_TEXT), BST_CHECKED);
    EXPECT_EQ(controlText(dialog, IDC_SEND_AS_HEX), "&Hexadecimal");
    EXPECT_EQ(controlText(dialog, IDOK), "Envoyer");
    EXPECT_EQ(controlText(dialog, IDCANCEL), "Fermer");
    EXPECT_EQ(controlText(dialog, IDC_SEND_FILE), "&Fichier...");

    // Without a peer the line reads the text, and nothing can be sent.
    EXPECT_EQ(lineFor(dialog, "\\x10\\x0C"), "2 octets");
    EXPECT_FALSE(enabled(dialog, IDOK));
    EXPECT_FALSE(enabled(dialog, IDC_SEND_FILE));

    SOCKET peer = connectedPeer();
    ASSERT_NE(peer, INVALID_SOCKET);
    EXPECT_TRUE(enabled(dialog, IDOK)) << "a peer came: Envoyer follows";
    choose(dialog, IDC_SEND_AS_HEX);
    EXPECT_EQ(lineFor(dialog, "20 02 00 00"), "4 octets");
    pressButton(dialog, IDOK);
    EXPECT_EQ(receiveBytes(peer, 4, 5000), std::string("\x20\x02\x00\x00", 4));
    EXPECT_EQ(controlText(dialog, IDC_SEND_TEXT), "20 02 00 00") << "the dialog keeps the text";

    // Wrong texts: the line says why, Envoyer is grayed, and Enter sends nothing.
    EXPECT_EQ(lineFor(dialog, "ABC"), "chiffre hexadecimal seul en position 3");
    EXPECT_FALSE(enabled(dialog, IDOK));
    choose(dialog, IDC_SEND_AS_TEXT);
    EXPECT_EQ(lineFor(dialog, "\\x4"), "\\x sans deux chiffres hexadecimaux en position 1");
    SetActiveWindow(dialog);
    SetFocus(GetDlgItem(dialog, IDC_SEND_TEXT));
    const WORD enter = VK_RETURN;
    pressKeys(&enter, 1);
    pumpPending();
    EXPECT_EQ(lineFor(dialog, "AT\\r"), "3 octets");
    pressKeys(&enter, 1);  // Enter sends: the default button
    EXPECT_EQ(receiveBytes(peer, 3, 5000), "AT\r") << "the wrong text sent nothing before";

    // The list holds what was sent, newest first, each with its way of writing.
    HWND box = GetDlgItem(dialog, IDC_SEND_TEXT);
    ASSERT_EQ(SendMessageA(box, CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(SendMessageA(box, CB_GETITEMDATA, 0, 0), SEND_AS_TEXT);
    EXPECT_EQ(SendMessageA(box, CB_GETITEMDATA, 1, 0), SEND_AS_HEX);
    SendMessageA(box, CB_SETCURSEL, 1, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SEND_TEXT, CBN_SELCHANGE), reinterpret_cast<LPARAM>(box));
    ASSERT_TRUE(pumpUntil([&] { return controlText(dialog, IDC_SEND_LINE) == "4 octets"; }));
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_SEND_AS_HEX), BST_CHECKED);

    // F4 again brings the same dialog forward.
    ASSERT_TRUE(takeFocus());
    pressKeys(&f4, 1);
    ASSERT_TRUE(pumpUntil([&] { return GetActiveWindow() == dialog; }));

    // A file: the button stops it while it goes, the line tells how far it went,
    // and the peer gets every byte.
    const std::string path = scratchPath("send.bin");
    const std::string name = path.substr(path.find_last_of("\\/") + 1);
    const std::string bytes = randomBytes(3 * 1024 * 1024 + 17, 41);
    ASSERT_TRUE(writeWholeFile(path, bytes));
    ASSERT_TRUE(startSendingFile(path, outgoingConnection()));
    EXPECT_EQ(receiveBytes(peer, bytes.size(), 20000), bytes);
    ASSERT_TRUE(pumpUntil([] { return fileSending().state == FILE_SENT; }));
    EXPECT_EQ(controlText(dialog, IDC_SEND_LINE), name + " : 3 145 745 octets envoyes");
    EXPECT_EQ(controlText(dialog, IDC_SEND_FILE), "&Fichier...");
    // More than the sockets hold while the peer reads nothing: the button stops it.
    const std::string more = randomBytes(64 * 1024 * 1024, 42);
    ASSERT_TRUE(writeWholeFile(path, more));
    ASSERT_TRUE(startSendingFile(path, outgoingConnection()));
    EXPECT_EQ(controlText(dialog, IDC_SEND_FILE), "Arreter");
    pressButton(dialog, IDC_SEND_FILE);
    ASSERT_TRUE(pumpUntil([] { return fileSending().state == FILE_STOPPED; }));
    const std::uint64_t went = fileSending().sent;
    EXPECT_LT(went, more.size());
    EXPECT_EQ(controlText(dialog, IDC_SEND_LINE),
              name + " : arrete, " + groupedCount(went) + " / 67 108 864 octets envoyes");
    EXPECT_EQ(receiveBytes(peer, static_cast<size_t>(went), 20000), more.substr(0, static_cast<size_t>(went)));
    EXPECT_EQ(receiveBytes(peer, 1, 300), "") << "nothing went after the stop";

    // The peer goes: Envoyer and the file button are grayed.
    closesocket(peer);
    ASSERT_TRUE(pumpUntil([] { return serverState == SERVER_IDLE; }));
    EXPECT_FALSE(enabled(dialog, IDOK));
    EXPECT_FALSE(enabled(dialog, IDC_SEND_FILE));
    pressButton(dialog, IDCANCEL);
    ASSERT_TRUE(pumpUntil([&] { return !IsWindow(dialog); }));
    DeleteFileA(path.c_str());
}
