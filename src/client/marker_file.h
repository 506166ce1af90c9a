#pragma once

#include <system_state_watchdog/client.hpp>

#include <string_view>

namespace watchdog::client {

// write_marker_file without keeping the session alive in the process's table: for a caller that
// holds the session's presence itself.
std::expected<void, Error> replace_marker(std::wstring_view marker_path, std::string_view bytes);

} // namespace watchdog::client
