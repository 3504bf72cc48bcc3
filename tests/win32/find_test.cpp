// Finding in the real window: F3 and the system menu's item open the system's Find
// dialog, its request searches the rows, what is typed in it never reaches the peer,
// a box tells the end of the search, and Escape closes it.
#include <string>

#include "app/app_win32.h"
#include "harness.h"

#include <dlgs.h>
#include "net/link.h"
#include "terminal/history_view.h"
#include "terminal/screen.h"
#include "ui/resource.h"

namespace {

void feed(const std::string& bytes) {
    showReceivedBytes(bytes);
}

// The window with the keyboard, a connected peer, and the lines "line 1: ok" to
// "line 60: ok" received.
SOCKET peerAfterSixtyLines() {
    if (!takeFocus()) return INVALID_SOCKET;
    SOCKET peer = connectedPeer();
    std::string lines;
    for (int n = 1; n <= 60; ++n) lines += "line " + std::to_string(n) + ": ok\r\n";
    feed(lines);
    return peer;
}

// The row of the search's place is `wanted`.
bool searchPlaceIs(RowNumber wanted) {
    RowNumber row = 0;
    int col = 0;
    return searchPlace(&row, &col) && row == wanted;
}

// The Find dialog, opened from the window's menu, its text `text` found once with
// Find Next (up, from the newest row); null when it did not open.
HWND findDialogAfterFinding(const char* text) {
    HWND dialog = nullptr;
    queueDialogScript([&](HWND shown) { dialog = shown; });
    sendCommand(IDM_FIND);
    if (!pumpUntil([&] { return dialog != nullptr; })) return nullptr;
    SetDlgItemTextA(dialog, edt1, text);
    pressButton(dialog, IDOK);
    return dialog;
}

}  // namespace

TEST_F(MainWindowTest, TheFindDialogSearchesTheRowsAndSendsNothing) {
    char label[32] = "";
    GetMenuStringA(GetSystemMenu(mainWindow, FALSE), IDM_FIND, label, sizeof label, MF_BYCOMMAND);
    EXPECT_EQ(std::string(label), "Rechercher...\tF3");
    SOCKET peer = peerAfterSixtyLines();
    ASSERT_NE(peer, INVALID_SOCKET);

    // F3, with nothing searched yet, opens the dialog; it stays open.
    HWND dialog = nullptr;
    queueDialogScript([&](HWND shown) { dialog = shown; });
    const WORD f3 = VK_F3;
    pressKeys(&f3, 1);
    ASSERT_TRUE(pumpUntil([&] { return dialog != nullptr; }));
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), mainWindow);
    ASSERT_NE(GetDlgItem(dialog, edt1), nullptr);
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, chx1))) << "whole words are not offered";
    EXPECT_EQ(IsDlgButtonChecked(dialog, rad1), BST_CHECKED) << "up is the default";

    // Keys typed in it go to its text, not to the peer; Find Next searches.
    const WORD keys[2] = {'L', 'I'};
    pressKeys(&keys[0], 1);
    pressKeys(&keys[1], 1);
    ASSERT_TRUE(pumpUntil([&] { return controlText(dialog, edt1) == "li"; }));
    SetDlgItemTextA(dialog, edt1, "line 9:");
    pressButton(dialog, IDOK);
    ASSERT_TRUE(pumpUntil([] { return selectionIsShown(); }));
    int from = 0;
    int to = 0;
    EXPECT_TRUE(selectedColumns(shownPageTop() - 28, &from, &to));  // line 9 of 60: the first 36 left the grid
    EXPECT_EQ(from, 0);
    EXPECT_EQ(to, 6);
    EXPECT_EQ(viewOffset(), 28) << "a match above the view becomes its top row";

    // Once more: the end of the search, told in a box owned by the dialog.
    pressButton(dialog, IDOK);
    ASSERT_TRUE(pumpUntil([] { return dialogsSeen.size() == 2; }));
    pumpPending();
    EXPECT_EQ(dialogsSeen[1].owner, dialog);
    ASSERT_EQ(dialogsSeen[1].texts.size(), 1u);
    EXPECT_EQ(dialogsSeen[1].texts[0], "Impossible de trouver \"line 9:\"");
    EXPECT_EQ(viewOffset(), 28);

    // Escape closes the dialog; a key typed in the window goes to the peer first.
    SetActiveWindow(dialog);
    SetFocus(GetDlgItem(dialog, edt1));
    const WORD escape = VK_ESCAPE;
    pressKeys(&escape, 1);
    ASSERT_TRUE(pumpUntil([&] { return !IsWindow(dialog); }));
    ASSERT_TRUE(takeFocus());
    const WORD k = 'K';
    pressKeys(&k, 1);
    EXPECT_EQ(receiveBytes(peer, 1, 5000), "k");
    EXPECT_EQ(viewOffset(), 0) << "a typed key brings the live rows back";

    // Shift+F3 finds the text again the other way (down, to a new line), F3 in the
    // dialog's way (up, back to the first). The system menu's item opens the dialog
    // again.
    feed("line 9: again\r\n");
    const WORD shiftF3[2] = {VK_SHIFT, VK_F3};
    pressKeys(shiftF3, 2);
    ASSERT_TRUE(pumpUntil([&] { return selectedColumns(shownPageTop() + gridRows - 2, &from, &to); }));
    pressKeys(&f3, 1);
    ASSERT_TRUE(pumpUntil([&] { return selectedColumns(shownPageTop() - 29, &from, &to); }));
    EXPECT_EQ(viewOffset(), 29);
    HWND again = nullptr;
    queueDialogScript([&](HWND shown) { again = shown; });
    PostMessageA(mainWindow, WM_SYSCOMMAND, IDM_FIND, 0);
    ASSERT_TRUE(pumpUntil([&] { return again != nullptr; }));
    EXPECT_EQ(controlText(again, edt1), "line 9:");
    closesocket(peer);
}

