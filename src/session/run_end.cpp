#include "session/run_end.h"

#include "session/session_lock.h"

#include <windows.h>

namespace watchdog {

std::wstring run_end_name(const SessionKey& key) {
    return session_object_name(L"end", key);
}

std::expected<UniqueHandle, std::uint32_t> open_run_end(const SessionKey& key) {
    UniqueHandle request(CreateEventW(nullptr, TRUE, FALSE, run_end_name(key).c_str()));
    if (!request) {
        return std::unexpected(static_cast<std::uint32_t>(GetLastError()));
    }
    return request;
}

std::expected<UniqueHandle, std::uint32_t> request_run_end(const SessionKey& key) {
    auto request = open_run_end(key);
    if (request && !SetEvent(request->get())) {
        return std::unexpected(static_cast<std::uint32_t>(GetLastError()));
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
