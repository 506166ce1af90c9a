#include "session/session_presence.h"

#include "session/session_lock.h"

#include <windows.h>

namespace watchdog {

std::wstring session_presence_name(std::string_view session_id) {
    return session_object_name(L"run", session_id);
}

std::expected<UniqueHandle, Win32Failure> hold_session_presence(std::string_view session_id) {
    return handle_or_failure(
        CreateEventW(nullptr, TRUE, FALSE, session_presence_name(session_id).c_str()));
}

bool presence_held_after_open_failure(Win32Failure failure) {
    return failure.code != ERROR_FILE_NOT_FOUND;
}

bool session_presence_held(std::string_view session_id) {
    const auto presence = handle_or_failure(
        OpenEventW(SYNCHRONIZE, FALSE, session_presence_name(session_id).c_str()));
    return presence || presence_held_after_open_failure(presence.error());
}

} // namespace watchdog