// The program's keys act the same from the Find dialog's text box as from the
// window, and type nothing there. F3 pressed in the window at the end of a search:
// one box, owned by the window, however often F3 comes while it shows, and once it
// is gone the keyboard is the window's again: the next key goes to the peer.
TEST_F(MainWindowTest, TheProgramsKeysActFromTheFindDialogAndTheEndOfASearchGivesTheKeysBack) {
    SOCKET peer = peerAfterSixtyLines();
    ASSERT_NE(peer, INVALID_SOCKET);
    const RowNumber line60 = shownPageTop() + gridRows - 2;
    HWND dialog = findDialogAfterFinding("ok");
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(pumpUntil([&] { return searchPlaceIs(line60); }));
    HWND text = GetDlgItem(dialog, edt1);
    SetActiveWindow(dialog);
    SetFocus(text);
    ASSERT_TRUE(pumpUntil([&] { return GetFocus() == text; }));
    const WORD f3 = VK_F3;
    const WORD shiftF3[2] = {VK_SHIFT, VK_F3};
    const WORD f2 = VK_F2;
    pressKeys(&f3, 1);
    EXPECT_TRUE(pumpUntil([&] { return searchPlaceIs(line60 - 1); })) << "F3 in the dialog finds again";
    pressKeys(shiftF3, 2);
    EXPECT_TRUE(pumpUntil([&] { return searchPlaceIs(line60); })) << "Shift+F3 in the dialog finds the other way";
    pressKeys(&f2, 1);
    EXPECT_TRUE(pumpUntil([] { return octetViewIsShown(); })) << "F2 in the dialog shows the octets";
    pressKeys(&f2, 1);
    EXPECT_TRUE(pumpUntil([] { return !octetViewIsShown(); }));
    EXPECT_EQ(controlText(dialog, edt1), "ok");
    EXPECT_EQ(GetFocus(), text);

    // Down from line 60 there is nothing more.
    ASSERT_TRUE(takeFocus());
    const size_t seenBefore = dialogsSeen.size();
    queueDialogScript([](HWND box) {
        sendCommand(IDM_FIND_PREVIOUS);  // Shift+F3 again while the box shows
        pressButton(box, IDOK);
    });
    pressKeys(shiftF3, 2);
    ASSERT_TRUE(pumpUntil([&] { return dialogsSeen.size() > seenBefore; }));
    pumpPending();
    ASSERT_TRUE(pumpUntil([] { return GetFocus() == mainWindow; }));
    EXPECT_EQ(dialogsSeen.size(), seenBefore + 1) << "one box at a time";
    EXPECT_EQ(dialogsSeen.back().owner, mainWindow);
    ASSERT_EQ(dialogsSeen.back().texts.size(), 1u);
    EXPECT_EQ(dialogsSeen.back().texts[0], "Impossible de trouver \"ok\"");
    const WORD k = 'K';
    pressKeys(&k, 1);
    EXPECT_EQ(receiveBytes(peer, 1, 5000), "k");
    EXPECT_EQ(controlText(dialog, edt1), "ok");
    closesocket(peer);
}

// While the Find dialog is open, F3 and Shift+F3 search for what it shows now: its
// text, Match case and direction, whether or not Find Next was pressed since.
TEST_F(MainWindowTest, F3WhileTheFindDialogIsOpenSearchesAsTheDialogShowsNow) {
    SOCKET peer = peerAfterSixtyLines();
    ASSERT_NE(peer, INVALID_SOCKET);
    const RowNumber line60 = shownPageTop() + gridRows - 2;
    HWND dialog = findDialogAfterFinding("ok");
    ASSERT_NE(dialog, nullptr);
    pressButton(dialog, IDOK);
    ASSERT_TRUE(pumpUntil([&] { return searchPlaceIs(line60 - 1); }));

    // Down, chosen in the dialog and never searched: F3 goes down, Shift+F3 up.
    CheckRadioButton(dialog, rad1, rad2, rad2);
    sendCommand(IDM_FIND_NEXT);
    EXPECT_TRUE(pumpUntil([&] { return searchPlaceIs(line60); })) << "F3 went the last Find Next's way";
    sendCommand(IDM_FIND_PREVIOUS);
    EXPECT_TRUE(pumpUntil([&] { return searchPlaceIs(line60 - 1); }));
    // A text typed and never searched, up again, with Match case: F3 finds it.
    SetDlgItemTextA(dialog, edt1, "line 3:");
    CheckRadioButton(dialog, rad1, rad2, rad1);
    CheckDlgButton(dialog, chx2, BST_CHECKED);
    sendCommand(IDM_FIND_NEXT);
    EXPECT_TRUE(pumpUntil([&] { return searchPlaceIs(line60 - 57); })) << "F3 searched the text searched last";
    SetDlgItemTextA(dialog, edt1, "LINE 2:");
    sendCommand(IDM_FIND_NEXT);
    ASSERT_TRUE(pumpUntil([] { return !dialogsSeen.empty() && dialogsSeen.back().texts.size() == 1 &&
                                      dialogsSeen.back().texts[0] == "Impossible de trouver \"LINE 2:\""; }))
        << "Match case, checked in the dialog, was not followed";
    pumpPending();
    closesocket(peer);
}
