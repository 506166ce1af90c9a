#include <system_state_watchdog/client.hpp>

#include "client/errors.h"
#include "client/kept_runs.h"
#include "client/marker_file.h"
#include "client/shell.h"
#include "desktop_icons/icon_view.h"
#include "session/session_lock.h"
#include "taskbar/taskbar_restore.h"
#include "win/bounded_call.h"
#include "win/window_handle.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>

namespace watchdog::client {
namespace {

// The window's extended style and, when it is layered and has them, its layered attributes:
// exactly what the restore gives back to it.
TaskbarWindowRecoveryState window_state(HWND window) {
    TaskbarWindowRecoveryState state;
    state.hwnd = window_handle_value(window);
    state.ex_style = static_cast<std::int32_t>(GetWindowLongW(window, GWL_EXSTYLE));
    COLORREF color = 0;
    BYTE alpha = 0;
    DWORD flags = 0;
    const bool layered = (static_cast<DWORD>(state.ex_style) & WS_EX_LAYERED) != 0;
    if (layered && GetLayeredWindowAttributes(window, &color, &alpha, &flags)) {
        state.layered_color = color;
        state.layered_alpha = alpha;
        state.layered_flags = flags;
        state.had_layered_attributes = true;
    }
    return state;
}

// Every taskbar window's state, and the app-bar state.
std::expected<TaskbarRecoverySnapshot, std::string> record_taskbar(BoundedWorker& worker) {
    const auto primary = find_primary_taskbar();
    if (!primary) {
        return std::unexpected(primary.error());
    }
    TaskbarRecoverySnapshot taskbar;
    for (const HWND window : find_taskbar_windows(*primary)) {
        taskbar.windows.push_back(window_state(window));
    }
    // The shell answers the app-bar state on the primary taskbar's thread: a hung shell must not
    // hold the application's start, so the question is bounded like the restore's calls.
    const auto state = std::make_shared<std::atomic<std::uint32_t>>(0);
    const auto asked = run_bounded(
        worker, taskbar_answer_limit, {[state, hwnd = *primary] {
            APPBARDATA data{};
            data.cbSize = sizeof(data);
            data.hWnd = hwnd;
            state->store(static_cast<std::uint32_t>(SHAppBarMessage(ABM_GETSTATE, &data)));
        }});
    if (asked != BoundedRun::finished) {
        return std::unexpected(std::string(taskbar_unanswered_message));
    }
    taskbar.appbar_state = state->load();
    return taskbar;
}

constexpr DWORD shell_look_pause_ms = 100;

// "10", "0.5" or "0.05": the bound as the messages say it, in seconds.
std::string seconds_of(std::chrono::milliseconds wait) {
    std::string fraction = std::to_string(1000 + wait.count() % 1000).substr(1);
    fraction.erase(fraction.find_last_not_of('0') + 1);
    return std::to_string(wait.count() / 1000) + (fraction.empty() ? "" : "." + fraction);
}

} // namespace

void pin_client_library() noexcept {
    static std::once_flag pinned;
    std::call_once(pinned, [] {
        // A pinned module is never released, so there is no handle to own.
        HMODULE module = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(&pin_client_library), &module);
    });
}

std::expected<void, std::string> wait_for_shell(bool taskbar, bool icons,
                                                std::chrono::milliseconds wait) {
    const auto bound = std::clamp(wait, std::chrono::milliseconds(0), longest_session_wait);
    // No wait asked: whatever is missing says so in its own words, a moment later.
    if (bound.count() == 0) {
        return {};
    }
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (true) {
        const bool taskbar_missing = taskbar && !find_primary_taskbar();
        const bool icons_missing = icons && !taskbar_missing && !find_desktop_icon_view();
        if (!taskbar_missing && !icons_missing) {
            return {};
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::unexpected((taskbar_missing ? std::string(taskbar_did_not_appear_prefix)
                                                    : std::string(icons_did_not_appear_prefix)) +
                                   seconds_of(bound) + std::string(did_not_appear_suffix));
        }
        Sleep(shell_look_pause_ms);
    }
}

std::expected<Recorded, Error> record_desktop(std::wstring_view marker_path, Items items,
                                              std::string_view session_id,
                                              std::chrono::milliseconds wait_for_shell_windows) {
    if (const auto checked = check_session_id(session_id); !checked) {
        return std::unexpected(checked.error());
    }
    const auto named = items_of(items);
    const bool wants_taskbar = std::ranges::find(named, GuardedItem::taskbar) != named.end();
    const bool wants_icons = std::ranges::find(named, GuardedItem::desktop_icons) != named.end();
    if (!wants_taskbar && !wants_icons) {
        return fail(Code::invalid_argument, std::string(nothing_to_record_message));
    }
    const auto full = full_marker_path(marker_path);
    if (!full) {
        return std::unexpected(full.error());
    }
    BoundedWorker worker;
    // Anything at the path but no marker at all may be a marker that was not settled.
    if (read_session_marker(worker, *full, std::nullopt)->verdict != MarkerVerdict::absent) {
        return fail(Code::marker_unsettled, about(marker_unsettled_prefix, *full, {}));
    }
    pin_client_library();
    if (const auto shown = wait_for_shell(wants_taskbar, wants_icons, wait_for_shell_windows);
        !shown) {
        return fail(Code::failed, shown.error());
    }
    RecoveryMarker marker{.version = 1, .sessionId = std::string(session_id)};
    if (wants_taskbar) {
        auto taskbar = record_taskbar(worker);
        if (!taskbar) {
            return fail(Code::failed, taskbar.error());
        }
        marker.taskbar = std::move(*taskbar);
    }
    if (wants_icons) {
        const auto view = find_desktop_icon_view();
        if (!view) {
            return fail(Code::failed, view.error());
        }
        marker.desktopIcons = DesktopIconRecovery{IsWindowVisible(*view) != FALSE};
    }
    return Recorded(new RecordedState{std::move(marker)});
}

} // namespace watchdog::client
