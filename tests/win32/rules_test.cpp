// The reply rules dialog in the real window: F5 opens it, its line reads the text as
// it is typed, Appliquer and Actives put the rules to work on a real peer, its list
// counts what each rule sent, its files are opened and saved through the system's
// dialogs; and a peer that floods without reading while a rule answers each line
// leaves the window answering, the replies without room counted and memory flat.
#include "harness.h"

#include <psapi.h>

#include <atomic>
#include <thread>

#include "app/app_win32.h"
#include "net/outgoing.h"
#include "net/rules.h"
#include "ui/resource.h"

namespace {

// The text box's whole text replaced as typing would, with its change told.
void typeRules(HWND dialog, const std::wstring& text) {
    HWND box = GetDlgItem(dialog, IDC_RULES_TEXT);
    SendMessageW(box, EM_SETSEL, 0, -1);
    SendMessageW(box, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
}

std::wstring wideText(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, &text[0], static_cast<int>(text.size()))));
    return text;
}

std::string listLine(HWND dialog, int index) {
    char line[256] = "";
    SendDlgItemMessageA(dialog, IDC_RULES_COUNTS, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(line));
    return line;
}

void choose(HWND chooser, const std::string& path) {
    SetWindowTextA(fileNameBox(chooser), path.c_str());
    pressButton(chooser, IDOK);
}

SIZE_T privateBytes() {
    PROCESS_MEMORY_COUNTERS counters;
    ZeroMemory(&counters, sizeof counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PagefileUsage;
}

}  // namespace

TEST_F(MainWindowTest, TheRulesDialogReadsAppliesOpensSavesAndCountsWhatItsRulesSend) {
    char label[64] = "";
    GetMenuStringA(GetSystemMenu(mainWindow, FALSE), IDM_RULES, label, sizeof label, MF_BYCOMMAND);
    EXPECT_EQ(std::string(label), "Reponses automatiques...\tF5");
    ASSERT_TRUE(takeFocus());
    HWND dialog = nullptr;
    queueDialogScript([&](HWND shown) { dialog = shown; });
    const WORD f5 = VK_F5;
    pressKeys(&f5, 1);
    ASSERT_TRUE(pumpUntil([&] { return dialog != nullptr; }));
    EXPECT_EQ(windowText(dialog), "Reponses automatiques");
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_RULES_ACTIVE), BST_UNCHECKED) << "Actives is off at start";

    // A wrong text: its line and column, Appliquer grayed.
    typeRules(dialog, L"connexion -> texte \"hi\"\r\nrecu texte \"\\n\" -> texte \"ack\\r\\n\"\r\nrecu hex \"C0 0\" -> hex \"D0\"");
    EXPECT_EQ(controlText(dialog, IDC_RULES_LINE), "ligne 3, colonne 14 : chiffre hexadecimal seul");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDOK)));
    const std::wstring rules = L"connexion -> texte \"hi\"\r\nrecu texte \"\\n\" -> texte \"ack\\r\\n\"";
    typeRules(dialog, rules);
    EXPECT_EQ(controlText(dialog, IDC_RULES_LINE), "2 regles");
    ASSERT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDOK)));
    pressButton(dialog, IDOK);
    ASSERT_TRUE(pumpUntil([] { return rulesInForce().size() == 2; }));
    EXPECT_EQ(listLine(dialog, 0), "regle 1 : 0 envoyee");

    // Saved, then another text opened from a file with LF line ends, then the first
    // again: the box shows each whole.
    const std::string saved = scratchPath("rules-saved.txt");
    queueDialogScript([&](HWND chooser) { choose(chooser, saved); });
    pressButton(dialog, IDC_RULES_SAVE);
    ASSERT_TRUE(pumpUntil([&] { return fileSize(saved) > 0; }));
    EXPECT_EQ(readWholeFile(saved), "connexion -> texte \"hi\"\r\nrecu texte \"\\n\" -> texte \"ack\\r\\n\"");
    const std::string other = scratchPath("rules-other.txt");
    ASSERT_TRUE(writeWholeFile(other, "# three\ntoutes 1000 ms -> hex \"00\"\nconnexion -> hex \"01\"\nrecu hex \"02\" -> hex \"03\"\n"));
    queueDialogScript([&](HWND chooser) { choose(chooser, other); });
    pressButton(dialog, IDC_RULES_OPEN);
    ASSERT_TRUE(pumpUntil([&] { return controlText(dialog, IDC_RULES_LINE) == "3 regles"; }));
    EXPECT_TRUE(wideText(GetDlgItem(dialog, IDC_RULES_TEXT)).find(L"# three\r\ntoutes") == 0);
    // A file too large for rules: told, and the text stays.
    const std::string large = scratchPath("rules-large.txt");
    ASSERT_TRUE(writeWholeFile(large, std::string(RULES_FILE_MAX + 1, '#')));
    const size_t boxes = dialogsSeen.size();
    queueDialogScript([&](HWND chooser) { choose(chooser, large); });
    pressButton(dialog, IDC_RULES_OPEN);
    ASSERT_TRUE(pumpUntil([&] { return dialogsSeen.size() >= boxes + 2; }));
    pumpPending();
    ASSERT_EQ(dialogsSeen.back().texts.size(), 1u);
    EXPECT_EQ(dialogsSeen.back().texts[0], "Impossible de lire le fichier " + large);
    EXPECT_EQ(controlText(dialog, IDC_RULES_LINE), "3 regles");
    queueDialogScript([&](HWND chooser) { choose(chooser, saved); });
    pressButton(dialog, IDC_RULES_OPEN);
    ASSERT_TRUE(pumpUntil([&] { return controlText(dialog, IDC_RULES_LINE) == "2 regles"; }));
    EXPECT_TRUE(wideText(GetDlgItem(dialog, IDC_RULES_TEXT)) == rules);

    // Actives: the applied rules greet the peer and answer each line; the list
    // follows.
    SendDlgItemMessageW(dialog, IDC_RULES_ACTIVE, BM_CLICK, 0, 0);
    ASSERT_TRUE(pumpUntil([] { return rulesActive(); }));
    SOCKET peer = connectedPeer();
    ASSERT_NE(peer, INVALID_SOCKET);
    EXPECT_EQ(receiveBytes(peer, 2, 5000), "hi");
    ASSERT_TRUE(sendAll(peer, "one\ntw"));
    EXPECT_EQ(receiveBytes(peer, 5, 5000), "ack\r\n");
    ASSERT_TRUE(sendAll(peer, "o\n"));
    EXPECT_EQ(receiveBytes(peer, 5, 5000), "ack\r\n");
    EXPECT_TRUE(pumpUntil([&] { return listLine(dialog, 1) == "regle 2 : 2 envoyees"; })) << listLine(dialog, 1);
    SendDlgItemMessageW(dialog, IDC_RULES_ACTIVE, BM_CLICK, 0, 0);
    ASSERT_TRUE(pumpUntil([] { return !rulesActive(); }));
    ASSERT_TRUE(sendAll(peer, "three\n"));
    EXPECT_EQ(receiveBytes(peer, 1, 500), "") << "a rule answered while Actives was off";
    closesocket(peer);
    pressButton(dialog, IDCANCEL);
    ASSERT_TRUE(pumpUntil([&] { return !IsWindow(dialog); }));
    DeleteFileA(saved.c_str());
    DeleteFileA(other.c_str());
    DeleteFileA(large.c_str());
}

