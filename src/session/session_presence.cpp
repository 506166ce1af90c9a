#include "session/session_presence.h"

#include "session/session_lock.h"

#include <windows.h>

namespace watchdog {

std::wstring session_presence_name(std::string_view session_id) {
    return session_object_name(L"run", session_id);
}

std::expected<UniqueHandle, std::uint32_t> hold_session_presence(std::string_view session_id) {
    UniqueHandle presence(
        CreateEventW(nullptr, TRUE, FALSE, session_presence_name(session_id).c_str()));
    if (!presence) {
        return std::unexpected(static_cast<std::uint32_t>(GetLastError()));
    }
    return presence;
}

bool presence_held_after_open_failure(std::uint32_t last_error) {
    return last_error != ERROR_FILE_NOT_FOUND;
}

bool session_presence_held(std::string_view session_id) {
    const UniqueHandle presence(
        OpenEventW(SYNCHRONIZE, FALSE, session_presence_name(session_id).c_str()));
    return presence || presence_held_after_open_failure(GetLastError());
}

} // namespace watchdog
