// Session files on real files: reading, writing without truncation, sharing refused
// while another handle holds the file, and the load at start-up and save at close.
#include "harness.h"

#include <cstring>

#include "app/app_win32.h"
#include "capture/recorder.h"
#include "session/record.h"
#include "session/session.h"
#include "session/settings.h"

namespace {

const std::string RECORD_27("0.0.0.0\0" "\x28\x23\0" "C:\\capture.txt\0\xFF", 27);
const std::string RECORD_24("10.0.0.2\0" "\x90\x1F\0" "C:\\cap.txt\0\x01", 24);

void setSettings(const char* address, std::uint32_t port, const char* path, bool wrap) {
    copyTextField(serverAddress, sizeof serverAddress, address);
    serverPort = port;
    copyTextField(capturePath, sizeof capturePath, path);
    autoWrap = wrap;
}

void expectSettings(const char* address, std::uint32_t port, const char* path, bool wrap) {
    EXPECT_STREQ(serverAddress, address);
    EXPECT_EQ(serverPort, port);
    EXPECT_STREQ(capturePath, path);
    EXPECT_EQ(autoWrap, wrap);
}

HANDLE holdFile(const std::string& path, DWORD share) {
    return CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Closes the main window as the close box does and handles what follows.
void closeMainWindow() {
    SendMessageA(mainWindow, WM_CLOSE, 0, 0);
    pumpPending();
}

class SessionFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        clearDialogsSeen();
        autoWrap = false;
    }
    void TearDown() override {
        destroyMainWindow();
        EXPECT_EQ(dialogsStuck, 0);
        clearDialogsSeen();
        for (const std::string& path : made) {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
    }
    std::string file(const std::string& name) {
        made.push_back(scratchPath(name));
        return made.back();
    }
    std::vector<std::string> made;
};

}  // namespace

TEST_F(SessionFileTest, WritesTheRecordAndNeverTruncates) {
    std::string fresh = file("fresh.sip");
    setSettings("0.0.0.0", 9000, "C:\\capture.txt", false);
    ASSERT_EQ(writeSessionFile(fresh.c_str()), 0);
    EXPECT_EQ(readWholeFile(fresh), RECORD_27);

    std::string longer = file("longer.sip");
    ASSERT_TRUE(writeWholeFile(longer, std::string(40, 'Z')));
    ASSERT_EQ(writeSessionFile(longer.c_str()), 0);
    EXPECT_EQ(fileSize(longer), 40);
    EXPECT_EQ(readWholeFile(longer), RECORD_27 + std::string(13, 'Z'));
    setSettings("9.9.9.9", 1, "elsewhere", true);
    ASSERT_EQ(loadSessionFile(longer.c_str()), 0);
    expectSettings("0.0.0.0", 9000, "C:\\capture.txt", false);
}

TEST_F(SessionFileTest, LoadsOnlyWhatItCanRead) {
    std::string big = file("big.sip");
    ASSERT_TRUE(writeWholeFile(big, RECORD_24 + std::string(600 - 24, 'Q')));
    setSettings("1.1.1.1", 1, "x", false);
    ASSERT_EQ(loadSessionFile(big.c_str()), 0);
    expectSettings("10.0.0.2", 8080, "C:\\cap.txt", true);

    std::string empty = file("empty.sip");
    ASSERT_TRUE(writeWholeFile(empty, ""));
    std::string noZero = file("nozero.sip");
    ASSERT_TRUE(writeWholeFile(noZero, std::string(512, 'a') + std::string(1, '\0') + "tail"));
    std::string missing = file("missing.sip");
    for (const std::string& path : {empty, noZero, missing}) {
        SCOPED_TRACE(path);
        setSettings("2.2.2.2", 2222, "kept", true);
        EXPECT_EQ(loadSessionFile(path.c_str()), -1);
        expectSettings("2.2.2.2", 2222, "kept", true);
    }
}