// A peer floods lines and never reads, and a rule answers each of them: the queue
// fills, the replies without room are counted, memory stays where it was, and the
// window answers throughout.
TEST_F(MainWindowTest, AFloodThatNeverReadsWhileARuleAnswersEachLineLeavesTheWindowAnswering) {
    const RulesRead read = readRules("recu texte \"\\n\" -> texte \"ack\\r\\n\"");
    ASSERT_TRUE(read.ok);
    applyRules(read.rules);
    setRulesActive(true);
    SOCKET peer = connectedPeer();
    ASSERT_NE(peer, INVALID_SOCKET);
    int small = 16384;
    setsockopt(peer, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&small), sizeof small);
    std::string lines;
    for (int i = 0; i < 100000; ++i) lines += "line " + std::to_string(i) + "\n";
    std::atomic<bool> flooding(true);
    std::atomic<int> rounds(0);
    std::atomic<DWORD> slowest(0);
    HWND window = mainWindow;
    std::thread flood([&] {
        for (; rounds < 8 && sendAll(peer, lines); ++rounds) {
        }
        flooding = false;
    });
    // Another thread asks the window for an answer every 50 ms while the flood goes.
    std::thread asking([&] {
        while (flooding) {
            const DWORD start = GetTickCount();
            DWORD_PTR result = 0;
            SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_BLOCK, 20000, &result);
            const DWORD took = GetTickCount() - start;
            if (took > slowest) slowest = took;
            Sleep(50);
        }
    });
    // Memory is measured once the stores of the octet view are full and wrap (4 MiB
    // of bytes, and many more records than they keep).
    pumpUntil([&] { return rounds >= 4 || !flooding; }, 120000);
    const SIZE_T before = privateBytes();
    pumpUntil([&] { return !flooding; }, 120000);
    flood.join();
    pumpUntil([] { return false; }, 300);
    asking.join();
    const std::uint64_t noRoom = ruleCounts(0).noRoom;
    EXPECT_GT(noRoom, 0u) << "the peer read nothing: replies must have found no room";
    EXPECT_LE(bytesWaitingToSend(), SEND_QUEUE_SIZE);
    EXPECT_LT(slowest.load(), 2000u) << "the window did not answer for " << slowest.load() << " ms";
    const SIZE_T after = privateBytes();
    std::printf("[ measured ] %llu replies without room; slowest answer %lu ms; memory %+lld KiB\n",
                static_cast<unsigned long long>(noRoom), static_cast<unsigned long>(slowest.load()),
                (static_cast<long long>(after) - static_cast<long long>(before)) / 1024);
    EXPECT_LT(after, before + 32 * 1024 * 1024) << "memory grew with the replies";
    closesocket(peer);
}
