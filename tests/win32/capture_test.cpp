// Capture commands driven in-process: the capture dialog, the drop-down attached
// and detached on the "C&apture" item, appending to the file, sharing refused while
// capturing, and the file chooser behind "...".
#include "harness.h"

#include <winioctl.h>

#include "app/app_win32.h"
#include "capture/recorder.h"
#include "net/link.h"
#include "session/settings.h"
#include "terminal/screen.h"
#include "ui/resource.h"

namespace {

struct CaptureItem {
    bool found;
    HMENU subMenu;
    UINT id;
    std::string text;
    UINT position;  // place on the menu bar
};

CaptureItem captureItem() {
    CaptureItem result = {false, nullptr, 0, "", 0};
    for (int i = 0; i < GetMenuItemCount(mainMenu); ++i) {
        char text[64] = "";
        MENUITEMINFOA item;
        ZeroMemory(&item, sizeof item);
        item.cbSize = sizeof item;
        item.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
        item.dwTypeData = text;
        item.cch = sizeof text;
        GetMenuItemInfoA(mainMenu, static_cast<UINT>(i), TRUE, &item);
        if (item.wID == IDM_CAPTURE) {
            result = {true, item.hSubMenu, item.wID, text, static_cast<UINT>(i)};
        }
    }
    return result;
}

void expectPlainCaptureItem() {
    CaptureItem item = captureItem();
    ASSERT_TRUE(item.found);
    EXPECT_EQ(item.position, 2u);
    EXPECT_EQ(item.text, "C&apture");
    EXPECT_EQ(item.subMenu, nullptr);
    EXPECT_EQ(menuState(IDM_CAPTURE) & MF_POPUP, 0);
    EXPECT_EQ(menuState(IDM_CAPTURE_STOP), -1);
    EXPECT_EQ(menuState(IDM_CAPTURE_PAUSE), -1);
    EXPECT_EQ(menuState(IDM_CAPTURE_RESUME), -1);
    EXPECT_EQ(GetMenuItemCount(mainMenu), 5);
}

// The drop-down: "&Stop", "pa&use", "&Reprendre", with pause/resume as given.
void expectCaptureDropDown(bool paused) {
    CaptureItem item = captureItem();
    ASSERT_TRUE(item.found);
    EXPECT_EQ(item.position, 2u);
    EXPECT_EQ(item.text, "C&apture");
    ASSERT_NE(item.subMenu, nullptr);
    ASSERT_EQ(GetMenuItemCount(item.subMenu), 3);
    const char* texts[] = {"&Stop", "pa&use", "&Reprendre"};
    const UINT ids[] = {IDM_CAPTURE_STOP, IDM_CAPTURE_PAUSE, IDM_CAPTURE_RESUME};
    const bool grayed[] = {false, paused, !paused};
    for (int i = 0; i < 3; ++i) {
        char text[64] = "";
        GetMenuStringA(item.subMenu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(text, texts[i]);
        EXPECT_EQ(GetMenuItemID(item.subMenu, i), ids[i]);
        UINT state = GetMenuState(item.subMenu, static_cast<UINT>(i), MF_BYPOSITION);
        EXPECT_EQ((state & MF_GRAYED) != 0, grayed[i]) << texts[i];
    }
}

// Whether another opener, of any kind, is refused the file.
bool otherOpenerRefused(const std::string& path, DWORD* error) {
    HANDLE other = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    *error = GetLastError();
    if (other == INVALID_HANDLE_VALUE) return true;
    CloseHandle(other);
    return false;
}

// Waits inside the capture dialog (on a timer) until its path box shows `expected`
// or a deadline passes, records what it shows, then ends the dialog with `button`.
struct BoxWait {
    std::string expected;
    std::string seen;
    int button;
    DWORD start;
};
BoxWait boxWait;

void CALLBACK waitForPathBox(HWND dialog, UINT, UINT_PTR id, DWORD) {
    boxWait.seen = controlText(dialog, IDC_CAPTURE_PATH);
    if (boxWait.seen != boxWait.expected && GetTickCount() - boxWait.start < 5000) return;
    KillTimer(dialog, id);
    pressButton(dialog, boxWait.button);
}

class CaptureTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        path = scratchPath("capture.txt");
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        DeleteFileA(path.c_str());
    }
    std::string path;
};

}  // namespace

