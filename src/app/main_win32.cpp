#include "app/app_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
    if (!startApplication(instance, commandLine, showCommand)) return 0;
    return runMessageLoop();
}
