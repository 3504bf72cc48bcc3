// The octet view in the real window: F2 and the system menu's item switch to it and
// back, the item's check follows, F2 sends nothing, and the text view comes back
// with the same pixels.
#include <string>

#include "app/app_win32.h"
#include "harness.h"
#include "net/link.h"
#include "terminal/history_view.h"
#include "terminal/screen.h"
#include "ui/resource.h"

namespace {

bool octetItemChecked() {
    return (GetMenuState(GetSystemMenu(mainWindow, FALSE), IDM_OCTET_VIEW, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

// True once the screen shows all that it owes.
bool screenCaughtUp() {
    return pumpUntil([] { return !screenDrawingOwed() && !GetUpdateRect(mainWindow, nullptr, FALSE); });
}

}  // namespace

TEST_F(MainWindowTest, F2AndTheSystemMenuItemShowTheOctetsAndSendNothing) {
    char label[32] = "";
    GetMenuStringA(GetSystemMenu(mainWindow, FALSE), IDM_OCTET_VIEW, label, sizeof label, MF_BYCOMMAND);
    EXPECT_EQ(std::string(label), "Octets\tF2");
    ASSERT_TRUE(takeFocus());
    SOCKET peer = connectedPeer();
    ASSERT_NE(peer, INVALID_SOCKET);
    ASSERT_TRUE(sendAll(peer, std::string("hello\r\n\x02" "ABC\x03", 11)));
    ASSERT_TRUE(pumpUntil([] { return gridCell(1, 3) == 'C'; }));
    ASSERT_TRUE(screenCaughtUp());
    HideCaret(mainWindow);  // it blinks: the pixels are compared without it
    const std::vector<DWORD> textView = textAreaPixels();
    EXPECT_FALSE(octetItemChecked());

    // F2, then a typed key: the key is the first byte the peer gets.
    const WORD keys[2] = {VK_F2, 'K'};
    pressKeys(&keys[0], 1);
    pressKeys(&keys[1], 1);
    EXPECT_EQ(receiveBytes(peer, 1, 5000), "k");
    EXPECT_TRUE(octetViewIsShown());
    EXPECT_TRUE(octetItemChecked());
    ASSERT_TRUE(screenCaughtUp());
    EXPECT_NE(textAreaPixels(), textView);

    // The system menu's item brings the text view back as it was.
    PostMessageA(mainWindow, WM_SYSCOMMAND, IDM_OCTET_VIEW, 0);
    ASSERT_TRUE(pumpUntil([] { return !octetViewIsShown(); }));
    ASSERT_TRUE(screenCaughtUp());
    EXPECT_FALSE(octetItemChecked());
    EXPECT_TRUE(textAreaPixels() == textView) << "the text view came back otherwise";
    closesocket(peer);
}