TEST_F(CaptureTest, DialogShowsThePathAndDemarrerStartsRecording) {
    std::string typed = scratchPath("typed-instead.txt");
    copyTextField(capturePath, sizeof capturePath, path.c_str());
    std::string shown;
    RECT where = {0, 0, 0, 0};
    queueDialogScript([&](HWND dialog) {
        shown = controlText(dialog, IDC_CAPTURE_PATH);
        POINT corner = {0, 0};
        ClientToScreen(dialog, &corner);
        where = {corner.x, corner.y, 0, 0};
        // Text typed into the box is never taken.
        SetDlgItemTextA(dialog, IDC_CAPTURE_PATH, typed.c_str());
        pressButton(dialog, IDOK);
    });
    sendCommand(IDM_CAPTURE);
    ASSERT_EQ(dialogsSeen.size(), 1u);
    EXPECT_EQ(dialogsSeen[0].caption, "parametres du fichier de capture");
    EXPECT_EQ(dialogsSeen[0].owner, mainWindow);
    EXPECT_EQ(dialogsSeen[0].focusId, IDC_CAPTURE_PATH);
    EXPECT_EQ(shown, path);
    POINT origin = {0, 0};
    ClientToScreen(mainWindow, &origin);
    EXPECT_EQ(where.left, origin.x) << "its client area opens at the main client area's corner";
    EXPECT_EQ(where.top, origin.y);

    EXPECT_EQ(captureMode, CAPTURE_RECORDING);
    EXPECT_NE(captureFile, NO_FILE);
    EXPECT_STREQ(capturePath, path.c_str());
    EXPECT_EQ(fileSize(path), 0) << "the capture file is created empty";
    EXPECT_EQ(GetFileAttributesA(typed.c_str()), INVALID_FILE_ATTRIBUTES);
    expectCaptureDropDown(false);

    sendCommand(IDM_CAPTURE_PAUSE);
    EXPECT_EQ(captureMode, CAPTURE_PAUSED);
    expectCaptureDropDown(true);
    sendCommand(IDM_CAPTURE_RESUME);
    EXPECT_EQ(captureMode, CAPTURE_RECORDING);
    expectCaptureDropDown(false);
    sendCommand(IDM_CAPTURE_PAUSE);
    sendCommand(IDM_CAPTURE_STOP);  // a stop while paused ends it the same way
    EXPECT_EQ(captureMode, CAPTURE_OFF);
    EXPECT_EQ(captureFile, NO_FILE);
    expectPlainCaptureItem();
}

TEST_F(CaptureTest, TwentyCyclesAppendOnlyWhatArrivesWhileRecording) {
    ASSERT_TRUE(writeWholeFile(path, "HEAD"));
    unsigned short port = freeLoopbackPort();
    ASSERT_TRUE(listenOn(port));
    SOCKET peer = connectPeer(port);
    ASSERT_NE(peer, INVALID_SOCKET);
    ASSERT_TRUE(pumpUntil([] { return serverState == SERVER_CONNECTED; }));
    // Each byte lands one cell further along the first row once it has been handled.
    auto receive = [&](char byte) {
        int before = cursorCol;
        sendAll(peer, std::string(1, byte));
        return pumpUntil([&] { return cursorCol > before; });
    };

    std::string expected = "HEAD";
    for (int cycle = 0; cycle < 20; ++cycle) {
        SCOPED_TRACE(cycle);
        ASSERT_TRUE(startCaptureOn(path));
        expectCaptureDropDown(false);  // a fresh drop-down, "&Reprendre" grayed again
        DWORD error = 0;
        EXPECT_TRUE(otherOpenerRefused(path, &error)) << "a second opener was let in";
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        char letter = static_cast<char>('a' + cycle);
        ASSERT_TRUE(receive(letter));
        expected += letter;
        if (cycle % 3 == 0) {
            sendCommand(IDM_CAPTURE_PAUSE);
            ASSERT_TRUE(receive('#'));  // shown, never recorded
            sendCommand(IDM_CAPTURE_RESUME);
        }
        sendCommand(IDM_CAPTURE_STOP);
        expectPlainCaptureItem();
        EXPECT_FALSE(otherOpenerRefused(path, &error)) << "the file stayed open after the stop";
        ASSERT_TRUE(receive('-'));  // not capturing
    }
    EXPECT_EQ(readWholeFile(path), expected);
    closesocket(peer);
}

