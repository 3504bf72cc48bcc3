// The send dialog in the real window: F4 and the system menu's item open it, its
// line reads the text as it is typed, Envoyer sends the bytes to a real peer and only
// while they are right and a peer is there, the list keeps what was sent with its
// way of writing, and a file reaches the peer byte for byte while the button stops it.
#include <cstdio>
#include <string>

#include <windows.h>
#include <dlgs.h>

#include "app/app_win32.h"
#include "harness.h"
#include "net/link.h"
#include "net/outgoing.h"
#include "net/send_text.h"
#include "session/settings.h"
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

namespace {

HWND openedSendDialog() {
    HWND dialog = nullptr;
    queueDialogScript([&](HWND shown) { dialog = shown; });
    sendCommand(IDM_SEND);
    pumpUntil([&] { return dialog != nullptr; });
    return dialog;
}

bool listShown(HWND dialog) {
    return SendDlgItemMessageW(dialog, IDC_SEND_TEXT, CB_GETDROPPEDSTATE, 0, 0) != 0;
}

std::wstring wideControlText(HWND dialog, int id) {
    wchar_t text[512] = L"";
    GetDlgItemTextW(dialog, id, text, 512);
    return text;
}

// The system's Open dialog, driven as a person would: the name in its box, then Open.
void chooseInOpenDialog(HWND chooser, const std::wstring& path) {
    SetWindowTextW(fileNameBox(chooser), path.c_str());
    pressButton(chooser, IDOK);
}

std::wstring temporaryFolder() {
    wchar_t folder[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, folder);
    return folder;
}

}  // namespace

// Buttons grayed under the keyboard hand it to the text box, where Escape still
// closes the dialog; F4 there opens the list of texts sent, as Alt+Down does, and
// elsewhere in the dialog F4 is the program's.
TEST_F(MainWindowTest, TheSendDialogKeepsTheKeyboardWhenItsButtonsGrayAndF4InItsTextBoxOpensTheList) {
    forgetSentTexts();
    SOCKET peer = connectedPeer();
    ASSERT_NE(peer, INVALID_SOCKET);
    HWND dialog = openedSendDialog();
    ASSERT_NE(dialog, nullptr);
    HWND box = GetDlgItem(dialog, IDC_SEND_TEXT);
    EXPECT_EQ(lineFor(dialog, "AT"), "2 octets");
    pressButton(dialog, IDOK);
    ASSERT_EQ(receiveBytes(peer, 2, 5000), "AT");

    SetActiveWindow(dialog);
    HWND send = GetDlgItem(dialog, IDOK);
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(send), TRUE);
    ASSERT_TRUE(pumpUntil([&] { return GetFocus() == send; }));
    closesocket(peer);
    ASSERT_TRUE(pumpUntil([] { return serverState == SERVER_IDLE; }));
    EXPECT_FALSE(enabled(dialog, IDOK));
    HWND focus = GetFocus();
    EXPECT_TRUE(focus == box || GetParent(focus) == box) << "the keyboard went nowhere";

    const WORD f4 = VK_F4;
    const WORD escape = VK_ESCAPE;
    const WORD altDown[2] = {VK_MENU, VK_DOWN};
    pressKeys(&f4, 1);
    EXPECT_TRUE(pumpUntil([&] { return listShown(dialog); })) << "F4 did not open the list";
    pressKeys(&escape, 1);
    ASSERT_TRUE(pumpUntil([&] { return !listShown(dialog); }));
    EXPECT_TRUE(IsWindow(dialog)) << "Escape closed the dialog, not the list";
    pressKeys(altDown, 2);
    EXPECT_TRUE(pumpUntil([&] { return listShown(dialog); })) << "Alt+Down did not open the list";
    pressKeys(&escape, 1);
    ASSERT_TRUE(pumpUntil([&] { return !listShown(dialog); }));

    // On another control F4 is the program's: it brings the dialog forward.
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_SEND_AS_HEX)), TRUE);
    pressKeys(&f4, 1);
    pumpPending();
    EXPECT_FALSE(listShown(dialog));
    EXPECT_EQ(GetActiveWindow(), dialog);
    pressKeys(&escape, 1);
    EXPECT_TRUE(pumpUntil([&] { return !IsWindow(dialog); })) << "Escape no longer closes the dialog";
}

