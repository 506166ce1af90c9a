#include "client/left_marker.h"

#include "marker/recovery_marker.h"
#include "restore/restore_run.h"

namespace watchdog::client {

std::expected<std::optional<LeftMarker>, std::string> read_left_marker(const std::wstring& path) {
    // Read the way the restore run reads it, so that both see the same marker or the same reason.
    auto bytes = read_marker_bytes(path);
    if (!bytes) {
        return std::unexpected(bytes.error());
    }
    if (!*bytes) {
        return std::nullopt;
    }
    LeftMarker left{std::move(**bytes), {}};
    if (const auto marker = parse_recovery_marker(left.bytes)) {
        left.session_id = marker->sessionId;
    }
    return left;
}

} // namespace watchdog::client
