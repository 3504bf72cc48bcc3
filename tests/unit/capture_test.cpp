// The capture recorder: its commands, its menu and the byte writer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/recorder.h"
#include "fake_platform.h"
#include "net/link.h"
#include "session/settings.h"
#include "terminal/layout.h"
#include "terminal/screen.h"
#include "ui/resource.h"

namespace {

typedef std::vector<std::string> Lines;

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetAll();
        copyTextField(capturePath, sizeof capturePath, "C:\\logs\\cap.txt");
    }
    void TearDown() override { resetAll(); }

    static void start() {
        fake.dialogResults.push_back(0);
        startCapture();
        ASSERT_EQ(CAPTURE_RECORDING, captureMode) << traceText();
    }
    static const Bytes& content() { return fake.files["C:\\logs\\cap.txt"]; }
    // A grid on the screen and a peer connected on socket 8.
    static void connectWithAGrid() {
        setCellSize(10, 18);
        layoutTextArea(511);
        createScreenGrid();
        serverState = SERVER_CONNECTED;
        serverSocket = clientSocket = 8;
        fake.openSockets.insert(8);
    }
    // A received chunk reaching the recorder.
    static void received(const std::string& bytes) {
        captureWriteBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    }
};

TEST_F(CaptureTest, RefusedDialogStartsNothing) {
    fake.dialogResults.push_back(-1);
    startCapture();
    startCapture();  // a dialog that could not be shown counts as refused
    EXPECT_EQ(Lines({"dialog 200", "dialog 200"}), fake.trace);
    EXPECT_EQ(CAPTURE_OFF, captureMode);
    EXPECT_EQ(NO_FILE, captureFile);
}

TEST_F(CaptureTest, OpenFailureTellsTheUserAndLeavesEverythingAsItWas) {
    fake.unwritable.insert("C:\\logs\\cap.txt");
    fake.dialogResults.push_back(0);
    startCapture();
    EXPECT_EQ(Lines({"dialog 200", "openWrite C:\\logs\\cap.txt -> fail",
                     "errorBox Probleme avec le fichier !! |erreur"}),
              fake.trace);
    EXPECT_EQ(CAPTURE_OFF, captureMode);
    EXPECT_EQ(NO_FILE, captureFile);
    received("a");
    EXPECT_EQ(3u, fake.trace.size());

    // A file that opens but cannot be positioned at its end is closed unwritten.
    fake.trace.clear();
    fake.unwritable.clear();
    fake.moveToEndFails = true;
    fake.dialogResults.push_back(0);
    startCapture();
    EXPECT_EQ(Lines({"dialog 200", "openWrite C:\\logs\\cap.txt -> 3", "moveToEnd 3 -> fail",
                     "close file 3", "errorBox Probleme avec le fichier !! |erreur"}),
              fake.trace);
    EXPECT_EQ(CAPTURE_OFF, captureMode);
    EXPECT_EQ(NO_FILE, captureFile);
    EXPECT_TRUE(fake.openFiles.empty());
}

TEST_F(CaptureTest, StartAppendsToTheExistingFileAndAttachesTheDropDown) {
    fake.files["C:\\logs\\cap.txt"] = bytesOf("old");
    start();
    EXPECT_EQ(Lines({"dialog 200", "openWrite C:\\logs\\cap.txt -> 3", "moveToEnd 3",
                     "attachCaptureMenu"}),
              fake.trace);
    EXPECT_EQ(3, captureFile);
    received(std::string("n\xE9\x00", 3));  // one write for the whole chunk, raw
    received("");                           // nothing to write, no write
    received("A");
    EXPECT_EQ(Bytes({'o', 'l', 'd', 'n', 0xE9, 0x00, 'A'}), content());
    EXPECT_EQ(Lines({"write 3 3 bytes", "write 3 byte 65"}), Lines(fake.trace.begin() + 4, fake.trace.end()));
}

TEST_F(CaptureTest, PauseResumeAndStopFollowTheMenuTable) {
    start();
    fake.trace.clear();
    received("1");
    pauseCapture();
    EXPECT_EQ(CAPTURE_PAUSED, captureMode);
    received("2");  // displayed elsewhere, never written
    resumeCapture();
    EXPECT_EQ(CAPTURE_RECORDING, captureMode);
    received("3");
    EXPECT_EQ(Lines({"write 3 byte 49", "menu 513 512", "menu 512 513", "write 3 byte 51"}),
              fake.trace);
    EXPECT_EQ(bytesOf("13"), content());
    EXPECT_EQ(1u, fake.openFiles.size());  // pausing keeps the file open

    fake.trace.clear();
    stopCapture();
    EXPECT_EQ(Lines({"close file 3", "detachCaptureMenu"}), fake.trace);
    EXPECT_EQ(CAPTURE_OFF, captureMode);
    EXPECT_EQ(NO_FILE, captureFile);
    received("4");
    EXPECT_EQ(bytesOf("13"), content());
    EXPECT_TRUE(fake.openFiles.empty());

    // Stopping while paused ends the capture the same way.
    start();
    pauseCapture();
    fake.trace.clear();
    stopCapture();
    EXPECT_EQ(Lines({"close file 4", "detachCaptureMenu"}), fake.trace);
    EXPECT_EQ(CAPTURE_OFF, captureMode);
    EXPECT_EQ(0, fake.badFileCloses);
}

