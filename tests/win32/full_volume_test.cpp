// Writes that fail on a real full volume: the capture stops and says so once, the
// link and the screen go on; the session saved at close onto the full volume is
// told too, and the window still closes.
#include "harness.h"

#include "app/app_win32.h"
#include "capture/recorder.h"
#include "net/link.h"
#include "session/session.h"
#include "session/settings.h"
#include "terminal/screen.h"
#include "ui/resource.h"

namespace {

std::string fileText(const std::string& path) {
    std::string text = readWholeFile(path);
    return text == "<cannot open>" ? "" : text;
}

}  // namespace

TEST_F(MainWindowTest, WritesOntoAFullVolumeAreToldAndLoseNothingElse) {
    const std::string volume = ORU_FULL_VOLUME;
    if (GetFileAttributesA(windowsPath(volume + ".ready").c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::string why = fileText(windowsPath(volume + ".skip"));
        GTEST_SKIP() << "no small volume to fill: " << (why.empty() ? "it was not mounted" : why);
    }
    const std::string capture = windowsPath(volume + "/capture.txt");
    const std::string session = windowsPath(volume + "/session.sip");
    DeleteFileA(capture.c_str());
    DeleteFileA(session.c_str());

    // A capture onto the 64 KB volume, and a peer that sends four times as much.
    ASSERT_TRUE(startCaptureOn(capture));
    unsigned short port = freeLoopbackPort();
    ASSERT_TRUE(listenOn(port));
    SOCKET peer = connectPeer(port);
    ASSERT_NE(peer, INVALID_SOCKET);
    ASSERT_TRUE(pumpUntil([] { return serverState == SERVER_CONNECTED; }));
    clearDialogsSeen();
    const std::string sent = randomBytes(256 * 1024, 77);
    ASSERT_TRUE(sendAll(peer, sent));
    ASSERT_TRUE(pumpUntil([] { return captureMode == CAPTURE_OFF && !dialogsSeen.empty(); }));

    // Stopped as with "&Stop", told once; what went in before stays.
    EXPECT_EQ(captureFile, NO_FILE);
    EXPECT_EQ(menuState(IDM_CAPTURE) & MF_POPUP, 0) << "the drop-down is still there";
    EXPECT_EQ(menuState(IDM_CAPTURE_STOP), -1);
    std::string kept = readWholeFile(capture);
    EXPECT_GT(kept.size(), 0u);
    EXPECT_LT(kept.size(), sent.size());
    EXPECT_EQ(kept, sent.substr(0, kept.size())) << "the bytes written before the failure changed";

    // The link and the screen go on: a form feed and a word after the flood show.
    ASSERT_TRUE(sendAll(peer, "\x0c" "end"));
    EXPECT_TRUE(pumpUntil([] { return std::string(terminalRow(0), terminalRow(0) + 3) == "end"; }));
    EXPECT_EQ(serverState, SERVER_CONNECTED);
    ASSERT_EQ(dialogsSeen.size(), 1u) << "told more than once";
    EXPECT_EQ(dialogsSeen[0].caption, "erreur");
    EXPECT_EQ(dialogsSeen[0].texts, std::vector<std::string>{"Probleme avec le fichier !! "});
    EXPECT_EQ(dialogsSeen[0].owner, mainWindow);
    closesocket(peer);

    // The session, saved at close onto the same full volume: told, then the window goes.
    sessionUnnamed = false;
    copyTextField(sessionPath, sessionPathSize, session.c_str());
    clearDialogsSeen();
    SendMessageA(mainWindow, WM_CLOSE, 0, 0);
    pumpPending();
    EXPECT_FALSE(IsWindow(mainWindow));
    ASSERT_EQ(dialogsSeen.size(), 1u);
    EXPECT_EQ(dialogsSeen[0].caption, "erreur");
    EXPECT_EQ(dialogsSeen[0].texts,
              std::vector<std::string>{"Probleme avec le fichier d'initialisation!! "});
    DeleteFileA(capture.c_str());
    DeleteFileA(session.c_str());
}
