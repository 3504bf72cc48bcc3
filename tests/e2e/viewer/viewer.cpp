// Reads the running terminal's windows from outside, the way the e2e tests need:
//
//   oru-viewer state                  title, status line, window size, menu, dialogs
//   oru-viewer command ID             chooses a menu command
//   oru-viewer press CAPTION ID       presses button ID of the dialog or box CAPTION
//   oru-viewer click CAPTION ID       clicks button ID of the dialog CAPTION (a check box
//                                     changes as a click changes it)
//   oru-viewer settext CAPTION ID T   sets the text of control ID of dialog CAPTION
//   oru-viewer caret                  the window that holds the caret (its control
//                                     identifier and class) and where the caret is
//   oru-viewer repaint                asks the main window to repaint all of itself and
//                                     waits until it has
//   oru-viewer clipboard              the clipboard's text, as it is
//
// Output is one record a line, fields separated by tabs.
#include <windows.h>
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

HWND findMainWindow() {
    return FindWindowA("App", nullptr);
}

// WM_GETTEXT is carried across processes; GetWindowTextA would give only the
// caption stored for another process's control, not an edit box's text, and the
// status bar's own get-text message would hand it a pointer it cannot use.
std::string windowText(HWND window) {
    char text[1024] = "";
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 5000, &copied);
    text[sizeof text - 1] = '\0';
    return text;
}

// Control characters would break the line format; show them escaped.
std::string printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += static_cast<char>(c);
    }
    return out;
}

void printMenu(HMENU menu, int depth) {
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        char text[256] = "";
        MENUITEMINFOA item;
        ZeroMemory(&item, sizeof item);
        item.cbSize = sizeof item;
        item.fMask = MIIM_ID | MIIM_STATE | MIIM_SUBMENU | MIIM_STRING;
        item.dwTypeData = text;
        item.cch = sizeof text;
        if (!GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &item)) continue;
        bool grayed = (item.fState & MFS_GRAYED) != 0;
        std::printf("menu\t%d\t%d\t%s\t%s\t%s\n", depth, item.hSubMenu ? -1 : static_cast<int>(item.wID),
                    grayed ? "grayed" : "enabled", item.hSubMenu ? "popup" : "command", text);
        if (item.hSubMenu) printMenu(item.hSubMenu, depth + 1);
    }
}

BOOL CALLBACK printControl(HWND control, LPARAM) {
    char className[64] = "";
    GetClassNameA(control, className, sizeof className);
    int id = GetDlgCtrlID(control);
    const char* checked = "";
    if (std::strcmp(className, "Button") == 0 &&
        SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED) {
        checked = "checked";
    }
    LONG style = GetWindowLongA(control, GWL_STYLE);
    std::printf("control\t%d\t%s\t%s\t%s\t%s\n", id, className,
                (style & ES_READONLY) && std::strcmp(className, "Edit") == 0 ? "readonly" : "",
                checked, printable(windowText(control)).c_str());
    return TRUE;
}

