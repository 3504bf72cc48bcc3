// The three dialog procedures and the capture file chooser.
#include <windows.h>
#include <commdlg.h>

#include "app/app_win32.h"
#include "platform.h"
#include "session/settings.h"
#include "ui/properties.h"
#include "ui/resource.h"

namespace {

const wchar_t CAPTURE_FILTER[] = L"Fichier texte\0*.TXT\0";
const std::size_t EXECUTABLE_PATH_SIZE = 260;

INT_PTR CALLBACK propertiesDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM);
INT_PTR CALLBACK captureDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM);
INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM);

void showPropertiesSettings(HWND dialog) {
    fillPropertiesDefaults();
    SetDlgItemTextA(dialog, IDC_ADDRESS, serverAddress);
    SetDlgItemInt(dialog, IDC_PORT, serverPort, FALSE);
    if (!propertiesAddressEditable()) {
        SendDlgItemMessageA(dialog, IDC_ADDRESS, EM_SETREADONLY, TRUE, 0);
        SendDlgItemMessageA(dialog, IDC_PORT, EM_SETREADONLY, TRUE, 0);
    }
    if (autoWrap) CheckDlgButton(dialog, IDC_AUTOWRAP, BST_CHECKED);
}

int readPropertiesSettings(HWND dialog) {
    bool wrap = IsDlgButtonChecked(dialog, IDC_AUTOWRAP) == BST_CHECKED;
    // Away from idle only the check box counts; the other boxes are left unread.
    if (!propertiesAddressEditable()) return acceptPropertiesDialog(wrap, nullptr, 0);
    char address[SERVER_ADDRESS_SIZE] = "";
    bool hasAddress = GetWindowTextLengthA(GetDlgItem(dialog, IDC_ADDRESS)) != 0;
    if (hasAddress) GetDlgItemTextA(dialog, IDC_ADDRESS, address, sizeof address);
    UINT port = GetDlgItemInt(dialog, IDC_PORT, nullptr, FALSE);
    return acceptPropertiesDialog(wrap, hasAddress ? address : nullptr, port);
}

INT_PTR CALLBACK propertiesDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        showPropertiesSettings(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDCANCEL: EndDialog(dialog, -1); return TRUE;
        case IDOK: EndDialog(dialog, readPropertiesSettings(dialog)); return TRUE;
        default: return FALSE;
        }
    default:
        return FALSE;
    }
}

// The "..." button: a Save As chooser proposing the capture path. The chooser
// works in a buffer of its own, so that a cancel or a name too long for the field
// leaves capturePath exactly as it was.
BOOL chooseCaptureFile(HWND dialog) {
    wchar_t executable[EXECUTABLE_PATH_SIZE];
    ZeroMemory(executable, sizeof executable);
    GetModuleFileNameW(nullptr, executable, EXECUTABLE_PATH_SIZE);
    const FileChoice choice = {dialog, L"Selection du fichier de capture", CAPTURE_FILTER, L"txt", executable};
    std::string chosen;
    if (chooseAnsiPathToSave(choice, capturePath, &chosen)) {
        copyTextField(capturePath, sizeof capturePath, chosen.c_str());
    }
    SetDlgItemTextA(dialog, IDC_CAPTURE_PATH, capturePath);
    return TRUE;
}

INT_PTR CALLBACK captureDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(dialog, IDC_CAPTURE_PATH, capturePath);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: EndDialog(dialog, 0); return TRUE;
        case IDCANCEL: EndDialog(dialog, -1); return TRUE;
        case IDC_BROWSE: return chooseCaptureFile(dialog);
        default: return FALSE;
        }
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

DLGPROC dialogProcedure(int dialogId) {
    switch (dialogId) {
    case IDD_PROPERTIES: return propertiesDialogProc;
    case IDD_CAPTURE: return captureDialogProc;
    case IDD_ABOUT: return aboutDialogProc;
    default: return nullptr;
    }
}

}  // namespace

int runDialog(int dialogId) {
    DLGPROC procedure = dialogProcedure(dialogId);
    // DialogBoxParamA answers 0 for a bad owner, which would read as accepted.
    if (procedure == nullptr || !IsWindow(mainWindow)) return -1;
    INT_PTR result = DialogBoxParamA(appInstance, MAKEINTRESOURCEA(dialogId), mainWindow,
                                     procedure, 0);
    return static_cast<int>(result);
}
