#include "session/item_guard.h"

#include "session/session_lock.h"
#include "win/desktop_identity.h"
#include "win/utf.h"

#include <windows.h>

namespace watchdog {

std::vector<GuardedItem> guarded_items(const RecoveryMarker& marker) {
    std::vector<GuardedItem> items;
    if (marker.taskbar) {
        items.push_back(GuardedItem::taskbar);
    }
    if (marker.desktopIcons) {
        items.push_back(GuardedItem::desktop_icons);
    }
    return items;
}

std::wstring item_guard_name(GuardedItem item) {
    const std::wstring_view kind =
        item == GuardedItem::taskbar ? L"item-taskbar" : L"item-desktop-icons";
    return named_object_name(kind, utf16_to_utf8(current_desktop_identity()));
}

namespace {

struct CreatedGuard {
    UniqueHandle guard;
    DWORD last_error = ERROR_SUCCESS; // read right after the creation: it tells an existing one
};

CreatedGuard create_guard(GuardedItem item) {
    CreatedGuard created;
    created.guard.reset(CreateEventW(nullptr, TRUE, FALSE, item_guard_name(item).c_str()));
    created.last_error = GetLastError();
    return created;
}

} // namespace

std::expected<UniqueHandle, std::uint32_t> hold_item(GuardedItem item) {
    CreatedGuard created = create_guard(item);
    if (!created.guard) {
        return std::unexpected(static_cast<std::uint32_t>(created.last_error));
    }
    return std::move(created.guard);
}

bool claimed_by_another_run(std::uint32_t claim_error) {
    // An instance with other rights (elevated, say) holds a guard that may not be opened here.
    return claim_error == ERROR_ALREADY_EXISTS || claim_error == ERROR_ACCESS_DENIED;
}

std::expected<UniqueHandle, std::uint32_t> claim_item(GuardedItem item) {
    CreatedGuard created = create_guard(item);
    if (!created.guard) {
        return std::unexpected(static_cast<std::uint32_t>(created.last_error));
    }
    if (created.last_error == ERROR_ALREADY_EXISTS) {
        return std::unexpected(static_cast<std::uint32_t>(ERROR_ALREADY_EXISTS));
    }
    return std::move(created.guard);
}

} // namespace watchdog
