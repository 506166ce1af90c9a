#include "session/session_lock.h"

#include "win/path.h"
#include "win/utf.h"

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

namespace {

std::wstring fnv1a_hex(std::string_view bytes) {
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    for (const char c : bytes) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ULL;
    }
    wchar_t hex[17] = {};
    std::swprintf(hex, 17, L"%016llX", static_cast<unsigned long long>(hash));
    return hex;
}

} // namespace

SessionKey session_key(std::wstring_view marker_path, std::string_view session_id) {
    return {comparable_path(marker_path), std::string(session_id)};
}

std::wstring named_object_name(std::wstring_view kind, std::string_view text) {
    return std::wstring(L"Local\\SystemStateWatchdog-") + std::wstring(kind) + L"-" +
           fnv1a_hex(text);
}

std::wstring session_object_name(std::wstring_view kind, const SessionKey& key) {
    // The zero cannot occur in a path: no two keys run together into the same text.
    return named_object_name(kind, utf16_to_utf8(key.marker) + '\0' + key.session_id);
}

std::wstring session_lock_name(const SessionKey& key) {
    return session_object_name(L"session", key);
}

std::expected<SessionLock, Win32Failure> lock_session(const SessionKey& key,
                                                      std::chrono::milliseconds wait) {
    auto mutex = handle_or_failure(CreateMutexW(nullptr, FALSE, session_lock_name(key).c_str()));
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
