// Protect the desktop, change it, and put it back: the client library in a main application.
#include <system_state_watchdog/client.hpp>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace ssw = watchdog::client;

int main() {
    SetConsoleOutputCP(CP_UTF8); // the library's messages are UTF-8 (and Chinese)
    // For the log: the client library this program runs with.
    std::fprintf(stderr, "system state watchdog client %s\n",
                 std::string(ssw::library_version()).c_str());
    const std::wstring marker =
        std::wstring(_wgetenv(L"LOCALAPPDATA")) + L"\\ExampleApp\\desktop-recovery.json";
    // Settles what a crashed earlier run left, records, writes the marker, starts the watchdog.
    auto protection = ssw::protect_desktop(marker, ssw::Items::both);
    if (!protection) {
        std::fprintf(stderr, "not protected: %s\n", protection.error().message.c_str());
        return 1; // nothing was left behind: leave the desktop as it is
    }
    ShowWindow(FindWindowW(L"Shell_TrayWnd", nullptr), SW_HIDE); // the application's change
    std::getchar();                                              // ... the application runs ...
    // A clean exit puts the desktop back itself, and the marker goes.
    const auto ended = ssw::end_protection(std::move(*protection));
    return ended ? 0 : 1;
}
