// The baseline for the launcher's start-up time: a statically linked GUI program that does
// nothing.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return 0;
}
