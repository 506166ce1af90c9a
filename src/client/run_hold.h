#pragma once

// This process's part in keeping a run in force: the session's presence object (the run is
// alive to every other instance; see session/session_presence.h), the guards of the items the
// run protects (see session/item_guard.h), and whether this process started the run's watcher,
// whose answer the clean end waits for (see session/run_end.h). A Protection owns its hold; the
// separate calls keep theirs in a table for the process, from write_marker_file until
// finish_cleanly.

#include <system_state_watchdog/client.hpp>

#include "session/session_lock.h"
#include "win/unique_resource.h"

#include <chrono>
#include <expected>
#include <string_view>
#include <vector>

namespace watchdog::client {

struct RunHold {
    UniqueHandle presence;
    std::vector<UniqueHandle> items;
    bool watcher_started = false;
};

using RunHoldOwner = std::unique_ptr<RunHold, RunHoldRelease>;

// How long a clean end waits for the watcher it started to let go of the run. A watcher that
// waits already answers within milliseconds; one that is still starting needs longer.
inline constexpr std::chrono::milliseconds watcher_answer_wait{5000};

// The hold of a new protection: the items in `recorded` claimed (refused with
// left_to_live_run while another protection holds one of them), then the session's presence.
std::expected<RunHoldOwner, Error> hold_new_protection(const SessionKey& key, Items items);

// Keeps the session of a marker written by the separate calls in force, with the items it
// records held beside any other holder: true when this call started keeping it, false when it
// was kept already (a rewrite of the run's own marker).
std::expected<bool, Error> keep_run(std::wstring_view marker_path, const RecoveryMarker& marker);

// The watcher for a kept session has been started by this process.
void note_watcher_started(const SessionKey& key);

// Ends a run whose marker is gone: asks its watcher to stand down, lets go of the items, waits
// (at most watcher_answer_wait) for the watcher this process started, then lets go of the
// presence. A watcher that has not answered by then keeps its request and the presence held
// for it until it does (for ten minutes at most). `hold` may be null (nothing kept by this
// process).
void end_run(const SessionKey& key, RunHoldOwner hold);

// Takes the run's hold out of the table; null when it is not kept.
RunHoldOwner take_kept_run(const SessionKey& key);

} // namespace watchdog::client
