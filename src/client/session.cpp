#include "client/session.h"

#include <system_state_watchdog/client.hpp>

#include "client/errors.h"
#include "client/messages.h"
#include "win/unique_resource.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>

namespace watchdog::client {
namespace {

// "ssw1-<process id>-<its start, FILETIME ticks in hex>-<random>": readable in a log, and new
// for every run. Nothing reads meaning back out of it.
constexpr std::string_view session_prefix = "ssw1-";

using GenerateRandom = LONG(WINAPI*)(void* algorithm, unsigned char* buffer, ULONG size,
                                     ULONG flags);
constexpr ULONG use_system_preferred_rng = 0x00000002; // BCRYPT_USE_SYSTEM_PREFERRED_RNG

std::uint64_t start_time_of(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return 0;
    }
    return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

std::string hex16(std::uint64_t value) {
    char text[17] = {};
    std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(value));
    return text;
}

// bcrypt.dll from the system folder only: a library of that name beside the application (or in
// its current folder) must not be the one that makes session ids.
bool system_random(std::uint64_t& value) {
    const UniqueModule bcrypt(LoadLibraryExW(L"bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!bcrypt) {
        return false;
    }
    const auto generate = reinterpret_cast<GenerateRandom>(
        reinterpret_cast<void (*)()>(GetProcAddress(bcrypt.get(), "BCryptGenRandom")));
    return generate != nullptr && generate(nullptr, reinterpret_cast<unsigned char*>(&value),
                                           sizeof value, use_system_preferred_rng) >= 0;
}

} // namespace

std::string random_hex() {
    std::uint64_t value = 0;
    if (!system_random(value)) {
        // Still different from every other run: the process id and start time come first.
        LARGE_INTEGER counter{};
        QueryPerformanceCounter(&counter);
        value = static_cast<std::uint64_t>(counter.QuadPart);
    }
    return hex16(value);
}

std::string new_session_id() {
    return std::string(session_prefix) + std::to_string(GetCurrentProcessId()) + "-" +
           hex16(start_time_of(GetCurrentProcess())) + "-" + random_hex();
}

std::expected<void, Error> check_session_id(std::string_view session_id) {
    if (session_id.empty()) {
        return fail(Code::invalid_argument, std::string(empty_session_message));
    }
    if (!utf8_to_utf16(session_id)) {
        return fail(Code::invalid_argument, std::string(invalid_session_message));
    }
    return {};
}

} // namespace watchdog::client