TEST_F(CaptureTest, AnnulerStartsNothing) {
    copyTextField(capturePath, sizeof capturePath, path.c_str());
    queueDialogScript([](HWND dialog) { pressButton(dialog, IDCANCEL); });
    sendCommand(IDM_CAPTURE);
    EXPECT_EQ(dialogsSeen.size(), 1u);
    EXPECT_EQ(captureMode, CAPTURE_OFF);
    EXPECT_EQ(captureFile, NO_FILE);
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    expectPlainCaptureItem();
}

TEST_F(CaptureTest, AFileThatCannotBeOpenedIsTold) {
    std::string noFolder = scratchPath("no-such-folder") + "\\capture.txt";
    ASSERT_TRUE(writeWholeFile(path, "kept"));
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    // A device is no capture file, whatever it would take.
    for (const std::string& target : {noFolder, path, std::string("COM1"), std::string("AUX"),
                                       std::string("NUL"), std::string("CON")}) {
        SCOPED_TRACE(target);
        clearDialogsSeen();
        EXPECT_FALSE(startCaptureOn(target));
        ASSERT_EQ(dialogsSeen.size(), 2u);
        EXPECT_EQ(dialogsSeen[1].caption, "erreur");
        ASSERT_EQ(dialogsSeen[1].texts.size(), 1u);
        EXPECT_EQ(dialogsSeen[1].texts[0], "Probleme avec le fichier !! ");
        EXPECT_EQ(dialogsSeen[1].owner, mainWindow);
        EXPECT_EQ(dialogsSeen[1].buttons, std::vector<int>{IDOK});
        EXPECT_EQ(captureMode, CAPTURE_OFF);
        EXPECT_EQ(captureFile, NO_FILE);
        expectPlainCaptureItem();
    }
    CloseHandle(held);
    EXPECT_EQ(readWholeFile(path), "kept");
}

TEST_F(CaptureTest, CancelledChooserPutsThePathBackInTheBox) {
    copyTextField(capturePath, sizeof capturePath, path.c_str());
    std::string chooserCaption;
    queueDialogScript([](HWND dialog) {
        SetDlgItemTextA(dialog, IDC_CAPTURE_PATH, "typed over");
        boxWait = {capturePath, "", IDCANCEL, GetTickCount()};
        SetTimer(dialog, 0x4F10, 50, waitForPathBox);
        pressButton(dialog, IDC_BROWSE);
    });
    queueDialogScript([&](HWND chooser) {
        chooserCaption = windowText(chooser);
        pressButton(chooser, IDCANCEL);
    });
    sendCommand(IDM_CAPTURE);
    EXPECT_EQ(chooserCaption, "Selection du fichier de capture");
    EXPECT_EQ(boxWait.seen, path) << "the box does not show capturePath again";
    EXPECT_STREQ(capturePath, path.c_str());
    EXPECT_EQ(captureMode, CAPTURE_OFF);
}

TEST_F(CaptureTest, AChosenFileIsKeptEvenWhenTheDialogIsCancelled) {
    copyTextField(capturePath, sizeof capturePath, path.c_str());
    std::string chosen = scratchPath("chosen-capture.txt");
    std::string proposed = "<no name box>";
    queueDialogScript([&](HWND dialog) {
        boxWait = {chosen, "", IDCANCEL, GetTickCount()};
        SetTimer(dialog, 0x4F10, 50, waitForPathBox);
        pressButton(dialog, IDC_BROWSE);
    });
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
    sendCommand(IDM_CAPTURE);
    EXPECT_NE(proposed.find("capture.txt"), std::string::npos)
        << "the chooser did not propose capturePath: " << proposed;
    EXPECT_STREQ(capturePath, chosen.c_str());
    EXPECT_EQ(boxWait.seen, chosen);
    EXPECT_EQ(captureMode, CAPTURE_OFF) << "\"Annuler\" must start nothing";
    EXPECT_EQ(GetFileAttributesA(chosen.c_str()), INVALID_FILE_ATTRIBUTES);
}

