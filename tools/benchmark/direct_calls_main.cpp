// The watchdog with its calls to the shell made directly on the restoring thread, without the
// worker thread that bounds them: built for the benchmark only, so that the cost of handing the
// calls to the worker can be put beside calls that are not handed over at all.

#include "main/dispatch.h"
#include "win/bounded_call.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    watchdog::make_bounded_calls_direct();
    return watchdog::run_command_line();
}
