// The two calls most applications need. They are the separate steps in their order, with the
// clean-up that the separate calls leave to the caller: a protection that fails leaves no
// marker behind, for a marker without a watcher would make the next start "restore" a desktop
// that was never changed.

#include <system_state_watchdog/client.hpp>

#include "client/marker_file.h"
#include "client/presence.h"

namespace watchdog::client {
namespace {

// Only this run's marker goes; the outcome of a removal that fails too is the first failure's.
std::unexpected<Error> undo_write(const Protection& protection, Error error) {
    static_cast<void>(finish_cleanly(protection.marker_path, protection.session_id));
    return std::unexpected(std::move(error));
}

} // namespace

std::expected<Protection, Error> protect_desktop(std::wstring_view marker_path, Items items,
                                                 std::wstring_view watchdog_executable) {
    if (const auto settled = settle_leftover_marker(marker_path); !settled) {
        return std::unexpected(settled.error());
    }
    Protection protection{.marker_path = std::wstring(marker_path), .session_id = new_session_id()};
    auto recorded = record_desktop(marker_path, items, protection.session_id);
    if (!recorded) {
        return std::unexpected(recorded.error());
    }
    protection.recorded = std::move(*recorded);
    auto presence = hold_presence(protection.session_id);
    if (!presence) {
        return std::unexpected(presence.error());
    }
    protection.presence = std::move(*presence);
    const std::string bytes = serialize_marker(protection.recorded);
    if (const auto written = replace_marker(marker_path, bytes); !written) {
        return undo_write(protection, written.error());
    }
    const std::wstring executable = watchdog_executable.empty() ? watchdog_beside_this_program()
                                                                : std::wstring(watchdog_executable);
    if (const auto started = start_watchdog(executable, protection.session_id, marker_path);
        !started) {
        return undo_write(protection, started.error());
    }
    return protection;
}

std::expected<void, Error> end_protection(Protection protection) {
    // A desktop that did not come back keeps its marker: the watcher, which waits for this
    // process still, or the next start puts it back.
    if (const auto restored = restore_desktop(protection.recorded); !restored) {
        return restored;
    }
    if (const auto finished = finish_cleanly(protection.marker_path, protection.session_id);
        !finished) {
        return std::unexpected(finished.error());
    }
    return {};
}

} // namespace watchdog::client
