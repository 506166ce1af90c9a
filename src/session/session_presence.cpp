#include "session/session_presence.h"

#include <windows.h>

namespace watchdog {

std::wstring session_presence_name(const SessionKey& key) {
    return session_object_name(L"run", key);
}

std::expected<UniqueHandle, std::uint32_t> hold_session_presence(const SessionKey& key) {
    UniqueHandle presence(CreateEventW(nullptr, TRUE, FALSE, session_presence_name(key).c_str()));
    if (!presence) {
        return std::unexpected(static_cast<std::uint32_t>(GetLastError()));
    }
    return presence;
}

Presence presence_after_open_failure(std::uint32_t last_error) {
    switch (last_error) {
    case ERROR_FILE_NOT_FOUND:
        return {PresenceSeen::absent};
    case ERROR_ACCESS_DENIED:
        return {PresenceSeen::held_with_rights};
    case ERROR_INVALID_HANDLE:
        return {PresenceSeen::other_object};
    default:
        return {PresenceSeen::unknown, last_error};
    }
}

Presence look_for_presence(const SessionKey& key) {
    const UniqueHandle presence(OpenEventW(SYNCHRONIZE, FALSE, session_presence_name(key).c_str()));
    if (presence) {
        return {PresenceSeen::held};
    }
    return presence_after_open_failure(GetLastError());
}

} // namespace watchdog
