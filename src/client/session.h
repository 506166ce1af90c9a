#pragma once

#include <system_state_watchdog/client.hpp>

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace watchdog::client {

// Whether `items` names `item`.
inline bool includes(Items items, Items item) {
    return (static_cast<std::uint32_t>(items) & static_cast<std::uint32_t>(item)) != 0;
}

// BCryptGenRandom's signature.
using GenerateRandom = LONG(WINAPI*)(void* algorithm, unsigned char* buffer, ULONG size,
                                     ULONG flags);

// 64 bits from the system's preferred generator through `generate`; nothing when it fails.
std::optional<std::uint64_t> random_from(GenerateRandom generate);

// 64 random bits (bcrypt.dll from the system folder only) as 16 upper-case hexadecimal digits.
std::string random_hex();

} // namespace watchdog::client
