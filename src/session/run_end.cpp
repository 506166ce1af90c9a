#include "session/run_end.h"

#include "session/session_lock.h"

#include <windows.h>

namespace watchdog {

std::wstring run_end_name(std::string_view session_id) {
    return session_object_name(L"end", session_id);
}

std::expected<UniqueHandle, Win32Failure> open_run_end(std::string_view session_id) {
    return handle_or_failure(CreateEventW(nullptr, TRUE, FALSE, run_end_name(session_id).c_str()));
}

std::expected<UniqueHandle, Win32Failure> request_run_end(std::string_view session_id) {
    auto request = open_run_end(session_id);
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
