#pragma once

// One protection of an item per desktop. Two runs that both protect the taskbar would each
// record what the other changed as the original, and the one that ends last puts the other's
// change back with nobody left to undo it. While a protection of an item is in force on a
// desktop, its guard, a named event for the item and the desktop, is held: by the application
// from its marker's write until its clean end, and by the watcher from its start until it has
// restored, so that a crash does not free the item before the desktop is back. A new
// protection claims the guard and is refused while anybody holds it.

#include "marker/records.h"
#include "win/unique_resource.h"
#include "win/win32_failure.h"

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace watchdog {

enum class GuardedItem { taskbar, desktop_icons };

// The items that a marker records, the taskbar first.
std::vector<GuardedItem> guarded_items(const RecoveryMarker& marker);

// The guard's name for the item on the calling thread's desktop.
std::wstring item_guard_name(GuardedItem item);

// Claims the item for a new protection. ERROR_ALREADY_EXISTS when somebody holds its guard
// already; another failure when the guard cannot be created (another kind of object under its
// name, say).
std::expected<UniqueHandle, Win32Failure> claim_item(GuardedItem item);

// Whether a claim that failed with `claim_failure` met another run's protection of the item, not
// a failure to say anything about it.
bool claimed_by_another_run(Win32Failure claim_failure);

// Holds the item's guard beside whoever holds it already: for a run that is in force whatever
// others hold. Why not when the guard cannot be had.
std::expected<UniqueHandle, Win32Failure> hold_item(GuardedItem item);

} // namespace watchdog