TEST_F(SessionFileTest, ARecordHeldOpenElsewhereIsNeitherReadNorWritten) {
    std::string held = file("held.sip");
    ASSERT_TRUE(writeWholeFile(held, RECORD_24));
    for (DWORD share : {0ul, static_cast<unsigned long>(FILE_SHARE_READ | FILE_SHARE_WRITE)}) {
        SCOPED_TRACE(share);
        HANDLE other = holdFile(held, share);
        ASSERT_NE(other, INVALID_HANDLE_VALUE);
        setSettings("3.3.3.3", 3333, "kept", false);
        EXPECT_EQ(loadSessionFile(held.c_str()), -1) << "sharing was not refused";
        expectSettings("3.3.3.3", 3333, "kept", false);
        EXPECT_EQ(writeSessionFile(held.c_str()), SESSION_NOT_OPENED) << "sharing was not refused";
        CloseHandle(other);
        EXPECT_EQ(readWholeFile(held), RECORD_24);
    }
    // Once the other handle is gone both work again.
    ASSERT_EQ(loadSessionFile(held.c_str()), 0);
    EXPECT_EQ(writeSessionFile(held.c_str()), 0);
}

TEST_F(SessionFileTest, LoadedSessionIsTitledAndSavedSilentlyAtClose) {
    std::string path = file("lab.test.sip");
    ASSERT_TRUE(writeWholeFile(path, RECORD_24 + std::string(10, 'T')));
    std::string quoted = "\"" + path + "\"";
    ASSERT_TRUE(createMainWindow(quoted.c_str()));
    EXPECT_TRUE(dialogsSeen.empty());
    EXPECT_EQ(windowText(mainWindow), "Dazirar OrU :  oru-" +
                                          std::to_string(GetCurrentProcessId()) + "-lab");
    expectSettings("10.0.0.2", 8080, "C:\\cap.txt", true);
    serverPort = 9000;
    copyTextField(serverAddress, sizeof serverAddress, "0.0.0.0");
    copyTextField(capturePath, sizeof capturePath, "C:\\capture.txt");
    autoWrap = false;
    closeMainWindow();
    EXPECT_FALSE(IsWindow(mainWindow));
    EXPECT_TRUE(quitSeen);
    EXPECT_EQ(quitCode, 0u);
    EXPECT_TRUE(dialogsSeen.empty()) << "a loaded session is saved without a question";
    // 34 bytes before: the 27-byte record, then the old file's last 7 bytes.
    EXPECT_EQ(readWholeFile(path), RECORD_27 + std::string(7, 'T'));
}

namespace {
// Starts with the session file, lets `block` make it unwritable, closes the window
// and checks that the failure was told and the window went anyway.
void expectSaveFailureTold(const std::string& path, const std::function<void()>& block,
                           const std::function<void()>& unblock) {
    ASSERT_TRUE(writeWholeFile(path, RECORD_24));
    ASSERT_TRUE(createMainWindow(path.c_str()));
    ASSERT_TRUE(dialogsSeen.empty());
    block();
    serverPort = 4321;
    closeMainWindow();
    unblock();
    EXPECT_FALSE(IsWindow(mainWindow)) << "the window must close anyway";
    EXPECT_TRUE(quitSeen);
    ASSERT_EQ(dialogsSeen.size(), 1u);
    EXPECT_EQ(dialogsSeen[0].caption, "erreur");
    ASSERT_EQ(dialogsSeen[0].texts.size(), 1u);
    EXPECT_EQ(dialogsSeen[0].texts[0], "Probleme avec le fichier !! ");
    EXPECT_EQ(dialogsSeen[0].buttons, std::vector<int>{IDOK});
    EXPECT_EQ(readWholeFile(path), RECORD_24) << "the file was written";
}
}  // namespace

TEST_F(SessionFileTest, SaveToAHeldSessionFileIsToldAndTheWindowCloses) {
    std::string path = file("heldclose.sip");
    HANDLE other = INVALID_HANDLE_VALUE;
    expectSaveFailureTold(path, [&] {
        other = holdFile(path, 0);
        ASSERT_NE(other, INVALID_HANDLE_VALUE);
    }, [&] { CloseHandle(other); });
}

TEST_F(SessionFileTest, SaveToAReadOnlySessionFileIsToldAndTheWindowCloses) {
    std::string probe = file("readonly-probe.sip");
    ASSERT_TRUE(writeWholeFile(probe, "x"));
    ASSERT_TRUE(SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE writer = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (writer != INVALID_HANDLE_VALUE) {
        CloseHandle(writer);
        GTEST_SKIP() << "this platform lets a writer open a read-only file "
                        "(Wine running as root does)";
    }
    std::string path = file("readonly.sip");
    expectSaveFailureTold(path, [&] { SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY); },
                          [&] { SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL); });
}

