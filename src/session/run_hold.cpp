#include "session/run_hold.h"

#include "session/session_lock.h"

#include <windows.h>

namespace watchdog {
namespace {

std::expected<CreatedEvent, NameState>
event_named(const std::expected<std::wstring, Win32Failure>& name) {
    if (!name) {
        return std::unexpected(NameState{NameHolder::unknown, name.error()});
    }
    return create_named_event(*name);
}

} // namespace

std::expected<std::wstring, Win32Failure> item_guard_name(GuardedItem item) {
    return desktop_object_name(item == GuardedItem::taskbar ? L"item-taskbar"
                                                            : L"item-desktop-icons");
}

std::expected<RunHold, HoldRefusal> hold_run(const SessionKey& key,
                                             std::span<const GuardedItem> items, ItemClaim claim) {
    RunHold hold;
    for (const GuardedItem item : items) {
        auto guard = event_named(item_guard_name(item));
        // For a claim alone, anybody who holds the guard already is a run that holds the item.
        if (guard && guard->existed && claim == ItemClaim::alone) {
            guard = std::unexpected(NameState{NameHolder::a_run});
        }
        if (guard) {
            hold.items.push_back(std::move(guard->handle));
        } else if (claim == ItemClaim::alone) {
            return std::unexpected(HoldRefusal{item, guard.error()});
        }
    }
    auto presence = event_named(session_object_name(L"run", key));
    if (!presence) {
        return std::unexpected(HoldRefusal{std::nullopt, presence.error()});
    }
    hold.presence = std::move(presence->handle);
    return hold;
}

NameState look_for_presence(const SessionKey& key) {
    const auto name = session_object_name(L"run", key);
    if (!name) {
        return {NameHolder::unknown, name.error()};
    }
    const auto presence = handle_or_failure(OpenEventW(SYNCHRONIZE, FALSE, name->c_str()));
    return presence ? NameState{NameHolder::a_run} : name_state_after(presence.error());
}

std::expected<UniqueHandle, NameState> open_run_end(const SessionKey& key) {
    auto request = event_named(session_object_name(L"end", key));
    if (!request) {
        return std::unexpected(request.error());
    }
    return std::move(request->handle);
}

std::expected<UniqueHandle, NameState> request_run_end(const SessionKey& key) {
    auto request = open_run_end(key);
    if (request && !SetEvent(request->get())) {
        return std::unexpected(name_state_after(last_win32_failure()));
    }
    return request;
}

void announce_stood_down(HANDLE presence) {
    SetEvent(presence);
}

bool stood_down_within(HANDLE presence, std::chrono::milliseconds wait) {
    return WaitForSingleObject(presence, bounded_wait_ms(wait)) == WAIT_OBJECT_0;
}

} // namespace watchdog
