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
    // A desktop that cannot be named still gets a guard, one that all such desktops share.
    return named_object_name(kind, utf16_to_utf8(current_desktop_identity().value_or(L"")));
}

namespace {

struct CreatedGuard {
    UniqueHandle guard;
    bool existed = false; // somebody held the guard already
};

std::expected<CreatedGuard, Win32Failure> create_guard(GuardedItem item) {
    const std::wstring name = item_guard_name(item);
    HANDLE guard = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    // Read at once, on success too: ERROR_ALREADY_EXISTS then tells an existing guard.
    const DWORD last_error = GetLastError();
    if (guard == nullptr) {
        return std::unexpected(win32_failure(last_error));
    }
    return CreatedGuard{UniqueHandle(guard), last_error == ERROR_ALREADY_EXISTS};
}

} // namespace

std::expected<UniqueHandle, Win32Failure> hold_item(GuardedItem item) {
    auto created = create_guard(item);
    if (!created) {
        return std::unexpected(created.error());
    }
    return std::move(created->guard);
}

bool claimed_by_another_run(Win32Failure claim_failure) {
    // An instance with other rights (elevated, say) holds a guard that may not be opened here.
    return claim_failure.code == ERROR_ALREADY_EXISTS || claim_failure.code == ERROR_ACCESS_DENIED;
}

std::expected<UniqueHandle, Win32Failure> claim_item(GuardedItem item) {
    auto created = create_guard(item);
    if (!created) {
        return std::unexpected(created.error());
    }
    if (created->existed) {
        return std::unexpected(Win32Failure{ERROR_ALREADY_EXISTS});
    }
    return std::move(created->guard);
}

} // namespace watchdog
