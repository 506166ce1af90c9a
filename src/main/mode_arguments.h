#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace watchdog {

// The arguments after the mode switch, as the operating system gave them (UTF-16 code units,
// possibly malformed).
using ModeArguments = std::vector<std::wstring>;

// Each mode takes exactly these three: the main process id, the session id, the marker path.
inline constexpr std::size_t mode_argument_count = 3;

} // namespace watchdog