TEST_F(SessionFileTest, MissingSessionFallsBackToDefaultsAndAsksAtClose) {
    std::string missing = file("absent.sip");
    ASSERT_TRUE(createMainWindow(missing.c_str()));
    ASSERT_EQ(dialogsSeen.size(), 1u);
    EXPECT_EQ(dialogsSeen[0].caption, "erreur");
    ASSERT_EQ(dialogsSeen[0].texts.size(), 1u);
    EXPECT_EQ(dialogsSeen[0].texts[0], "Probleme avec le fichier d'initialisation!! ");
    EXPECT_EQ(windowText(mainWindow), "Dazirar OrU");
    char executable[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, executable, sizeof executable);
    std::strcpy(std::strrchr(executable, '\\') + 1, "capture.txt");
    expectSettings("0.0.0.0", 9000, executable, false);

    // At close: the question, then Save As with a blank name, not the missing path.
    clearDialogsSeen();
    std::string chosen = file("chosen.sip");
    std::string proposed = "<none>";
    defaultYesNoAnswer = IDYES;
    queueDialogScript([](HWND box) { pressButton(box, IDYES); });
    queueDialogScript([&](HWND chooser) {
        HWND name = fileNameBox(chooser);
        if (name == nullptr) {
            pressButton(chooser, IDCANCEL);
            return;
        }
        proposed = windowText(name);
        SetWindowTextA(name, chosen.c_str());
        pressButton(chooser, IDOK);
    });
    serverPort = 8080;
    closeMainWindow();
    EXPECT_FALSE(IsWindow(mainWindow));
    ASSERT_GE(dialogsSeen.size(), 2u);
    EXPECT_EQ(dialogsSeen[0].caption, "Fin de session");
    EXPECT_EQ(dialogsSeen[1].caption, "Enregistrement de la session");
    EXPECT_EQ(proposed.find("absent"), std::string::npos) << proposed;
    std::string written = readWholeFile(chosen);
    ASSERT_GE(written.size(), 12u) << "nothing saved to the chosen file";
    EXPECT_EQ(written.substr(0, 11), std::string("0.0.0.0\0\x90\x1F\0", 11));
}

