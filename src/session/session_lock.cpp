#include "session/session_lock.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace watchdog {

SessionLock::~SessionLock() {
    if (owned && mutex) {
        ReleaseMutex(mutex.get());
    }
}

std::uint32_t bounded_wait_ms(std::chrono::milliseconds wait) {
    return static_cast<std::uint32_t>(
        std::clamp(wait, std::chrono::milliseconds(0), longest_session_wait).count());
}

std::wstring session_object_name(std::wstring_view kind, std::string_view session_id) {
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    for (const char c : session_id) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ULL;
    }
    wchar_t hex[17] = {};
    std::swprintf(hex, 17, L"%016llX", static_cast<unsigned long long>(hash));
    return std::wstring(L"Local\\SystemStateWatchdog-") + std::wstring(kind) + L"-" + hex;
}

std::wstring session_lock_name(std::string_view session_id) {
    return session_object_name(L"session", session_id);
}

std::expected<SessionLock, Win32Failure> lock_session(std::string_view session_id,
                                                      std::chrono::milliseconds wait) {
    auto mutex =
        handle_or_failure(CreateMutexW(nullptr, FALSE, session_lock_name(session_id).c_str()));
    if (!mutex) {
        return std::unexpected(mutex.error());
    }
    SessionLock lock;
    lock.mutex = std::move(*mutex);
    const DWORD waited = WaitForSingleObject(lock.mutex.get(), bounded_wait_ms(wait));
    lock.owned = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    return lock;
}

} // namespace watchdog
