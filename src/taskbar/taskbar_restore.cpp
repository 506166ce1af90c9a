#include "taskbar/taskbar_restore.h"

#include "taskbar/taskbar_window_plan.h"
#include "win/bounded_call.h"
#include "win/error_text.h"
#include "win/shell_window.h"
#include "win/window_handle.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

namespace watchdog {
namespace {

// The shell reads the structure by its 64-bit layout; a different size would be rejected.
static_assert(sizeof(APPBARDATA) == 48);

constexpr UINT frame_refresh_flags =
    SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED | SWP_SHOWWINDOW;
static_assert(frame_refresh_flags == 0x0077);

void apply_step(HWND window, const TaskbarWindowStep& step) {
    switch (step.kind) {
    case TaskbarWindowStep::Kind::set_ex_style:
        SetWindowLongW(window, GWL_EXSTYLE, static_cast<LONG>(step.ex_style));
        break;
    case TaskbarWindowStep::Kind::set_layered_attributes:
        SetLayeredWindowAttributes(window, step.color, step.alpha, step.flags);
        break;
    case TaskbarWindowStep::Kind::repaint:
        RedrawWindow(window, nullptr, nullptr, step.flags);
        break;
    }
}

// Once a thread of the shell has not answered in time, none of its windows is waited for again.
struct ShellWaits {
    BoundedWorker& worker;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::vector<DWORD> silent_threads;
};

// Makes calls that wait for `thread`, bounded; false when it did not answer in time, now or before.
bool run_calls_for(ShellWaits& waits, DWORD thread, std::vector<std::function<void()>> calls) {
    if (std::ranges::find(waits.silent_threads, thread) != waits.silent_threads.end()) {
        return false;
    }
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - waits.start);
    const auto limit = std::clamp(taskbar_wait_budget - waited, std::chrono::milliseconds(0),
                                  taskbar_answer_limit);
    if (run_bounded(waits.worker, limit, std::move(calls)) == BoundedRun::finished) {
        return true;
    }
    waits.silent_threads.push_back(thread);
    return false;
}

// The most steps a window's plan holds: made opaque, its style, its layered attributes, a repaint.
constexpr std::size_t most_planned_steps = 4;

// Adds the calls that restore one window, in order, each its own: a hand-off given up on between
// two of them makes none of the rest. The first reads the style when the window's turn comes: a
// window after a slow one is planned from what it shows then, not from an earlier reading.
void add_window_calls(std::vector<std::function<void()>>& calls, HWND window,
                      std::optional<TaskbarWindowRecoveryState> record) {
    auto plan = std::make_shared<std::vector<TaskbarWindowStep>>();
    for (std::size_t index = 0; index < most_planned_steps; ++index) {
        calls.push_back([window, plan, record, index] {
            if (index == 0) {
                // A failed read yields 0, which plans the same as a window without those bits.
                const auto current =
                    static_cast<std::uint32_t>(GetWindowLongW(window, GWL_EXSTYLE));
                *plan = plan_taskbar_window_restore(current, record ? &*record : nullptr);
            }
            if (index < plan->size()) {
                apply_step(window, (*plan)[index]);
            }
        });
    }
    if (record) {
        // The style just written leaves WS_EX_TOPMOST as it was: the band is changed apart, and
        // the style is read back so that a window already where it belongs is not touched.
        calls.push_back([window, recorded = static_cast<std::uint32_t>(record->ex_style)] {
            const auto now = static_cast<std::uint32_t>(GetWindowLongW(window, GWL_EXSTYLE));
            if (const auto move = topmost_band_move(recorded, now)) {
                SetWindowPos(window, *move ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                             SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            }
        });
    }
    calls.push_back([window] { ShowWindow(window, SW_SHOW); });
    calls.push_back([window] { SetWindowPos(window, nullptr, 0, 0, 0, 0, frame_refresh_flags); });
}

} // namespace

std::vector<HWND> find_taskbar_windows(HWND primary) {
    const auto shell = shell_process();
    std::vector<HWND> windows{primary};
    HWND after = nullptr;
    while (const auto next = find_shell_top_level_window(shell, after, L"Shell_SecondaryTrayWnd")) {
        windows.push_back(*next);
        after = *next;
    }
    return windows;
}

std::expected<HWND, std::string> find_primary_taskbar() {
    const auto primary = find_shell_top_level_window(shell_process(), nullptr, L"Shell_TrayWnd");
    if (!primary) {
        return std::unexpected(std::string(taskbar_not_found_message) +
                               windows_error_text(primary.error()));
    }
    return *primary;
}

std::expected<void, std::string> restore_taskbar(const TaskbarRecoverySnapshot& snapshot,
                                                 BoundedWorker& worker) {
    const auto primary = find_primary_taskbar();
    if (!primary) {
        return std::unexpected(primary.error());
    }
    // Listed before anything changes: the restore acts only on windows that existed at one moment.
    const std::vector<HWND> windows = find_taskbar_windows(*primary);
    std::vector<std::int64_t> handles;
    std::vector<std::uint32_t> threads;
    for (HWND window : windows) {
        handles.push_back(window_handle_value(window));
        threads.push_back(GetWindowThreadProcessId(window, nullptr));
    }
    const auto picks = pair_taskbar_records(handles, snapshot.windows);
    const auto groups = group_by_thread(threads);
    const std::function<void()> appbar_call = [taskbar = *primary, state = snapshot.appbar_state] {
        APPBARDATA data;
        std::memset(&data, 0, sizeof(data));
        data.cbSize = sizeof(data);
        data.hWnd = taskbar;
        data.lParam = static_cast<LPARAM>(state);
        SHAppBarMessage(ABM_SETSTATE, &data);
    };
    ShellWaits waits{worker};
    bool all_answered = true;
    for (const auto& group : groups) {
        std::vector<std::function<void()>> calls;
        for (const std::size_t position : group) {
            const auto pick = picks[position];
            add_window_calls(calls, windows[position],
                             pick ? std::optional(snapshot.windows[*pick]) : std::nullopt);
        }
        // The app-bar state follows every window, with them if they all share the primary's thread.
        if (groups.size() == 1) {
            calls.push_back(appbar_call);
        }
        all_answered &= run_calls_for(waits, threads[group.front()], std::move(calls));
    }
    if (groups.size() > 1) {
        all_answered &= run_calls_for(waits, threads.front(), {appbar_call});
    }
    if (!all_answered) {
        return std::unexpected(std::string(taskbar_unanswered_message));
    }
    return {};
}

} // namespace watchdog
