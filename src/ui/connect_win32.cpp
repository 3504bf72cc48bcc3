// "Se connecter a": the host and port of a device that listens, and whether to try
// again by itself. Glue only: the reading of the host and port and the connecting
// are the link's.
#include <windows.h>

#include <string>

#include "app/app_win32.h"
#include "net/connect.h"
#include "net/link.h"
#include "ui/resource.h"

namespace {

// Posted to the dialog: the combo box has put the picked item's text in its edit
// part, which the host alone now replaces.
const UINT WM_SHOW_PICKED_HOST = WM_APP + 1;

// What Connecter accepted; reached once the dialog is gone.
ConnectTarget chosen = {};

void fillRememberedTargets(HWND dialog) {
    const std::vector<ConnectTarget>& targets = rememberedTargets();
    for (const ConnectTarget& t : targets) {
        SendDlgItemMessageW(dialog, IDC_CONNECT_HOST, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(wideFromUtf8(targetText(t)).c_str()));
    }
    if (targets.empty()) return;
    SetDlgItemTextW(dialog, IDC_CONNECT_HOST, wideFromUtf8(targets[0].host).c_str());
    SetDlgItemInt(dialog, IDC_CONNECT_PORT, targets[0].port, FALSE);
    CheckDlgButton(dialog, IDC_CONNECT_RECONNECT, targets[0].reconnect ? BST_CHECKED : BST_UNCHECKED);
}

// A target picked from the list fills the host and the port.
void onTargetPicked(HWND dialog) {
    const LRESULT picked = SendDlgItemMessageW(dialog, IDC_CONNECT_HOST, CB_GETCURSEL, 0, 0);
    const std::vector<ConnectTarget>& targets = rememberedTargets();
    if (picked < 0 || static_cast<std::size_t>(picked) >= targets.size()) return;
    const ConnectTarget& t = targets[static_cast<std::size_t>(picked)];
    // The edit part takes the list's text after this notification: the host is put
    // there once the combo box is done.
    PostMessageW(dialog, WM_SHOW_PICKED_HOST, static_cast<WPARAM>(picked), 0);
    SetDlgItemInt(dialog, IDC_CONNECT_PORT, t.port, FALSE);
}

// The combo box's list text replaced by the picked target's host alone.
void showPickedHost(HWND dialog, WPARAM picked) {
    const std::vector<ConnectTarget>& targets = rememberedTargets();
    if (picked >= targets.size()) return;
    SetDlgItemTextW(dialog, IDC_CONNECT_HOST, wideFromUtf8(targets[picked].host).c_str());
}

// Connecter: a wrong host or port is said, and the dialog stays.
void onConnectChosen(HWND dialog) {
    ConnectTarget target = {};
    const TargetFault fault = readConnectTarget(controlTextUtf8(dialog, IDC_CONNECT_HOST),
                                                controlTextUtf8(dialog, IDC_CONNECT_PORT), &target);
    if (fault != TARGET_GOOD) {
        const bool host = fault == TARGET_HOST_WRONG;
        MessageBoxW(dialog, wideFromUtf8(host ? HOST_WRONG_TEXT : CONNECT_PORT_WRONG_TEXT).c_str(),
                    wideFromUtf8(LINK_ERROR_CAPTION).c_str(), MB_OK | MB_ICONEXCLAMATION);
        SetFocus(GetDlgItem(dialog, host ? IDC_CONNECT_HOST : IDC_CONNECT_PORT));
        return;
    }
    target.reconnect = IsDlgButtonChecked(dialog, IDC_CONNECT_RECONNECT) == BST_CHECKED;
    chosen = target;
    EndDialog(dialog, IDOK);
}

INT_PTR CALLBACK connectDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        fillRememberedTargets(dialog);
        return TRUE;
    case WM_SHOW_PICKED_HOST:
        showPickedHost(dialog, wParam);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: onConnectChosen(dialog); return TRUE;
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
        case IDC_CONNECT_HOST:
            if (HIWORD(wParam) == CBN_SELCHANGE) onTargetPicked(dialog);
            return TRUE;
        default: return FALSE;
        }
    default:
        return FALSE;
    }
}

}  // namespace

void openConnectDialog() {
    if (serverState != SERVER_IDLE || !IsWindow(mainWindow)) return;
    if (DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_CONNECT), mainWindow, connectDialogProc, 0) == IDOK) {
        startConnecting(chosen);
    }
}
