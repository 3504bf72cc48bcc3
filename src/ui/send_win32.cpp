// The send dialog: bytes that no key types, written as text with escapes or in
// hexadecimal, and files, to the peer. Modeless and owned by the main window; its
// messages pass through IsDialogMessage in the message loop, and the program's keys
// (F2, F3, Shift+F3, F4) act from it as from the window. A Unicode window: what is
// typed in it is read as Unicode and handed on as UTF-8, so that no character is
// lost to the code page before the reader can say so.
#include <windows.h>
#include <commdlg.h>

#include <string>

#include "app/app_win32.h"
#include "net/outgoing.h"
#include "net/send_text.h"
#include "ui/resource.h"

namespace {

HWND sendDialog = nullptr;
// The dialog's line tells how a file went, until the text or its syntax changes.
bool lineTellsFile = false;
// Posted to the dialog: the combo box has put a chosen text in its edit box.
const UINT SEND_DIALOG_CHOSEN = WM_APP + 1;
const wchar_t FILE_CHOOSER_CAPTION[] = L"Fichier a envoyer";

SendSyntax chosenSyntax(HWND dialog) {
    return IsDlgButtonChecked(dialog, IDC_SEND_AS_HEX) == BST_CHECKED ? SEND_AS_HEX : SEND_AS_TEXT;
}

void chooseSyntax(HWND dialog, SendSyntax syntax) {
    CheckRadioButton(dialog, IDC_SEND_AS_TEXT, IDC_SEND_AS_HEX,
                     syntax == SEND_AS_HEX ? IDC_SEND_AS_HEX : IDC_SEND_AS_TEXT);
}

std::string textToSend(HWND dialog) {
    return controlTextUtf8(dialog, IDC_SEND_TEXT);
}

SentText readDialogText(HWND dialog) {
    return readSendText(textToSend(dialog), chosenSyntax(dialog));
}

void setLine(HWND dialog, const std::string& line) {
    SetDlgItemTextW(dialog, IDC_SEND_LINE, wideFromUtf8(line).c_str());
}

// Enables or grays a control. One that has the keyboard hands it to the text box
// first: a grayed control keeps no focus, and the dialog's keys would go nowhere.
void enableControl(HWND dialog, int id, bool enabled) {
    HWND control = GetDlgItem(dialog, id);
    if (!enabled && GetFocus() == control) {
        SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_SEND_TEXT)), TRUE);
    }
    EnableWindow(control, enabled);
}

// The texts sent in this run, newest first, each keeping its syntax.
void fillSentTexts(HWND dialog) {
    HWND box = GetDlgItem(dialog, IDC_SEND_TEXT);
    SendMessageW(box, CB_RESETCONTENT, 0, 0);
    for (const SentEntry& entry : sentTexts()) {
        const std::wstring text = wideFromUtf8(entry.text);
        const LRESULT at = SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
        if (at >= 0) SendMessageW(box, CB_SETITEMDATA, static_cast<WPARAM>(at), entry.syntax);
    }
}

// What the dialog shows now: its line, Envoyer enabled while a peer is connected and
// the text gives bytes, the file button as the file goes.
void showSendState(HWND dialog) {
    const bool connected = peerConnected();
    const FileSending& file = fileSending();
    const bool fileGoing = file.state == FILE_GOING;
    const SentText read = readDialogText(dialog);
    if (fileGoing || lineTellsFile) setLine(dialog, fileSendingText(file));
    else setLine(dialog, sendTextSummary(read));
    enableControl(dialog, IDOK, connected && textGivesBytes(read));
    SetDlgItemTextW(dialog, IDC_SEND_FILE, fileGoing ? L"Arreter" : L"&Fichier...");
    enableControl(dialog, IDC_SEND_FILE, connected || fileGoing);
}

void textChanged(HWND dialog) {
    lineTellsFile = false;
    showSendState(dialog);
}

