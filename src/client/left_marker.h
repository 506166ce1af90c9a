#pragma once

// A marker that a previous run left behind, as the library needs to see it before deciding
// whether to settle or discard it.

#include <expected>
#include <optional>
#include <string>

namespace watchdog::client {

struct LeftMarker {
    std::string bytes;
    std::string session_id; // empty when the bytes cannot be read as a marker
};

// The marker at the (file-system form of the) path; nothing when there is none, a message when
// there is one that cannot be read.
std::expected<std::optional<LeftMarker>, std::string> read_left_marker(const std::wstring& path);

} // namespace watchdog::client