TEST_F(CaptureTest, SecondCaptureOnTheSamePathFollowsTheFirst) {
    start();
    received("a");
    stopCapture();
    start();
    EXPECT_EQ(2u, traceCount("attachCaptureMenu"));
    received("b");
    stopCapture();
    EXPECT_EQ(bytesOf("ab"), content());
}

TEST_F(CaptureTest, WriterNeedsBothTheFileAndTheRecordingMode) {
    captureMode = CAPTURE_RECORDING;
    received("x");
    start();
    captureMode = CAPTURE_OFF;
    received("y");
    EXPECT_TRUE(content().empty());
    EXPECT_EQ(0u, traceCount("write 3 byte 120") + traceCount("write 3 byte 121"));
}

TEST_F(CaptureTest, BytesReceivedWhileTheDialogIsUpAreNotRecorded) {
    connectWithAGrid();
    fake.dialogHandler = [](int id) {
        EXPECT_EQ(IDD_CAPTURE, id);
        fake.receives.push_back(FakeReceive{0, bytesOf("early")});
        onSocketNotify(8, 1);
        return 0;
    };
    startCapture();
    fake.receives.push_back(FakeReceive{0, bytesOf("late")});
    onSocketNotify(8, 1);
    EXPECT_EQ(bytesOf("late"), content());
    EXPECT_EQ("earlylate", std::string(terminalRow(0), terminalRow(0) + 9));  // both shown
}

TEST_F(CaptureTest, AWriteThatFailsOrFallsShortStopsTheCaptureAndIsToldOnce) {
    const std::size_t rooms[] = {0, 3};  // a full volume; room for three more bytes
    for (std::size_t room : rooms) {
        SCOPED_TRACE(room);
        resetAll();
        copyTextField(capturePath, sizeof capturePath, "C:\\logs\\cap.txt");
        fake.files["C:\\logs\\cap.txt"] = bytesOf("old");
        connectWithAGrid();
        start();
        fake.writeRoom = room;
        fake.receives.push_back(FakeReceive{0, bytesOf("abcdef")});
        fake.trace.clear();
        onSocketNotify(8, 1);
        // Stopped as with Stop, then the box once the chunk is on the screen.
        EXPECT_EQ(CAPTURE_OFF, captureMode);
        EXPECT_EQ(NO_FILE, captureFile);
        EXPECT_TRUE(fake.openFiles.empty());
        std::size_t stopped = traceFind("detachCaptureMenu");
        std::size_t shown = traceFind("endDrawing", stopped);
        std::size_t told = traceFind("errorBox Probleme avec le fichier !! |erreur", shown);
        EXPECT_LT(told, fake.trace.size()) << traceText();
        EXPECT_LT(traceFind("close file 3"), stopped);
        EXPECT_EQ(bytesOf("old" + std::string("abcdef", room)), content());
        EXPECT_EQ("abcdef", std::string(terminalRow(0), terminalRow(0) + 6));
        // The link goes on; later bytes are shown, not written, and nothing is told again.
        fake.receives.push_back(FakeReceive{0, bytesOf("gh")});
        onSocketNotify(8, 1);
        EXPECT_EQ(1u, traceCount("errorBox Probleme avec le fichier !! |erreur"));
        EXPECT_EQ(SERVER_CONNECTED, serverState);
        EXPECT_EQ("abcdefgh", std::string(terminalRow(0), terminalRow(0) + 8));
        EXPECT_EQ(3 + room, content().size());
    }
}

TEST_F(CaptureTest, ClosingTheWindowClosesAnOpenFileOnce) {
    closeCaptureFile();
    EXPECT_TRUE(fake.trace.empty());
    start();
    received("z");
    closeCaptureFile();
    closeCaptureFile();
    EXPECT_EQ(1u, traceCount("close file 3"));
    EXPECT_EQ(0, fake.badFileCloses);
    EXPECT_EQ(NO_FILE, captureFile);
    EXPECT_EQ(CAPTURE_OFF, captureMode);
    EXPECT_EQ(bytesOf("z"), content());
}

}  // namespace
