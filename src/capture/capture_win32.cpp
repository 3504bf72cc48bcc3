// The capture drop-down hung under the "C&apture" item while a capture runs.
#include <windows.h>

#include "app/app_win32.h"
#include "platform.h"
#include "ui/resource.h"

namespace {

HMENU captureMenu = nullptr;
char captureItemText[] = "C&apture";

void setCaptureItem(UINT mask, HMENU subMenu) {
    MENUITEMINFOA item;
    ZeroMemory(&item, sizeof item);
    item.cbSize = sizeof item;
    item.fMask = mask;
    item.wID = IDM_CAPTURE;
    item.hSubMenu = subMenu;
    item.dwItemData = 0;
    item.dwTypeData = captureItemText;
    item.cch = sizeof captureItemText - 1;
    SetMenuItemInfoA(mainMenu, IDM_CAPTURE, FALSE, &item);
}

}  // namespace

void attachCaptureMenu() {
    captureMenu = CreateMenu();
    AppendMenuA(captureMenu, MF_STRING, IDM_CAPTURE_STOP, "&Stop");
    AppendMenuA(captureMenu, MF_STRING, IDM_CAPTURE_PAUSE, "pa&use");
    AppendMenuA(captureMenu, MF_STRING | MF_GRAYED, IDM_CAPTURE_RESUME, "&Reprendre");
    setCaptureItem(MIIM_ID | MIIM_SUBMENU | MIIM_STRING, captureMenu);
    UpdateWindow(mainWindow);
}

void detachCaptureMenu() {
    setCaptureItem(MIIM_ID | MIIM_SUBMENU | MIIM_DATA | MIIM_STRING, nullptr);
    // The menu no longer refers to the drop-down; release it so that repeated
    // captures leak nothing.
    if (captureMenu != nullptr && IsMenu(captureMenu)) DestroyMenu(captureMenu);
    captureMenu = nullptr;
    UpdateWindow(mainWindow);
}
