// A stand-in for the main application that the watchdog watches. For now it only lives for a
// while: `stand-in-main sleep <milliseconds>`.

#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wcscmp(argv[1], L"sleep") == 0) {
        Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
        return 0;
    }
    return 64;
}