BOOL CALLBACK printDialog(HWND window, LPARAM) {
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    if (std::strcmp(className, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    std::printf("dialog\t%s\n", printable(windowText(window)).c_str());
    EnumChildWindows(window, printControl, 0);
    return TRUE;
}

int printState() {
    HWND main = findMainWindow();
    if (main == nullptr) {
        std::printf("nowindow\n");
        return 0;
    }
    std::printf("title\t%s\n", printable(windowText(main)).c_str());
    HWND bar = FindWindowExA(main, nullptr, STATUSCLASSNAMEA, nullptr);
    if (bar != nullptr) {
        std::printf("status\t%s\n", printable(windowText(bar)).c_str());
    }
    RECT r;
    GetWindowRect(main, &r);
    std::printf("size\t%ld\t%ld\n", r.right - r.left, r.bottom - r.top);
    std::printf("frame\t%ld\t%ld\t%ld\t%ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    RECT client;
    GetClientRect(main, &client);
    POINT origin = {0, 0};
    ClientToScreen(main, &origin);
    std::printf("client\t%ld\t%ld\t%ld\t%ld\n", origin.x, origin.y, client.right, client.bottom);
    printMenu(GetMenu(main), 0);
    EnumWindows(printDialog, 0);
    return 0;
}

struct DialogSearch {
    const char* caption;
    HWND found;
};

BOOL CALLBACK matchDialog(HWND window, LPARAM data) {
    DialogSearch* search = reinterpret_cast<DialogSearch*>(data);
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    if (std::strcmp(className, "#32770") == 0 && IsWindowVisible(window) &&
        windowText(window) == search->caption) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND findDialog(const char* caption) {
    DialogSearch search = {caption, nullptr};
    EnumWindows(matchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int fail(const char* what) {
    std::printf("error\t%s\n", what);
    return 1;
}

// The caret of the program's thread: "caret ID CLASS X Y" with the position in the
// holder's client area, then "screen LEFT TOP RIGHT BOTTOM"; "caret none" without one.
int printCaret() {
    HWND main = findMainWindow();
    if (main == nullptr) return fail("no main window");
    GUITHREADINFO info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info) ||
        info.hwndCaret == nullptr) {
        std::printf("caret\tnone\n");
        return 0;
    }
    char className[64] = "";
    GetClassNameA(info.hwndCaret, className, sizeof className);
    std::printf("caret\t%d\t%s\t%ld\t%ld\n", GetDlgCtrlID(info.hwndCaret), className,
                info.rcCaret.left, info.rcCaret.top);
    MapWindowPoints(info.hwndCaret, nullptr, reinterpret_cast<POINT*>(&info.rcCaret), 2);
    std::printf("screen\t%ld\t%ld\t%ld\t%ld\n", info.rcCaret.left, info.rcCaret.top,
                info.rcCaret.right, info.rcCaret.bottom);
    return 0;
}

// Invalidates the whole main window, its status bar included, and waits until the
// program has painted it again.
int repaintMainWindow() {
    HWND main = findMainWindow();
    if (main == nullptr) return fail("no main window");
    RedrawWindow(main, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    for (int waited = 0; waited < 1000; ++waited) {
        if (!GetUpdateRect(main, nullptr, FALSE)) {
            std::printf("ok\n");
            return 0;
        }
        Sleep(10);
    }
    return fail("not repainted within 10 s");
}

// Prints the clipboard's text as the system holds it, up to its terminator.
int printClipboard() {
    if (!OpenClipboard(nullptr)) return fail("the clipboard cannot be opened");
    HANDLE block = GetClipboardData(CF_TEXT);
    const char* text = block != nullptr ? static_cast<const char*>(GlobalLock(block)) : nullptr;
    if (text != nullptr) {
        _setmode(_fileno(stdout), _O_BINARY);  // the text's line ends as they are
        const std::size_t size = GlobalSize(block);
        const void* end = std::memchr(text, '\0', size);
        std::fwrite(text, 1, end != nullptr ? static_cast<const char*>(end) - text : size, stdout);
        GlobalUnlock(block);
    }
    CloseClipboard();
    return text != nullptr ? 0 : fail("no text on the clipboard");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "state") == 0) return printState();
    if (argc >= 2 && std::strcmp(argv[1], "caret") == 0) return printCaret();
    if (argc >= 2 && std::strcmp(argv[1], "repaint") == 0) return repaintMainWindow();
    if (argc >= 2 && std::strcmp(argv[1], "clipboard") == 0) return printClipboard();
    if (argc == 3 && (std::strcmp(argv[1], "command") == 0 || std::strcmp(argv[1], "syscommand") == 0)) {
        HWND main = findMainWindow();
        if (main == nullptr) return fail("no main window");
        UINT message = std::strcmp(argv[1], "command") == 0 ? WM_COMMAND : WM_SYSCOMMAND;
        PostMessageA(main, message, static_cast<WPARAM>(std::atoi(argv[2])), 0);
        std::printf("ok\n");
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "press") == 0) {
        HWND dialog = findDialog(argv[2]);
        if (dialog == nullptr) return fail("no such dialog");
        int id = std::atoi(argv[3]);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
        std::printf("ok\n");
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "click") == 0) {
        HWND dialog = findDialog(argv[2]);
        if (dialog == nullptr) return fail("no such dialog");
        HWND button = GetDlgItem(dialog, std::atoi(argv[3]));
        if (button == nullptr) return fail("no such control");
        PostMessageA(button, BM_CLICK, 0, 0);
        std::printf("ok\n");
        return 0;
    }
    if (argc == 5 && std::strcmp(argv[1], "settext") == 0) {
        HWND dialog = findDialog(argv[2]);
        if (dialog == nullptr) return fail("no such dialog");
        HWND control = GetDlgItem(dialog, std::atoi(argv[3]));
        if (control == nullptr) return fail("no such control");
        SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4]));
        std::printf("ok\n");
        return 0;
    }
    return fail("usage: state | caret | repaint | command ID | syscommand ID | press CAPTION ID | "
                "click CAPTION ID | settext CAPTION ID TEXT");
}
