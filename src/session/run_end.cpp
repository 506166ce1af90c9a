#include "session/run_end.h"

#include "session/session_lock.h"

#include <windows.h>

namespace watchdog {

std::wstring run_end_name(const SessionKey& key) {
    return session_object_name(L"end", key);
}

std::expected<UniqueHandle, Win32Failure> open_run_end(const SessionKey& key) {
    return handle_or_failure(CreateEventW(nullptr, TRUE, FALSE, run_end_name(key).c_str()));
}

std::expected<UniqueHandle, Win32Failure> request_run_end(const SessionKey& key) {
    auto request = open_run_end(key);
    if (request && !SetEvent(request->get())) {
        return std::unexpected(last_win32_failure());
    }
    return request;
}

void announce_stood_down(HANDLE presence) {
    SetEvent(presence);
}

bool stood_down_within(HANDLE presence, std::chrono::milliseconds wait) {
    return WaitForSingleObject(presence, bounded_wait_ms(wait)) == WAIT_OBJECT_0;
}

} // namespace watchdog
