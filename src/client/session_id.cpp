#include <system_state_watchdog/client.hpp>

#include "client/errors.h"
#include "session/object_names.h"
#include "win/module_path.h"
#include "win/process_start.h"
#include "win/unique_resource.h"

#include <windows.h>

#include <cstdint>

namespace watchdog::client {
namespace {

constexpr ULONG use_system_preferred_rng = 0x00000002; // BCRYPT_USE_SYSTEM_PREFERRED_RNG

// 16 hex digits from the system's preferred generator (bcrypt.dll from the system folder only).
std::string random_hex() {
    using GenerateRandom = LONG(WINAPI*)(void*, unsigned char*, ULONG, ULONG);
    const auto bcrypt = load_system_library(L"bcrypt.dll");
    const auto generate = bcrypt ? reinterpret_cast<GenerateRandom>(reinterpret_cast<void (*)()>(
                                       GetProcAddress(bcrypt->get(), "BCryptGenRandom")))
                                 : nullptr;
    std::uint64_t value = 0;
    // An NTSTATUS: negative values are errors, the rest success.
    if (generate != nullptr && generate(nullptr, reinterpret_cast<unsigned char*>(&value),
                                        sizeof value, use_system_preferred_rng) >= 0) {
        return hex16(value);
    }
    // Still different from every other run: the process id and start time come first.
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    return hex16(static_cast<std::uint64_t>(counter.QuadPart));
}

} // namespace

// "ssw1-<process id>-<its start, FILETIME ticks in hex>-<random>": readable in a log, and new
// for every run. Nothing reads meaning back out of it.
std::string new_session_id() {
    return "ssw1-" + std::to_string(GetCurrentProcessId()) + "-" +
           hex16(process_start_time(GetCurrentProcess())) + "-" + random_hex();
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
