#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace watchdog {

// Reads the marker, checks its version and session, restores what it records, deletes it
// when everything came back and logs a summary. Success or a message text.
std::expected<void, std::string> restore_from_marker(std::wstring_view marker_path,
                                                     std::string_view expected_session_id);

} // namespace watchdog