// Envoyer: the bytes go after what waits, whole or not at all; the dialog stays,
// with the text selected, so that Enter sends it again.
void sendDialogText(HWND dialog) {
    const std::string text = textToSend(dialog);
    const SendSyntax syntax = chosenSyntax(dialog);
    const SentText read = readSendText(text, syntax);
    if (!textGivesBytes(read)) return;
    switch (sendBytes(read.bytes)) {
    case SEND_WITHOUT_ROOM:
        setLine(dialog, noRoomSummary(read.bytes.size(), queueRoom()));
        return;
    case SEND_WITHOUT_PEER:
        showSendState(dialog);
        return;
    case SEND_QUEUED:
        break;
    }
    rememberSentText(text, syntax);
    fillSentTexts(dialog);
    SetDlgItemTextW(dialog, IDC_SEND_TEXT, wideFromUtf8(text).c_str());
    HWND box = GetDlgItem(dialog, IDC_SEND_TEXT);
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(box), TRUE);
    SendMessageW(box, CB_SETEDITSEL, 0, MAKELPARAM(0, -1));
    showSendState(dialog);
}

// Fichier...: the system's Open dialog chooses the file, for the connection now;
// while one goes, the button stops it.
void onFileButton(HWND dialog) {
    if (fileSending().state == FILE_GOING) {
        stopSendingFile();
        return;
    }
    const std::uint64_t connection = outgoingConnection();
    const FileChoice choice = {dialog, FILE_CHOOSER_CAPTION, L"Tous les fichiers\0*.*\0", nullptr, nullptr};
    const std::string path = chooseFileByName(choice, false);
    if (!path.empty()) startSendingFile(path, connection);
    showSendState(dialog);
}

void onSendCommand(HWND dialog, int control, int notification) {
    switch (control) {
    case IDOK: sendDialogText(dialog); break;
    case IDCANCEL: DestroyWindow(dialog); break;
    case IDC_SEND_FILE: onFileButton(dialog); break;
    case IDC_SEND_AS_TEXT:
    case IDC_SEND_AS_HEX:
        if (notification == BN_CLICKED) textChanged(dialog);
        break;
    case IDC_SEND_TEXT:
        if (notification == CBN_EDITCHANGE) textChanged(dialog);
        if (notification == CBN_SELCHANGE) {
            // The chosen text keeps its syntax; the edit box takes the text after this.
            const LRESULT chosen = SendDlgItemMessageW(dialog, IDC_SEND_TEXT, CB_GETCURSEL, 0, 0);
            if (chosen >= 0) {
                chooseSyntax(dialog, static_cast<SendSyntax>(
                                         SendDlgItemMessageW(dialog, IDC_SEND_TEXT, CB_GETITEMDATA, chosen, 0)));
            }
            PostMessageW(dialog, SEND_DIALOG_CHOSEN, 0, 0);
        }
        break;
    default:
        break;
    }
}

INT_PTR CALLBACK sendDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        // At the top right, where it hides the least of the newest rows and of the
        // octet rows' offsets and bytes.
        placeAtClientCorner(dialog, false);
        chooseSyntax(dialog, SEND_AS_TEXT);
        SendDlgItemMessageW(dialog, IDC_SEND_TEXT, CB_LIMITTEXT, 0, 0);
        fillSentTexts(dialog);
        showSendState(dialog);
        return TRUE;
    case WM_COMMAND:
        onSendCommand(dialog, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case SEND_DIALOG_CHOSEN:
        textChanged(dialog);
        return TRUE;
    case WM_DESTROY:
        sendDialog = nullptr;
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

void openSendDialog() {
    if (sendDialog == nullptr || !IsWindow(sendDialog)) lineTellsFile = fileSending().state != FILE_NOT_SENT;
    openModelessDialog(&sendDialog, IDD_SEND, sendDialogProc);
}

bool takeSendDialogMessage(MSG* message) {
    return sendDialog != nullptr && IsDialogMessageW(sendDialog, message);
}

void showLinkInSendDialog() {
    if (sendDialog != nullptr) showSendState(sendDialog);
}

void fileSendingChanged() {
    lineTellsFile = true;
    if (sendDialog != nullptr) showSendState(sendDialog);
}
