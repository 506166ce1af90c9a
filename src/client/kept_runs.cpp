#include "client/kept_runs.h"

#include "client/errors.h"
#include "restore/restore_run.h"
#include "win/error_text.h"

#include <windows.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace watchdog::client {
namespace {

// An end whose watcher has not answered in time (most likely still starting) is held on, with the
// presence, as its request lives only while somebody holds it; for this long at most.
constexpr ULONGLONG pending_end_limit_ms = 10 * 60 * 1000;

struct PendingEnd {
    UniqueHandle request;
    UniqueHandle presence;
    ULONGLONG since_ms = 0;
};

// The runs kept for the separate calls, and the ends awaiting an answer, each behind its own lock.
struct Tables {
    std::mutex kept_mutex;
    std::map<SessionKey, KeptRunOwner> kept;
    std::mutex pending_mutex;
    std::vector<PendingEnd> pending;
};

Tables& process_tables() {
    static Tables tables;
    return tables;
}

void sweep_pending_ends() {
    Tables& tables = process_tables();
    const std::lock_guard lock(tables.pending_mutex);
    const ULONGLONG now = GetTickCount64();
    std::erase_if(tables.pending, [now](const PendingEnd& end) {
        return stood_down_within(end.presence.get(), std::chrono::milliseconds(0)) ||
               now - end.since_ms > pending_end_limit_ms;
    });
}

std::unexpected<Error> refused(const HoldRefusal& refusal) {
    const NameHolder holder = refusal.state.holder;
    if (!refusal.item) {
        return fail(Code::failed, std::string(presence_failed_prefix) +
                                      windows_error_text(refusal.state.failure));
    }
    if (holder == NameHolder::a_run || holder == NameHolder::a_run_of_other_rights) {
        const std::string_view item =
            *refusal.item == GuardedItem::taskbar ? taskbar_item_name : desktop_icons_item_name;
        return fail(Code::left_to_live_run, std::string(item_protected_prefix) + std::string(item));
    }
    return fail(Code::failed,
                about(item_guard_failed_prefix, item_guard_name(*refusal.item).value_or(L""),
                      windows_error_text(refusal.state.failure)));
}

} // namespace

std::vector<GuardedItem> items_of(Items items) {
    const auto named = static_cast<std::uint32_t>(items);
    std::vector<GuardedItem> guards;
    if ((named & static_cast<std::uint32_t>(Items::taskbar)) != 0) {
        guards.push_back(GuardedItem::taskbar);
    }
    if ((named & static_cast<std::uint32_t>(Items::desktop_icons)) != 0) {
        guards.push_back(GuardedItem::desktop_icons);
    }
    return guards;
}

void KeptRunRelease::operator()(KeptRun* run) const noexcept {
    delete run;
}

std::expected<KeptRunOwner, Error> hold_new_protection(const SessionKey& key, Items items) {
    sweep_pending_ends();
    auto objects = hold_run(key, items_of(items), ItemClaim::alone);
    if (!objects) {
        return refused(objects.error());
    }
    return KeptRunOwner(new KeptRun{key, std::move(*objects)});
}

std::expected<bool, Error> keep_run(const SessionKey& key, const RecoveryMarker& marker) {
    Tables& tables = process_tables();
    const std::lock_guard lock(tables.kept_mutex);
    if (tables.kept.contains(key)) {
        return false;
    }
    // A guard of an instance with other rights may not be opened here; the separate calls refuse
    // no item.
    auto objects = hold_run(key, recorded_items(marker), ItemClaim::beside_others);
    if (!objects) {
        return refused(objects.error());
    }
    tables.kept.emplace(key, KeptRunOwner(new KeptRun{key, std::move(*objects)}));
    return true;
}

void note_watcher_started(const SessionKey& key) {
    Tables& tables = process_tables();
    const std::lock_guard lock(tables.kept_mutex);
    if (const auto found = tables.kept.find(key); found != tables.kept.end()) {
        found->second->watcher_started = true;
    }
}

KeptRunOwner take_kept_run(const SessionKey& key) {
    Tables& tables = process_tables();
    const std::lock_guard lock(tables.kept_mutex);
    auto node = tables.kept.extract(key);
    return node ? std::move(node.mapped()) : nullptr;
}

void end_run(const SessionKey& key, KeptRunOwner run) {
    sweep_pending_ends();
    // Made even without a hold: a watcher started some other way stands down as well.
    auto request = request_run_end(key);
    if (!run) {
        return;
    }
    run->objects.items.clear();
    if (run->watcher_started && request &&
        !stood_down_within(run->objects.presence.get(), watcher_answer_wait)) {
        Tables& tables = process_tables();
        const std::lock_guard lock(tables.pending_mutex);
        tables.pending.push_back(
            {std::move(*request), std::move(run->objects.presence), GetTickCount64()});
    }
}

} // namespace watchdog::client
