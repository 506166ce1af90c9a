#include "main/dispatch.h"

#include <windows.h>

// A GUI-subsystem entry point, so that Windows never gives the watchdog a console.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return watchdog::run_command_line();
}
