#include "win/desktop_identity.h"

#include <windows.h>

#include <vector>

namespace watchdog {
namespace {

std::expected<std::wstring, Win32Failure> object_name(HANDLE object) {
    DWORD needed = 0;
    // Asked with no buffer, the call fails and says how many bytes the name needs.
    if (!GetUserObjectInformationW(object, UOI_NAME, nullptr, 0, &needed) && needed == 0) {
        return std::unexpected(last_win32_failure());
    }
    std::vector<wchar_t> name(needed / sizeof(wchar_t) + 1);
    if (!GetUserObjectInformationW(object, UOI_NAME, name.data(),
                                   static_cast<DWORD>(name.size() * sizeof(wchar_t)), &needed)) {
        return std::unexpected(last_win32_failure());
    }
    return std::wstring(name.data());
}

} // namespace

std::expected<std::wstring, Win32Failure> current_desktop_identity() {
    // Neither handle is to be closed: both belong to the process or the thread.
    const HWINSTA station = GetProcessWindowStation();
    if (station == nullptr) {
        return std::unexpected(last_win32_failure());
    }
    const HDESK desktop = GetThreadDesktop(GetCurrentThreadId());
    if (desktop == nullptr) {
        return std::unexpected(last_win32_failure());
    }
    const auto station_name = object_name(station);
    if (!station_name) {
        return std::unexpected(station_name.error());
    }
    const auto desktop_name = object_name(desktop);
    if (!desktop_name) {
        return std::unexpected(desktop_name.error());
    }
    return *station_name + L"\\" + *desktop_name;
}

} // namespace watchdog
