#include "session/session_presence.h"

#include <windows.h>

namespace watchdog {

std::wstring session_presence_name(const SessionKey& key) {
    return session_object_name(L"run", key);
}

std::expected<UniqueHandle, Win32Failure> hold_session_presence(const SessionKey& key) {
    return handle_or_failure(
        CreateEventW(nullptr, TRUE, FALSE, session_presence_name(key).c_str()));
}

Presence presence_after_open_failure(Win32Failure failure) {
    switch (failure.code) {
    case ERROR_FILE_NOT_FOUND:
        return {PresenceSeen::absent};
    case ERROR_ACCESS_DENIED:
        return {PresenceSeen::held_with_rights};
    case ERROR_INVALID_HANDLE:
        return {PresenceSeen::other_object};
    default:
        return {PresenceSeen::unknown, failure};
    }
}

Presence look_for_presence(const SessionKey& key) {
    const auto presence =
        handle_or_failure(OpenEventW(SYNCHRONIZE, FALSE, session_presence_name(key).c_str()));
    if (presence) {
        return {PresenceSeen::held};
    }
    return presence_after_open_failure(presence.error());
}

} // namespace watchdog
