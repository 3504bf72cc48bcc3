// Entry point of the Win32 tests: Windows Sockets for the test peers (kept started
// across the program's own start-ups and clean-ups) and the dialog hook.
#include "harness.h"
#include "run_selected_tests.h"

namespace {
// Under Wine without a window manager, every top-level window that is hidden or
// destroyed waits for a window manager's answer that never comes (about two
// seconds each). Windows that Wine does not hand to a window manager do not wait.
// Read by Wine's display driver when it starts in this process; harmless elsewhere.
void preferUnmanagedWindowsUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr) return;
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
    RegCloseKey(key);
}
}  // namespace

int main(int argc, char** argv) {
    preferUnmanagedWindowsUnderWine();
    testing::InitGoogleTest(&argc, argv);
    WSADATA sockets;
    WSAStartup(MAKEWORD(2, 2), &sockets);
    installDialogHook();
    int result = runSelectedTests();
    removeDialogHook();
    WSACleanup();
    return result;
}
