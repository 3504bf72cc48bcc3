// Finding in what was received: the system's own Find dialog (FindText), modeless,
// over the rows of the view shown. Its messages pass through IsDialogMessage in the
// message loop, so that Tab, Enter and Escape work in it; what is typed there never
// reaches the peer.
#include <windows.h>
#include <commdlg.h>
#include <dlgs.h>

#include "app/app_win32.h"
#include "terminal/row_search.h"

namespace {

const char NOT_FOUND_CAPTION[] = "Rechercher";

char findWhat[256] = "";
// Lives as long as the dialog; its flags and text are those of the last search.
FINDREPLACEA findRequest;
HWND findDialog = nullptr;
UINT findMessage = 0;

UINT registeredFindMessage() {
    if (findMessage == 0) findMessage = RegisterWindowMessageA(FINDMSGSTRINGA);
    return findMessage;
}

bool notFoundShown = false;  // one box at a time

// Nothing more that way: a box owned by `owner`, after which the keyboard is where it
// was. While one shows, a search that ends again only sounds.
void showNotFound(HWND owner) {
    if (notFoundShown) {
        MessageBeep(MB_OK);
        return;
    }
    notFoundShown = true;
    HWND focus = GetFocus();
    MessageBoxA(owner, notFoundText().c_str(), NOT_FOUND_CAPTION, MB_OK);
    notFoundShown = false;
    if (focus != nullptr && IsWindow(focus)) {
        SetActiveWindow(GetAncestor(focus, GA_ROOT));
        SetFocus(focus);
    }
}

}  // namespace

void openFindDialog() {
    if (findDialog != nullptr && !IsWindow(findDialog)) findDialog = nullptr;  // went with its owner
    if (findDialog != nullptr) {
        SetActiveWindow(findDialog);
        return;
    }
    const DWORD kept = findRequest.Flags & (FR_DOWN | FR_MATCHCASE);
    ZeroMemory(&findRequest, sizeof findRequest);
    findRequest.lStructSize = sizeof findRequest;
    findRequest.hwndOwner = mainWindow;
    findRequest.Flags = kept | FR_HIDEWHOLEWORD;  // a match is any run of cells
    findRequest.lpstrFindWhat = findWhat;
    findRequest.wFindWhatLen = sizeof findWhat;
    registeredFindMessage();
    findDialog = FindTextA(&findRequest);
}

namespace {
// The Find dialog is open: F3 searches for what it shows now, its text, Match case
// and direction, as Find Next would (its controls are those of the system's
// template). An empty text leaves the last search as it was.
void takeWhatTheDialogShows() {
    if (findDialog == nullptr || !IsWindow(findDialog)) return;
    char text[sizeof findWhat] = "";
    GetDlgItemTextA(findDialog, edt1, text, sizeof text);
    if (text[0] == '\0') return;
    rememberSearch(text, IsDlgButtonChecked(findDialog, chx2) == BST_CHECKED,
                   IsDlgButtonChecked(findDialog, rad2) == BST_CHECKED);
}
}  // namespace

void findAgain(bool otherWay) {
    takeWhatTheDialogShows();
    if (!textSearched()) {
        openFindDialog();
        return;
    }
    if (!findAgainInShownRows(otherWay)) showNotFound(mainWindow);
}

void onSearchEnded() {
    if (findDialog != nullptr && !IsWindow(findDialog)) findDialog = nullptr;
    showNotFound(findDialog != nullptr ? findDialog : mainWindow);
}

bool takeFindDialogMessage(MSG* message) {
    return findDialog != nullptr && IsDialogMessageW(findDialog, message);
}

bool onFindMessage(UINT message, LPARAM lParam) {
    if (message != registeredFindMessage() || message == 0) return false;
    const FINDREPLACEA* request = reinterpret_cast<const FINDREPLACEA*>(lParam);
    if (request->Flags & FR_DIALOGTERM) {
        findDialog = nullptr;
    } else if (request->Flags & FR_FINDNEXT) {
        // The dialog sent this from its own handling: the box comes once that is over.
        if (!findAskedFor(findWhat, (request->Flags & FR_MATCHCASE) != 0, (request->Flags & FR_DOWN) != 0)) {
            PostMessageA(mainWindow, WM_SEARCH_ENDED, 0, 0);
        }
    }
    return true;
}