// The text box is read as Unicode: a character the code page lacks is told where it
// stands and nothing goes; the others are their code page bytes. A key typed in the
// window still reaches the peer as its one code page byte.
TEST_F(MainWindowTest, TheSendDialogReadsUnicodeAndRefusesACharacterTheCodePageLacks) {
    std::printf("[ measured ] the ANSI code page here: %u\n", GetACP());
    SOCKET peer = connectedPeer();
    ASSERT_NE(peer, INVALID_SOCKET);
    HWND dialog = openedSendDialog();
    ASSERT_NE(dialog, nullptr);
    auto lineForWide = [&](const wchar_t* text) {
        SetDlgItemTextW(dialog, IDC_SEND_TEXT, text);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_SEND_TEXT, CBN_EDITCHANGE),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_SEND_TEXT)));
        return controlText(dialog, IDC_SEND_LINE);
    };
    if (GetACP() == 1252) {
        EXPECT_EQ(lineForWide(L"a\u03a9b"), "caractere U+03A9 absent de la page de code en position 2");
        EXPECT_FALSE(enabled(dialog, IDOK));
        pressButton(dialog, IDOK);
        EXPECT_EQ(receiveBytes(peer, 1, 300), "") << "a text with a character refused was sent";
        EXPECT_EQ(lineForWide(L"\u00e9t\u00e9\\xE9"), "4 octets");
        pressButton(dialog, IDOK);
        EXPECT_EQ(receiveBytes(peer, 4, 5000), "\xe9t\xe9\xe9") << "Omega went as another byte";
    }
    pressButton(dialog, IDCANCEL);
    ASSERT_TRUE(takeFocus());
    INPUT typed[2];
    ZeroMemory(typed, sizeof typed);
    for (INPUT& key : typed) {
        key.type = INPUT_KEYBOARD;
        key.ki.wScan = 0x00E9;
        key.ki.dwFlags = KEYEVENTF_UNICODE;
    }
    typed[1].ki.dwFlags |= KEYEVENTF_KEYUP;
    SendInput(2, typed, sizeof typed[0]);
    std::string expected;
    WCHAR e = 0x00E9;
    char ansi[4] = "";
    expected.assign(ansi, static_cast<size_t>(WideCharToMultiByte(CP_ACP, 0, &e, 1, ansi, 4, nullptr, nullptr)));
    EXPECT_EQ(receiveBytes(peer, expected.size(), 5000), expected);
    closesocket(peer);
}

