#include "win/desktop_identity.h"

#include <windows.h>

#include <vector>

namespace watchdog {
namespace {

std::wstring object_name(HANDLE object) {
    DWORD needed = 0;
    // Asked with no buffer, the call fails and says how many bytes the name needs.
    GetUserObjectInformationW(object, UOI_NAME, nullptr, 0, &needed);
    std::vector<wchar_t> name(needed / sizeof(wchar_t) + 1);
    if (needed == 0 ||
        !GetUserObjectInformationW(object, UOI_NAME, name.data(),
                                   static_cast<DWORD>(name.size() * sizeof(wchar_t)), &needed)) {
        return {};
    }
    return name.data();
}

} // namespace

std::wstring current_desktop_identity() {
    // Neither handle is to be closed: both belong to the process or the thread.
    const HWINSTA station = GetProcessWindowStation();
    const HDESK desktop = GetThreadDesktop(GetCurrentThreadId());
    if (station == nullptr || desktop == nullptr) {
        return {};
    }
    return object_name(station) + L"\\" + object_name(desktop);
}

} // namespace watchdog
