#include "session/session_lock.h"

#include <windows.h>

#include <algorithm>

namespace watchdog {

SessionLock::~SessionLock() {
    if (mutex) {
        ReleaseMutex(mutex.get());
    }
}

std::uint32_t bounded_wait_ms(std::chrono::milliseconds wait) {
    return static_cast<std::uint32_t>(
        std::clamp(wait, std::chrono::milliseconds(0), longest_session_wait).count());
}

std::expected<SessionLock, NameState> lock_session(const SessionKey& key,
                                                   std::chrono::milliseconds wait) {
    const auto name = session_object_name(L"session", key);
    if (!name) {
        return std::unexpected(NameState{NameHolder::unknown, name.error()});
    }
    auto mutex = handle_or_failure(CreateMutexW(nullptr, FALSE, name->c_str()));
    if (!mutex) {
        return std::unexpected(name_state_after(mutex.error()));
    }
    const DWORD waited = WaitForSingleObject(mutex->get(), bounded_wait_ms(wait));
    if (waited == WAIT_TIMEOUT) {
        return std::unexpected(NameState{NameHolder::a_run});
    }
    if (waited == WAIT_FAILED) {
        return std::unexpected(NameState{NameHolder::unknown, last_win32_failure()});
    }
    SessionLock lock;
    lock.mutex = std::move(*mutex);
    return lock;
}

} // namespace watchdog
