#pragma once

// This process's part in keeping a run in force: its objects (see session/run_hold.h) and whether
// this process started its watcher, whose answer the clean end waits for. A Protection owns its
// part; the separate calls keep theirs in the process's table, write_marker_file to finish_cleanly.

#include <system_state_watchdog/client.hpp>

#include "marker/records.h"
#include "session/run_hold.h"

#include <chrono>
#include <expected>
#include <memory>
#include <vector>

namespace watchdog::client {

struct KeptRun {
    SessionKey key;
    RunHold objects;
    bool watcher_started = false;
    RecoveryMarker recorded; // a Protection's: what its clean end puts back
};

using KeptRunOwner = std::unique_ptr<KeptRun, KeptRunRelease>;

// How long a clean end waits for the watcher it started to let go of the run. A watcher that
// waits already answers within milliseconds; one that is still starting needs longer.
inline constexpr std::chrono::milliseconds watcher_answer_wait{5000};

// The run's items, as a session guards them.
std::vector<GuardedItem> items_of(Items items);

// The hold of a new protection: the items claimed (refused with left_to_live_run while another
// protection holds one of them), then the run's presence.
std::expected<KeptRunOwner, Error> hold_new_protection(const SessionKey& key, Items items);

// Keeps in force the run of a marker written by the separate calls, its items held beside any
// other holder: true when this call started keeping it, false when already kept (a rewrite).
std::expected<bool, Error> keep_run(const SessionKey& key, const RecoveryMarker& marker);

void note_watcher_started(const SessionKey& key);

// Ends a run whose marker is gone: asks its watcher to stand down, lets go of the items, waits (at
// most watcher_answer_wait) for the watcher this process started, then lets go of the presence. A
// watcher that has not answered by then keeps its request and the presence held for it until it
// does (for ten minutes at most). `run` may be null (nothing kept by this process).
void end_run(const SessionKey& key, KeptRunOwner run);

// Takes the run out of the table; null when it is not kept.
KeptRunOwner take_kept_run(const SessionKey& key);

} // namespace watchdog::client
