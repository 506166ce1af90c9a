#pragma once

// This process's part in keeping sessions alive (see session/session_presence.h): a Protection
// owns its hold; the separate calls keep theirs in a table for the process, from
// write_marker_file until finish_cleanly.

#include <system_state_watchdog/client.hpp>

#include "win/unique_resource.h"

#include <expected>
#include <string_view>

namespace watchdog::client {

struct Presence {
    UniqueHandle event;
};

using PresenceHold = std::unique_ptr<Presence, PresenceRelease>;

std::expected<PresenceHold, Error> hold_presence(std::string_view session_id);

// Keeps the session alive in the table; true when this call started keeping it.
std::expected<bool, Error> keep_present(std::string_view session_id);

void stop_keeping_present(std::string_view session_id);

} // namespace watchdog::client
