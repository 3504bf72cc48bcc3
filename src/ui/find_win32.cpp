// Finding in what was received: the system's own Find dialog (FindText), modeless,
// over the rows of the view shown. Its messages pass through IsDialogMessage in the
// message loop, so that Tab, Enter and Escape work in it; what is typed there never
// reaches the peer.
#include <windows.h>
#include <commdlg.h>


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

// Nothing more that way: a box owned by the dialog, or by the window once it is gone.
void showNotFound() {
    MessageBoxA(findDialog != nullptr ? findDialog : mainWindow, notFoundText().c_str(),
                NOT_FOUND_CAPTION, MB_OK);
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
    if (!textSearched()) {
        openFindDialog();
        return;
    }
    if (!findAgainInShownRows(otherWay)) showNotFound();
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
        if (!findAskedFor(findWhat, (request->Flags & FR_MATCHCASE) != 0, (request->Flags & FR_DOWN) != 0)) {
            showNotFound();
        }
    }
    return true;
}