// A file with a name in any script, chosen in the Open dialog, goes to the peer;
// one chosen for a peer that left while the dialog was up goes to no other.
TEST_F(MainWindowTest, AFileChosenInTheOpenDialogGoesWhateverItsNameAndOnlyToItsConnection) {
    const std::wstring path = temporaryFolder() + L"oru-\u65e5\u672c\u8a9e.bin";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, "bytes", 5, &written, nullptr);
    CloseHandle(file);
    SOCKET peer = connectedPeer();
    ASSERT_NE(peer, INVALID_SOCKET);
    const unsigned short port = static_cast<unsigned short>(serverPort);
    HWND dialog = openedSendDialog();
    ASSERT_NE(dialog, nullptr);
    queueDialogScript([&](HWND chooser) { chooseInOpenDialog(chooser, path); });
    pressButton(dialog, IDC_SEND_FILE);
    EXPECT_EQ(receiveBytes(peer, 5, 10000), "bytes");
    ASSERT_TRUE(pumpUntil([] { return fileSending().state == FILE_SENT; })) << fileSending().state;
    EXPECT_TRUE(wideControlText(dialog, IDC_SEND_LINE) == L"oru-\u65e5\u672c\u8a9e.bin : 5 octets envoyes");

    // Listening continuously, the peer leaves and the next comes in while the person
    // chooses.
    SendMessageA(mainWindow, WM_SYSCOMMAND, IDM_KEEP_LISTENING, 0);
    SOCKET next = INVALID_SOCKET;
    queueDialogScript([&](HWND chooser) {
        closesocket(peer);
        if (pumpUntil([] { return serverState == SERVER_LISTENING; })) next = connectPeer(port);
        pumpUntil([] { return serverState == SERVER_CONNECTED; });
        chooseInOpenDialog(chooser, path);
    });
    pressButton(dialog, IDC_SEND_FILE);
    ASSERT_TRUE(pumpUntil([] { return fileSending().state == FILE_WITHOUT_CONNECTION; }));
    ASSERT_NE(next, INVALID_SOCKET);
    EXPECT_EQ(serverState, SERVER_CONNECTED);
    EXPECT_TRUE(wideControlText(dialog, IDC_SEND_LINE) ==
                L"oru-\u65e5\u672c\u8a9e.bin : connexion terminee, rien n'est parti");
    EXPECT_EQ(receiveBytes(next, 1, 500), "") << "the file chosen for one peer went to the next";
    SendMessageA(mainWindow, WM_SYSCOMMAND, IDM_KEEP_LISTENING, 0);
    closesocket(next);
    pressButton(dialog, IDCANCEL);
    DeleteFileW(path.c_str());
}

// A log that another program still writes can be sent, and while it goes other
// programs can go on reading it.
TEST_F(MainWindowTest, AFileAnotherProgramWritesCanBeSentAndReadByOthersWhileItGoes) {
    SOCKET peer = connectedPeer();
    ASSERT_NE(peer, INVALID_SOCKET);
    const std::string path = scratchPath("growing.log");
    const DWORD everyone = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, everyone, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    const std::string bytes = randomBytes(16 * 1024 * 1024, 43);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writer, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    EXPECT_TRUE(startSendingFile(path, outgoingConnection())) << "a file being written could not be sent";
    EXPECT_EQ(fileSending().state, FILE_GOING) << "the peer reads nothing: the file cannot have gone whole";
    HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE) << "another reader was refused, error " << GetLastError();
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
    CloseHandle(writer);
    stopSendingFile();
    closesocket(peer);
    pumpUntil([] { return serverState == SERVER_IDLE; });
    DeleteFileA(path.c_str());
}

// A file larger than a turn of sending goes in turns, each asked for by its
// connection, with painting coming first between them: it arrives whole.
TEST_F(MainWindowTest, AFileOfManyTurnsGoesWholeWhileTheWindowIsPainted) {
    SOCKET peer = connectedPeer();
    ASSERT_NE(peer, INVALID_SOCKET);
    const std::string path = scratchPath("many-turns.bin");
    const std::string bytes = randomBytes(3 * SENDING_TURN_LIMIT + 5, 44);
    ASSERT_TRUE(writeWholeFile(path, bytes));
    ASSERT_TRUE(startSendingFile(path, outgoingConnection()));
    std::string got;
    for (DWORD start = GetTickCount(); got.size() < bytes.size() && GetTickCount() - start < 60000;) {
        InvalidateRect(mainWindow, nullptr, FALSE);  // painting waits: the next turn comes after it
        got += receiveBytes(peer, bytes.size() - got.size(), 200);
    }
    EXPECT_EQ(got.size(), bytes.size());
    EXPECT_TRUE(got == bytes) << "the file arrived otherwise than it is";
    EXPECT_TRUE(pumpUntil([] { return fileSending().state == FILE_SENT; }));
    closesocket(peer);
    DeleteFileA(path.c_str());
}