namespace {
// Reads `count` bytes at `offset` of a file, through a handle that shares everything.
std::string readAt(const std::string& path, LONGLONG offset, DWORD count) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<cannot open>";
    LARGE_INTEGER at;
    at.QuadPart = offset;
    std::string bytes(count, '\0');
    DWORD read = 0;
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN) ||
        !ReadFile(file, &bytes[0], count, &read, nullptr)) {
        read = 0;
    }
    CloseHandle(file);
    bytes.resize(read);
    return bytes;
}
}  // namespace

TEST_F(CaptureTest, ACaptureAppendsPastFourGibibytes) {
    const LONGLONG fourGiB = 4LL << 30;
    std::string head = randomBytes(65536, 41);
    ASSERT_TRUE(writeWholeFile(path, head));
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD ignored = 0;
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = fourGiB;
    DWORD written = 0;
    bool grown = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) &&
                 WriteFile(file, "tail!", 5, &written, nullptr) && written == 5;
    CloseHandle(file);
    DWORD high = 0;
    DWORD low = GetCompressedFileSizeA(path.c_str(), &high);
    ULONGLONG stored = (static_cast<ULONGLONG>(high) << 32) | low;
    if (!grown || low == INVALID_FILE_SIZE || stored >= static_cast<ULONGLONG>(fourGiB)) {
        GTEST_SKIP() << "the temporary folder's file system stores no sparse file of 4 GiB";
    }

    ASSERT_TRUE(startCaptureOn(path));
    unsigned char received[] = {'n', 'e', 'w'};
    EXPECT_TRUE(captureWriteBytes(received, sizeof received));
    sendCommand(IDM_CAPTURE_STOP);
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ((static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow, fourGiB + 8);
    EXPECT_EQ(readAt(path, fourGiB, 8), "tail!new");
    EXPECT_TRUE(readAt(path, 0, 65536) == head) << "the start of the file was overwritten";
}

// The session file keeps the capture path in the ANSI code page: a name chosen with a
// character it lacks is refused, saying so, the chooser asks again, and cancelled,
// the path stays as it was.
TEST_F(CaptureTest, AChosenNameTheCodePageCannotHoldIsRefusedSayingSo) {
    if (GetACP() != 1252) GTEST_SKIP() << "the test's name needs a code page without Omega";
    copyTextField(capturePath, sizeof capturePath, path.c_str());
    wchar_t folder[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, folder);
    const std::wstring chosen = std::wstring(folder) + L"\u03a9-capture.txt";
    HWND captureDialog = nullptr;
    queueDialogScript([&](HWND dialog) {
        captureDialog = dialog;
        pressButton(dialog, IDC_BROWSE);
    });
    queueDialogScript([&](HWND chooser) {
        SetWindowTextW(fileNameBox(chooser), chosen.c_str());
        pressButton(chooser, IDOK);
    });
    queueDialogScript([](HWND box) { pressButton(box, IDOK); });
    queueDialogScript([&](HWND chooser) {
        pressButton(chooser, IDCANCEL);
        pressButton(captureDialog, IDCANCEL);
    });
    sendCommand(IDM_CAPTURE);
    ASSERT_EQ(dialogsSeen.size(), 4u);
    EXPECT_EQ(dialogsSeen[3].caption, "Selection du fichier de capture");
    ASSERT_EQ(dialogsSeen[2].texts.size(), 1u);
    EXPECT_EQ(dialogsSeen[2].texts[0], PATH_OUTSIDE_CODE_PAGE_TEXT);
    EXPECT_STREQ(capturePath, path.c_str()) << "a mangled name took the path's place";
    EXPECT_EQ(captureMode, CAPTURE_OFF);
}
