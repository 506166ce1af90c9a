#pragma once

// What keeps a run in force: its main application, from writing its marker until it has finished
// cleanly, and its watcher, from its start until it has restored, each hold the run's presence (a
// named event) and the guards of the items the run protects. One protection of an item per
// desktop: of two runs protecting the taskbar, each would record the other's change as the
// original, and the last to end would put it back. The clean end reaches the watcher through the
// run's end request, or a host that protects and ends a thousand times would keep a thousand
// watchers for as long as it lives; a watcher that stood down answers on the presence. Neither the
// session id's form nor the process id (which the system hands out again) takes part.

#include "session/object_names.h"
#include "win/unique_resource.h"

#include <chrono>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace watchdog {

enum class GuardedItem { taskbar, desktop_icons };

struct RunHold {
    UniqueHandle presence;
    std::vector<UniqueHandle> items;
    UniqueHandle end_request; // the watcher's, to wait on
};

enum class ItemClaim {
    alone,         // a new protection: refused while anybody else holds one of the items
    beside_others, // a run in force whatever others hold: the items that can be had are held
};

struct HoldRefusal {
    std::optional<GuardedItem> item; // none: the presence
    NameState state;
};

// The guard's name for the item on the calling thread's desktop.
std::expected<std::wstring, Win32Failure> item_guard_name(GuardedItem item);

// The guards of `items`, then the run's presence. A claim `alone` is refused when an item cannot
// be had; one beside others holds the items it can. Either is refused without the presence.
std::expected<RunHold, HoldRefusal> hold_run(const SessionKey& key,
                                             std::span<const GuardedItem> items, ItemClaim claim);

// Who holds the run's presence.
NameState look_for_presence(const SessionKey& key);

// The watcher's side of the end: the run's end request, set or not (created if none is yet).
std::expected<UniqueHandle, NameState> open_run_end(const SessionKey& key);

// The application's side of the end: sets the run's end request and returns it, to be held until
// the watcher has answered (or the wait for it is over).
std::expected<UniqueHandle, NameState> request_run_end(const SessionKey& key);

// The watcher's answer, on the presence both hold: it has let go of everything of the run.
void announce_stood_down(HANDLE presence);

// Whether the watcher answered within `wait`, on the application's own hold of the presence.
bool stood_down_within(HANDLE presence, std::chrono::milliseconds wait);

} // namespace watchdog
