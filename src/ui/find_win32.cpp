// Finding in what was received: the system's own Find dialog (FindText), modeless,
// over the rows of the view shown. Its messages pass through IsDialogMessage in the
// message loop, so that Tab, Enter and Escape work in it; what is typed there never
// reaches the peer.
#include <windows.h>
#include <commdlg.h>

#include <cstring>
#include <string>

#include "app/app_win32.h"
#include "terminal/row_search.h"

namespace {

const char NOT_FOUND_CAPTION[] = "Rechercher";

char findWhat[256] = "";
// Lives as long as the dialog; its flags and text are those of the last search.
FINDREPLACEA findRequest;
HWND findDialog = nullptr;
UINT findMessage = 0;
std::string searched;  // the text last searched: F3 finds it again

UINT registeredFindMessage() {
    if (findMessage == 0) findMessage = RegisterWindowMessageA(FINDMSGSTRINGA);
    return findMessage;
}

// Searches `searched` in the dialog's direction, or the other one; a box says so
// when there is nothing more that way.
void findNext(bool otherWay) {
    const bool down = ((findRequest.Flags & FR_DOWN) != 0) != otherWay;
    if (findInShownRows(searched, (findRequest.Flags & FR_MATCHCASE) != 0, down)) return;
    const std::string text = "Impossible de trouver \"" + searched + "\"";
    MessageBoxA(findDialog != nullptr ? findDialog : mainWindow, text.c_str(), NOT_FOUND_CAPTION, MB_OK);
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

void findAgain(bool otherWay) {
    if (searched.empty()) {
        openFindDialog();
        return;
    }
    findNext(otherWay);
}

bool takeFindDialogMessage(MSG* message) {
    return findDialog != nullptr && IsDialogMessageA(findDialog, message);
}

bool onFindMessage(UINT message, LPARAM lParam) {
    if (message != registeredFindMessage() || message == 0) return false;
    const FINDREPLACEA* request = reinterpret_cast<const FINDREPLACEA*>(lParam);
    if (request->Flags & FR_DIALOGTERM) {
        findDialog = nullptr;
    } else if (request->Flags & FR_FINDNEXT) {
        searched = findWhat;
        findNext(false);
    }
    return true;
}
