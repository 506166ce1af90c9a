#include "taskbar/taskbar_restore.h"

#include "taskbar/taskbar_pairing.h"
#include "taskbar/taskbar_window_plan.h"
#include "win/error_text.h"
#include "win/window_handle.h"

#include <shellapi.h>

#include <cstring>

namespace watchdog {
namespace {

// The shell reads the structure by its 64-bit layout; a different size would be rejected.
static_assert(sizeof(APPBARDATA) == 48);

// Keep position, size and Z order, do not activate, recalculate the frame for the style just
// written, and show.
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
    }
}

void send_appbar_state(HWND primary, std::uint32_t appbar_state) {
    APPBARDATA data;
    std::memset(&data, 0, sizeof(data));
    data.cbSize = sizeof(data);
    data.hWnd = primary;
    data.lParam = static_cast<LPARAM>(appbar_state);
    SHAppBarMessage(ABM_SETSTATE, &data);
}

const TaskbarWindowRecoveryState* record_at(const TaskbarRecoverySnapshot& snapshot,
                                            std::optional<std::size_t> index) {
    return index ? &snapshot.windows[*index] : nullptr;
}

} // namespace

std::vector<HWND> find_taskbar_windows(HWND primary) {
    std::vector<HWND> windows{primary};
    HWND after = nullptr;
    while (HWND next = FindWindowExW(nullptr, after, L"Shell_SecondaryTrayWnd", nullptr)) {
        windows.push_back(next);
        after = next;
    }
    return windows;
}

// No result is looked at: a taskbar that refuses one change still gets the others, and one
// that vanished since the search merely fails them all.
void restore_taskbar_window(HWND window, const TaskbarWindowRecoveryState* record) {
    // A failed read yields 0, which plans the same as a window without those style bits.
    const auto current = static_cast<std::uint32_t>(GetWindowLongW(window, GWL_EXSTYLE));
    for (const TaskbarWindowStep& step : plan_taskbar_window_restore(current, record)) {
        apply_step(window, step);
    }
    ShowWindow(window, SW_SHOW);
    SetWindowPos(window, nullptr, 0, 0, 0, 0, frame_refresh_flags);
}

std::expected<void, std::string> restore_taskbar(const TaskbarRecoverySnapshot& snapshot) {
    // FindWindowW is not documented to set an error when nothing matches; without this the
    // message could carry the error of some unrelated earlier call.
    SetLastError(ERROR_SUCCESS);
    HWND primary = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (primary == nullptr) {
        const DWORD error = GetLastError();
        return std::unexpected(std::string(taskbar_not_found_message) + windows_error_text(error));
    }
    // The whole list is taken before anything changes, so that the restore acts only on windows
    // that existed together at one moment.
    const std::vector<HWND> windows = find_taskbar_windows(primary);
    std::vector<std::int64_t> handles;
    handles.reserve(windows.size());
    for (HWND window : windows) {
        handles.push_back(window_handle_value(window));
    }
    const auto picks = pair_taskbar_records(handles, snapshot.windows);
    for (std::size_t position = 0; position < windows.size(); ++position) {
        restore_taskbar_window(windows[position], record_at(snapshot, picks[position]));
    }
    send_appbar_state(primary, snapshot.appbar_state);
    return {};
}

} // namespace watchdog
