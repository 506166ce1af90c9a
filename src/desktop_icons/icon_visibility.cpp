#include "desktop_icons/icon_visibility.h"

#include "desktop_icons/icon_view.h"
#include "win/shell_window.h"

namespace watchdog {
namespace {

// A send that came back after at least this long waited for the shell (see ToggleSend): timer
// ticks may end the 500 ms wait a little early, and a refusal comes back within milliseconds.
constexpr std::chrono::milliseconds toggle_command_timeout_waited{toggle_command_timeout_ms / 2};

// Sleep may return a little early on a coarse timer tick, and the pauses are minimums that
// the shell is owed, so sleep again until the full time has passed.
void wait_at_least(std::chrono::milliseconds pause) {
    const auto deadline = std::chrono::steady_clock::now() + pause;
    for (auto now = std::chrono::steady_clock::now(); now < deadline;
         now = std::chrono::steady_clock::now()) {
        const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        Sleep(static_cast<DWORD>(remaining.count()));
    }
}

bool is_visible(HWND view) {
    return IsWindowVisible(view) != FALSE;
}

// The shell's own command, unless one is still on its way to `queued_toggle`: a send that timed
// out is not taken back, the shell view carries it out late, and a second toggle would undo it
// once the restore had seen the icons right and reported them restored. The view's thread then
// gets a command's time to get through it: WM_NULL does nothing but wait its turn.
void ask_shell_for(HWND view, HWND& queued_toggle) {
    if (queued_toggle != nullptr) {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(queued_toggle, WM_NULL, 0, 0, SMTO_ABORTIFHUNG,
                            toggle_command_timeout_ms, &result);
        return;
    }
    // Only the shell view (the view's parent) reads the command as "toggle the icons": any other
    // window might take 0x7402 for one of its own. Arrived or not, the next look decides the rest.
    const HWND parent = GetParent(view);
    if (get_window_class_name(parent) == shell_view_class &&
        send_toggle_command(parent) == ToggleSend::on_its_way) {
        queued_toggle = parent;
    }
    wait_at_least(settle_pause);
}

// One attempt on a live view: the shell's command first, then ShowWindow, each only while the
// state is still wrong. True once the third look finds the view in the wanted state.
bool bring_view_to(HWND view, bool wanted_visible, HWND& queued_toggle) {
    if (is_visible(view) != wanted_visible) {
        ask_shell_for(view, queued_toggle);
    }
    if (is_visible(view) != wanted_visible) {
        // ShowWindow would wait for the view's thread, without limit if the shell has stopped
        // answering; that thread carries out the asynchronous call when it next runs, in the pause.
        ShowWindowAsync(view, wanted_visible ? SW_SHOW : SW_HIDE);
        wait_at_least(settle_pause);
    }
    // A view the shell destroyed meanwhile reads as hidden, which proves nothing about the icons:
    // only a view that still exists confirms the state. The next attempt looks at its successor.
    return IsWindow(view) != FALSE && is_visible(view) == wanted_visible;
}

} // namespace

ToggleSend send_toggle_command(HWND target, SendMessageTimeoutFunction send) {
    DWORD_PTR result = 0;
    const auto start = std::chrono::steady_clock::now();
    // SendMessageTimeoutW does not always set an error when it fails: cleared first, so that a
    // time-out left by an earlier call is not taken for this send's.
    SetLastError(ERROR_SUCCESS);
    if (send(target, WM_COMMAND, desktop_icon_toggle_command, 0, SMTO_ABORTIFHUNG,
             toggle_command_timeout_ms, &result) != 0) {
        return ToggleSend::answered;
    }
    const bool timed_out = GetLastError() == ERROR_TIMEOUT;
    const bool waited = std::chrono::steady_clock::now() - start >= toggle_command_timeout_waited;
    return timed_out && waited ? ToggleSend::on_its_way : ToggleSend::unanswered;
}

std::expected<void, std::string> restore_desktop_icons(bool originalVisible) {
    HWND queued_toggle = nullptr;
    const auto attempt = [originalVisible,
                          &queued_toggle]() -> std::expected<IconAttemptOutcome, std::string> {
        const auto view = find_desktop_icon_view();
        if (!view) {
            return std::unexpected(view.error());
        }
        if (!IsWindow(*view)) {
            return IconAttemptOutcome::view_gone;
        }
        return bring_view_to(*view, originalVisible, queued_toggle)
                   ? IconAttemptOutcome::restored
                   : IconAttemptOutcome::not_restored;
    };
    return run_icon_restore_attempts(attempt, wait_at_least);
}

} // namespace watchdog
