#include "client/run_hold.h"

#include "client/errors.h"
#include "client/messages.h"
#include "client/session.h"
#include "restore/restore_run.h"
#include "session/item_guard.h"
#include "session/run_end.h"
#include "session/session_presence.h"
#include "win/error_text.h"
#include "win/utf.h"

#include <windows.h>

#include <map>
#include <mutex>
#include <string>

namespace watchdog::client {
namespace {

struct KeptRuns {
    std::mutex guard;
    std::map<SessionKey, RunHoldOwner> holds;
};

KeptRuns& kept_runs() {
    static KeptRuns kept;
    return kept;
}

// A watcher that has not answered within the wait is most likely still starting: its run's end
// request lives only while somebody holds it, so it is held on, with the presence the answer
// comes on, until the watcher answers or a watcher that never does is given up.
constexpr ULONGLONG pending_end_limit_ms = 10 * 60 * 1000;

struct PendingEnd {
    UniqueHandle request;
    UniqueHandle presence;
    ULONGLONG since_ms = 0;
};

struct PendingEnds {
    std::mutex guard;
    std::vector<PendingEnd> ends;
};

PendingEnds& pending_ends() {
    static PendingEnds pending;
    return pending;
}

void keep_pending(PendingEnd end) {
    PendingEnds& pending = pending_ends();
    const std::lock_guard lock(pending.guard);
    pending.ends.push_back(std::move(end));
}

// Lets go of the ends whose watcher has answered, or that waited too long.
void sweep_pending_ends() {
    PendingEnds& pending = pending_ends();
    const std::lock_guard lock(pending.guard);
    const ULONGLONG now = GetTickCount64();
    std::erase_if(pending.ends, [now](const PendingEnd& end) {
        return stood_down_within(end.presence.get(), std::chrono::milliseconds(0)) ||
               now - end.since_ms > pending_end_limit_ms;
    });
}

std::expected<RunHoldOwner, Error> hold_presence(const SessionKey& key) {
    auto event = hold_session_presence(key);
    if (!event) {
        return fail(Code::failed,
                    std::string(presence_failed_prefix) + windows_error_text(event.error()));
    }
    return RunHoldOwner(new RunHold{.presence = std::move(*event)});
}

std::vector<GuardedItem> items_of(Items items) {
    std::vector<GuardedItem> guarded;
    if (includes(items, Items::taskbar)) {
        guarded.push_back(GuardedItem::taskbar);
    }
    if (includes(items, Items::desktop_icons)) {
        guarded.push_back(GuardedItem::desktop_icons);
    }
    return guarded;
}

std::string_view item_name(GuardedItem item) {
    return item == GuardedItem::taskbar ? taskbar_item_name : desktop_icons_item_name;
}

std::unexpected<Error> claim_refused(GuardedItem item, Win32Failure failure) {
    if (claimed_by_another_run(failure)) {
        return fail(Code::left_to_live_run,
                    std::string(item_protected_prefix) + std::string(item_name(item)));
    }
    return fail(Code::failed, about(item_guard_failed_prefix, item_guard_name(item),
                                    windows_error_text(failure)));
}

} // namespace

void RunHoldRelease::operator()(RunHold* hold) const noexcept {
    delete hold;
}

std::expected<RunHoldOwner, Error> hold_new_protection(const SessionKey& key, Items items) {
    sweep_pending_ends();
    std::vector<UniqueHandle> claimed;
    for (const GuardedItem item : items_of(items)) {
        auto guard = claim_item(item);
        if (!guard) {
            return claim_refused(item, guard.error());
        }
        claimed.push_back(std::move(*guard));
    }
    auto hold = hold_presence(key);
    if (hold) {
        (*hold)->items = std::move(claimed);
    }
    return hold;
}

std::expected<bool, Error> keep_run(std::wstring_view marker_path, const RecoveryMarker& marker) {
    const SessionKey key = session_key(marker_path, marker.sessionId);
    KeptRuns& kept = kept_runs();
    const std::lock_guard lock(kept.guard);
    if (kept.holds.contains(key)) {
        return false;
    }
    auto hold = hold_presence(key);
    if (!hold) {
        return std::unexpected(hold.error());
    }
    for (const GuardedItem item : guarded_items(marker)) {
        auto guard = hold_item(item);
        // A guard of an instance with other rights may not be opened here; it is held all the
        // same, and these calls refuse no item.
        if (!guard && !claimed_by_another_run(guard.error())) {
            return claim_refused(item, guard.error());
        }
        if (guard) {
            (*hold)->items.push_back(std::move(*guard));
        }
    }
    kept.holds.emplace(key, std::move(*hold));
    return true;
}

void note_watcher_started(const SessionKey& key) {
    KeptRuns& kept = kept_runs();
    const std::lock_guard lock(kept.guard);
    if (const auto found = kept.holds.find(key); found != kept.holds.end()) {
        found->second->watcher_started = true;
    }
}

RunHoldOwner take_kept_run(const SessionKey& key) {
    KeptRuns& kept = kept_runs();
    const std::lock_guard lock(kept.guard);
    const auto found = kept.holds.find(key);
    if (found == kept.holds.end()) {
        return nullptr;
    }
    RunHoldOwner hold = std::move(found->second);
    kept.holds.erase(found);
    return hold;
}

void end_run(const SessionKey& key, RunHoldOwner hold) {
    sweep_pending_ends();
    // Made even without a hold: a watcher started some other way stands down as well.
    auto request = request_run_end(key);
    if (!hold) {
        return;
    }
    hold->items.clear();
    if (hold->watcher_started && request &&
        !stood_down_within(hold->presence.get(), watcher_answer_wait)) {
        keep_pending({std::move(*request), std::move(hold->presence), GetTickCount64()});
    }
}

} // namespace watchdog::client
