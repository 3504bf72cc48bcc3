// The program itself, started as its own process in the same Wine session: it
// must end once its window is closed, and it refuses a session file that another
// process holds open.
#include "harness.h"

#include "app/app_win32.h"
#include "session/settings.h"

namespace {

struct WindowSearch {
    DWORD process;
    const char* className;
    HWND found;
};

BOOL CALLBACK matchProcessWindow(HWND window, LPARAM data) {
    WindowSearch* s = reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    if (owner == s->process && lstrcmpA(name, s->className) == 0 && IsWindowVisible(window)) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

// The first top-level window of `process` with the class `className`.
HWND windowOfProcess(DWORD process, const char* className) {
    WindowSearch search = {process, className, nullptr};
    EnumWindows(matchProcessWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A window's text read through the window itself (it may belong to another process).
std::string textOf(HWND window) {
    char text[512] = "";
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 5000, nullptr);
    return text;
}

// The texts of a box's static controls.
std::vector<std::string> staticTexts(HWND box) {
    std::vector<std::string> texts;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        char name[64] = "";
        GetClassNameA(child, name, sizeof name);
        std::string text = textOf(child);
        if (lstrcmpiA(name, "Static") == 0 && !text.empty()) texts.push_back(text);
    }
    return texts;
}

const std::string RECORD("0.0.0.0\0" "\x28\x23\0" "C:\\capture.txt\0\xFF", 27);

// The program started with one argument; ended (by its handle) at the end of the
// test if it is still running.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ZeroMemory(&program, sizeof program);
        session = scratchPath("program.sip");
        ASSERT_TRUE(writeWholeFile(session, RECORD));
    }
    void TearDown() override {
        if (program.hProcess != nullptr) {
            if (WaitForSingleObject(program.hProcess, 0) != WAIT_OBJECT_0) {
                TerminateProcess(program.hProcess, 1);
                WaitForSingleObject(program.hProcess, 5000);
            }
            CloseHandle(program.hThread);
            CloseHandle(program.hProcess);
        }
        DeleteFileA(session.c_str());
    }
    bool start(const std::string& argument) {
        std::string command = "\"" + programPath() + "\" " + argument;
        STARTUPINFOA startup;
        ZeroMemory(&startup, sizeof startup);
        startup.cb = sizeof startup;
        return CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &program) != FALSE;
    }
    // Waits for a visible window of the program with the class given.
    HWND waitForWindow(const char* className) {
        HWND window = nullptr;
        pumpUntil([&] {
            window = windowOfProcess(program.dwProcessId, className);
            return window != nullptr;
        }, 20000);
        return window;
    }
    bool ended(DWORD timeoutMs) {
        return pumpUntil([&] { return WaitForSingleObject(program.hProcess, 0) == WAIT_OBJECT_0; },
                         timeoutMs);
    }
    PROCESS_INFORMATION program;
    std::string session;
};

}  // namespace

TEST_F(ProgramTest, EndsWithZeroOnceItsWindowIsClosed) {
    // A loaded session is saved without a question, so nothing waits for an answer.
    ASSERT_TRUE(start(session)) << GetLastError();
    HWND window = waitForWindow(MAIN_WINDOW_CLASS);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(textOf(window), "Dazirar OrU :  oru-" + std::to_string(GetCurrentProcessId()) + "-program");
    PostMessageA(window, WM_CLOSE, 0, 0);
    bool gone = ended(15000);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(gone) << "the program kept running after its window was closed";
    if (gone) {
        DWORD code = 1;
        GetExitCodeProcess(program.hProcess, &code);
        EXPECT_EQ(code, 0u);
    }
    EXPECT_EQ(readWholeFile(session), RECORD);
}

TEST_F(ProgramTest, RefusesASessionFileThatAnotherProcessHolds) {
    HANDLE held = CreateFileA(session.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(start(session)) << GetLastError();
    HWND box = waitForWindow("#32770");
    CloseHandle(held);
    ASSERT_NE(box, nullptr) << "no box: the held file was read";
    EXPECT_EQ(textOf(box), "erreur");
    EXPECT_EQ(staticTexts(box), std::vector<std::string>{"Probleme avec le fichier d'initialisation!! "});
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    // The defaults apply and the window keeps its own title.
    HWND window = waitForWindow(MAIN_WINDOW_CLASS);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(textOf(window), "Dazirar OrU");
}

// A session named on the command line with a character that the ANSI code page
// lacks reaches the program as question marks: it is refused, saying so, and the
// program starts as without a session instead of reading or writing another file.
TEST_F(ProgramTest, RefusesASessionPathTheCodePageCannotHold) {
    if (GetACP() != 1252) GTEST_SKIP() << "the test's name needs a code page without Omega";
    const std::string exe = programPath();
    std::wstring command = L"\"" + std::wstring(exe.begin(), exe.end()) + L"\" \u03a9.sip";
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &program))
        << GetLastError();
    HWND box = waitForWindow("#32770");
    ASSERT_NE(box, nullptr) << "no box: the path was taken as it came";
    EXPECT_EQ(textOf(box), "erreur");
    EXPECT_EQ(staticTexts(box), std::vector<std::string>{PATH_OUTSIDE_CODE_PAGE_TEXT});
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    HWND window = waitForWindow(MAIN_WINDOW_CLASS);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(textOf(window), "Dazirar OrU") << "the session was taken for another";
}
