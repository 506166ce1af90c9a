#include "client/session.h"

#include <system_state_watchdog/client.hpp>

#include "win/unique_resource.h"

#include <windows.h>

#include <bcrypt.h>

#include <charconv>
#include <cstdint>
#include <cstdio>

namespace watchdog::client {
namespace {

// "ssw1-<process id>-<its start, FILETIME ticks in hex>-<random>".
constexpr std::string_view session_prefix = "ssw1-";

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

struct SessionRun {
    DWORD process_id = 0;
    std::uint64_t start_time = 0;
};

template <typename T> bool parse_number(std::string_view text, int base, T& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc{} && end == text.data() + text.size() && !text.empty();
}

std::optional<SessionRun> run_of(std::string_view session_id) {
    if (!session_id.starts_with(session_prefix)) {
        return std::nullopt;
    }
    session_id.remove_prefix(session_prefix.size());
    const std::size_t first = session_id.find('-');
    const std::size_t second = session_id.find('-', first + 1);
    if (first == std::string_view::npos || second == std::string_view::npos) {
        return std::nullopt;
    }
    SessionRun run;
    if (!parse_number(session_id.substr(0, first), 10, run.process_id) ||
        !parse_number(session_id.substr(first + 1, second - first - 1), 16, run.start_time)) {
        return std::nullopt;
    }
    return run;
}

} // namespace

std::string random_hex() {
    std::uint64_t value = 0;
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&value), sizeof value,
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
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

bool session_run_is_alive(std::string_view session_id) {
    const auto run = run_of(session_id);
    if (!run) {
        return false;
    }
    const UniqueHandle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, run->process_id));
    if (!process) {
        // No such process is the only answer that proves the run gone; one that may not be
        // looked at may well be it.
        return GetLastError() != ERROR_INVALID_PARAMETER;
    }
    DWORD exit_code = 0;
    const bool running = GetExitCodeProcess(process.get(), &exit_code) && exit_code == STILL_ACTIVE;
    // Process ids are reused: only the process that started at the recorded time is the run.
    return running && start_time_of(process.get()) == run->start_time;
}

} // namespace watchdog::client
