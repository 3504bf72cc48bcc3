// The capture recorder: its commands, its menu and the byte writer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/recorder.h"
#include "fake_platform.h"
#include "net/link.h"
#include "session/settings.h"
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
    captureWriteByte('a');
    EXPECT_EQ(3u, fake.trace.size());
}

TEST_F(CaptureTest, StartAppendsToTheExistingFileAndAttachesTheDropDown) {
    fake.files["C:\\logs\\cap.txt"] = bytesOf("old");
    start();
    EXPECT_EQ(Lines({"dialog 200", "openWrite C:\\logs\\cap.txt -> 3", "moveToEnd 3",
                     "attachCaptureMenu"}),
              fake.trace);
    EXPECT_EQ(3, captureFile);
    captureWriteByte('n');
    captureWriteByte(-23);    // widened with its sign
    captureWriteByte(0x141);  // only the low 8 bits
    captureWriteByte(0);
    EXPECT_EQ(Bytes({'o', 'l', 'd', 'n', 0xE9, 0x41, 0x00}), content());
    EXPECT_EQ("write 3 byte 233", fake.trace[5]);
}

TEST_F(CaptureTest, PauseResumeAndStopFollowTheMenuTable) {
    start();
    fake.trace.clear();
    captureWriteByte('1');
    pauseCapture();
    EXPECT_EQ(CAPTURE_PAUSED, captureMode);
    captureWriteByte('2');  // displayed elsewhere, never written
    resumeCapture();
    EXPECT_EQ(CAPTURE_RECORDING, captureMode);
    captureWriteByte('3');
    EXPECT_EQ(Lines({"write 3 byte 49", "menu 513 512", "menu 512 513", "write 3 byte 51"}),
              fake.trace);
    EXPECT_EQ(bytesOf("13"), content());
    EXPECT_EQ(1u, fake.openFiles.size());  // pausing keeps the file open

    fake.trace.clear();
    stopCapture();
    EXPECT_EQ(Lines({"close file 3", "detachCaptureMenu"}), fake.trace);
    EXPECT_EQ(CAPTURE_OFF, captureMode);
    EXPECT_EQ(NO_FILE, captureFile);
    captureWriteByte('4');
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
    captureWriteByte('a');
    stopCapture();
    start();
    EXPECT_EQ(2u, traceCount("attachCaptureMenu"));
    captureWriteByte('b');
    stopCapture();
    EXPECT_EQ(bytesOf("ab"), content());
}

TEST_F(CaptureTest, WriterNeedsBothTheFileAndTheRecordingMode) {
    captureMode = CAPTURE_RECORDING;
    captureWriteByte('x');
    start();
    captureMode = CAPTURE_OFF;
    captureWriteByte('y');
    EXPECT_TRUE(content().empty());
    EXPECT_EQ(0u, traceCount("write 3 byte 120") + traceCount("write 3 byte 121"));
}

TEST_F(CaptureTest, BytesReceivedWhileTheDialogIsUpAreNotRecorded) {
    serverState = SERVER_CONNECTED;
    serverSocket = clientSocket = 8;
    fake.openSockets.insert(8);
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
    EXPECT_EQ(9u, fake.delivered.size());
}

TEST_F(CaptureTest, ClosingTheWindowClosesAnOpenFileOnce) {
    closeCaptureFile();
    EXPECT_TRUE(fake.trace.empty());
    start();
    captureWriteByte('z');
    closeCaptureFile();
    closeCaptureFile();
    EXPECT_EQ(1u, traceCount("close file 3"));
    EXPECT_EQ(0, fake.badFileCloses);
    EXPECT_EQ(NO_FILE, captureFile);
    EXPECT_EQ(CAPTURE_OFF, captureMode);
    EXPECT_EQ(bytesOf("z"), content());
}

}  // namespace
