// Protect the desktop, change it, and put it back: the client library in a main application.
#include <system_state_watchdog/client.hpp>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace ssw = watchdog::client;

int main() {
    const std::wstring marker =
        std::wstring(_wgetenv(L"LOCALAPPDATA")) + L"\\ExampleApp\\desktop-recovery.json";
    ssw::settle_leftover_marker(marker); // the previous run's desktop, should it have crashed
    const std::string session = ssw::new_session_id();
    const auto recorded = ssw::record_desktop(marker, ssw::Items::both, session);
    if (!recorded || !ssw::write_marker(marker, *recorded) ||
        !ssw::start_watchdog(ssw::watchdog_beside_this_program(), session, marker)) {
        return 1; // not protected: leave the desktop as it is
    }
    ShowWindow(FindWindowW(L"Shell_TrayWnd", nullptr), SW_HIDE); // the application's change
    std::getchar();                                              // ... the application runs ...
    ssw::restore_desktop(*recorded); // a clean exit puts the desktop back itself
    ssw::finish_cleanly(marker, session);
    return 0;
}