// At close, a name chosen with a character that the session's ANSI path cannot hold
// is refused, saying so, and the chooser asks again.
TEST_F(SessionFileTest, ASessionNameTheCodePageCannotHoldIsRefusedAndAskedAgain) {
    if (GetACP() != 1252) GTEST_SKIP() << "the test's name needs a code page without Omega";
    ASSERT_TRUE(createMainWindow(""));
    wchar_t folder[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, folder);
    const std::wstring refused = std::wstring(folder) + L"\u03a9-session.sip";
    const std::string chosen = file("after-omega.sip");
    queueDialogScript([](HWND box) { pressButton(box, IDYES); });
    queueDialogScript([&](HWND chooser) {
        SetWindowTextW(fileNameBox(chooser), refused.c_str());
        pressButton(chooser, IDOK);
    });
    queueDialogScript([](HWND box) { pressButton(box, IDOK); });
    queueDialogScript([&](HWND chooser) {
        SetWindowTextA(fileNameBox(chooser), chosen.c_str());
        pressButton(chooser, IDOK);
    });
    closeMainWindow();
    ASSERT_EQ(dialogsSeen.size(), 4u);
    EXPECT_EQ(dialogsSeen[1].caption, "Enregistrement de la session");
    ASSERT_EQ(dialogsSeen[2].texts.size(), 1u);
    EXPECT_EQ(dialogsSeen[2].texts[0], PATH_OUTSIDE_CODE_PAGE_TEXT);
    EXPECT_EQ(dialogsSeen[3].caption, "Enregistrement de la session");
    EXPECT_EQ(GetFileAttributesW(refused.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_GE(readWholeFile(chosen).size(), 12u) << "the second name chosen was not written";
}

TEST_F(SessionFileTest, AnsweringNoSavesNothing) {
    ASSERT_TRUE(createMainWindow("\"ab\""));  // two characters: like no argument
    EXPECT_TRUE(dialogsSeen.empty());
    defaultYesNoAnswer = IDNO;
    closeMainWindow();
    EXPECT_FALSE(IsWindow(mainWindow));
    ASSERT_EQ(dialogsSeen.size(), 1u);
    EXPECT_EQ(dialogsSeen[0].caption, "Fin de session");
    EXPECT_EQ(GetFileAttributesA("ab"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(" "), INVALID_FILE_ATTRIBUTES);
}

TEST_F(SessionFileTest, ADeviceIsNoSessionFileAndStartUpGoesOn) {
    for (const char* device : {"COM1", "AUX", "NUL", "CON"}) {
        SCOPED_TRACE(device);
        clearDialogsSeen();
        ASSERT_TRUE(createMainWindow(device));
        ASSERT_EQ(dialogsSeen.size(), 1u);
        ASSERT_EQ(dialogsSeen[0].texts.size(), 1u);
        EXPECT_EQ(dialogsSeen[0].texts[0], "Probleme avec le fichier d'initialisation!! ");
        EXPECT_EQ(windowText(mainWindow), "Dazirar OrU");
        EXPECT_TRUE(sessionUnnamed);
        destroyMainWindow();
    }
}

TEST_F(SessionFileTest, ARelativeSessionIsWrittenWhereItWasReadWhateverTheCurrentFolder) {
    std::string path = file("relative.sip");
    ASSERT_TRUE(writeWholeFile(path, RECORD_24));
    char before[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof before, before);
    std::string folder = path.substr(0, path.rfind('\\'));
    std::string name = path.substr(path.rfind('\\') + 1);
    ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
    bool started = createMainWindow(name.c_str());
    // As a chooser without OFN_NOCHANGEDIR leaves it after a file is chosen elsewhere.
    SetCurrentDirectoryA(before);
    ASSERT_TRUE(started);
    EXPECT_EQ(windowText(mainWindow), "Dazirar OrU :  " + name.substr(0, name.find('.')));
    EXPECT_STREQ(sessionPath, path.c_str());
    serverPort = 9000;
    copyTextField(serverAddress, sizeof serverAddress, "0.0.0.0");
    copyTextField(capturePath, sizeof capturePath, "C:\\capture.txt");
    autoWrap = false;
    closeMainWindow();
    EXPECT_TRUE(dialogsSeen.empty());
    EXPECT_EQ(readWholeFile(path), RECORD_27);
    EXPECT_EQ(GetFileAttributesA(name.c_str()), INVALID_FILE_ATTRIBUTES) << "written elsewhere";
}

TEST_F(SessionFileTest, TheEndOfTheWindowsSessionSavesALoadedSessionAndClosesTheCapture) {
    std::string path = file("ending.sip");
    std::string capture = file("ending-capture.txt");
    ASSERT_TRUE(writeWholeFile(path, RECORD_24));
    ASSERT_TRUE(createMainWindow(path.c_str()));
    ASSERT_TRUE(startCaptureOn(capture));
    serverPort = 9000;
    copyTextField(serverAddress, sizeof serverAddress, "0.0.0.0");
    copyTextField(capturePath, sizeof capturePath, "C:\\capture.txt");
    autoWrap = false;
    // A session that goes on after all changes nothing.
    EXPECT_EQ(SendMessageA(mainWindow, WM_QUERYENDSESSION, 0, 0), TRUE);
    SendMessageA(mainWindow, WM_ENDSESSION, FALSE, 0);
    EXPECT_EQ(readWholeFile(path), RECORD_24);
    EXPECT_EQ(captureMode, CAPTURE_RECORDING);
    SendMessageA(mainWindow, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    EXPECT_EQ(readWholeFile(path), RECORD_27);
    EXPECT_EQ(captureMode, CAPTURE_OFF);
    HANDLE other = CreateFileA(capture.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(other, INVALID_HANDLE_VALUE) << "the capture file is still held";
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    EXPECT_EQ(dialogsSeen.size(), 1u) << "only the capture dialog was expected";
    destroyMainWindow();

    // An unnamed session is not saved, and nothing is asked.
    clearDialogsSeen();
    ASSERT_TRUE(createMainWindow(""));
    EXPECT_EQ(SendMessageA(mainWindow, WM_QUERYENDSESSION, 0, 0), TRUE);
    SendMessageA(mainWindow, WM_ENDSESSION, TRUE, 0);
    EXPECT_TRUE(dialogsSeen.empty());
}
