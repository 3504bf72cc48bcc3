// The reply rules dialog: the rules' text, what it gives as it is typed, Actives, the
// counts of each rule in force, and the rules files. Modeless and owned by the main
// window, a Unicode window like the send dialog; its messages pass through
// IsDialogMessage in the message loop, and the program's keys act from it.
#include <windows.h>
#include <commdlg.h>

#include <string>

#include "app/app_win32.h"
#include "net/rules.h"
#include "ui/resource.h"

namespace {

HWND rulesDialog = nullptr;
// The text shown, kept from one opening of the dialog to the next (UTF-8, with the
// edit box's CR LF line ends).
std::string textShown;
// The counts version the list shows.
std::uint64_t countsShown = 0;
const UINT_PTR COUNTS_TIMER = 1;
const UINT COUNTS_PERIOD_MS = 250;
const wchar_t RULES_FILTER[] = L"Regles (*.txt)\0*.txt\0Tous les fichiers\0*.*\0";

std::string rulesText(HWND dialog) {
    return controlTextUtf8(dialog, IDC_RULES_TEXT);
}

// A text from a file, its line ends as the edit box shows them (CR LF).
std::string withBoxLineEnds(const std::string& text) {
    std::string shown;
    shown.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) shown += '\r';
        shown += text[i];
    }
    return shown;
}

void setLine(HWND dialog, const std::string& line) {
    SetDlgItemTextW(dialog, IDC_RULES_LINE, wideFromUtf8(line).c_str());
}

// The list: a line a rule in force, with its counts.
void showCounts(HWND dialog) {
    countsShown = rulesCountsVersion();
    HWND list = GetDlgItem(dialog, IDC_RULES_COUNTS);
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    const LRESULT top = SendMessageW(list, LB_GETTOPINDEX, 0, 0);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    for (std::size_t i = 0; i < rulesInForce().size(); ++i) {
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wideFromUtf8(ruleCountsText(i)).c_str()));
    }
    SendMessageW(list, LB_SETTOPINDEX, static_cast<WPARAM>(top), 0);
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

// The text changed: the line says what it gives, and Appliquer follows.
void textChanged(HWND dialog) {
    textShown = rulesText(dialog);
    const RulesRead read = readRules(textShown);
    setLine(dialog, rulesSummary(read));
    EnableWindow(GetDlgItem(dialog, IDOK), read.ok);
}

void applyText(HWND dialog) {
    const RulesRead read = readRules(rulesText(dialog));
    if (!read.ok) return;
    const std::size_t dropped = applyRules(read.rules);
    setLine(dialog, appliedRulesSummary(read, dropped));
    showCounts(dialog);
}

// The system's Open or Save dialog for a rules file; its UTF-8 path, or empty.
std::string chooseRulesFile(HWND dialog, bool toSave) {
    const wchar_t* caption = toSave ? L"Enregistrer les regles" : L"Ouvrir des regles";
    return chooseFileByName(FileChoice{dialog, caption, RULES_FILTER, L"txt", nullptr}, toSave);
}

void openFile(HWND dialog) {
    const std::string path = chooseRulesFile(dialog, false);
    std::string text;
    if (path.empty() || !loadRulesFile(path, &text)) return;
    SetDlgItemTextW(dialog, IDC_RULES_TEXT, wideFromUtf8(withBoxLineEnds(text)).c_str());
    textChanged(dialog);
}

void saveFile(HWND dialog) {
    const std::string path = chooseRulesFile(dialog, true);
    if (!path.empty()) saveRulesFile(path, rulesText(dialog));
}

void onRulesCommand(HWND dialog, int control, int notification) {
    switch (control) {
    case IDOK: applyText(dialog); break;
    case IDCANCEL: DestroyWindow(dialog); break;
    case IDC_RULES_OPEN: openFile(dialog); break;
    case IDC_RULES_SAVE: saveFile(dialog); break;
    case IDC_RULES_ACTIVE:
        if (notification == BN_CLICKED) {
            setRulesActive(IsDlgButtonChecked(dialog, IDC_RULES_ACTIVE) == BST_CHECKED);
            showCounts(dialog);
        }
        break;
    case IDC_RULES_TEXT:
        if (notification == EN_CHANGE) textChanged(dialog);
        break;
    default:
        break;
    }
}

INT_PTR CALLBACK rulesDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        placeAtClientCorner(dialog, true);  // at the bottom right, below the send dialog
        SendDlgItemMessageW(dialog, IDC_RULES_TEXT, EM_SETLIMITTEXT, RULES_FILE_MAX, 0);
        SetDlgItemTextW(dialog, IDC_RULES_TEXT, wideFromUtf8(textShown).c_str());
        CheckDlgButton(dialog, IDC_RULES_ACTIVE, rulesActive() ? BST_CHECKED : BST_UNCHECKED);
        textChanged(dialog);
        showCounts(dialog);
        SetTimer(dialog, COUNTS_TIMER, COUNTS_PERIOD_MS, nullptr);
        return TRUE;
    case WM_COMMAND:
        onRulesCommand(dialog, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_TIMER:
        // The counts change with every reply: the list follows a few times a second.
        if (wParam == COUNTS_TIMER && rulesCountsVersion() != countsShown) showCounts(dialog);
        return TRUE;
    case WM_DESTROY:
        KillTimer(dialog, COUNTS_TIMER);
        rulesDialog = nullptr;
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

void openRulesDialog() {
    openModelessDialog(&rulesDialog, IDD_RULES, rulesDialogProc);
}

bool takeRulesDialogMessage(MSG* message) {
    return rulesDialog != nullptr && IsDialogMessageW(rulesDialog, message);
}
