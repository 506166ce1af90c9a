#include "desktop_icons/icon_visibility.h"

#include "desktop_icons/icon_view.h"
#include "win/error_text.h"
#include "win/shell_window.h"

namespace watchdog {
namespace {

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

int show_command_for(bool visible) {
    return visible ? SW_SHOW : SW_HIDE;
}

// What one restore remembers from attempt to attempt. SendMessageTimeoutW that times out does
// not take its message back: the shell view still carries the toggle out when it gets to it. A
// second toggle sent meanwhile would undo the first once the restore had already seen the icons
// right and reported them restored.
struct IconRestoreProgress {
    HWND unanswered_toggle_target = nullptr; // where a toggle may still be on its way
};

// The window that the toggle command goes to: the view's parent, and only when that is the
// shell view.
std::expected<HWND, std::string> toggle_command_target(HWND view) {
    // GetParent reports "no parent" without an error of its own for an unowned top-level
    // window; clearing first keeps an earlier call's error out of the text.
    SetLastError(ERROR_SUCCESS);
    const HWND parent = GetParent(view);
    if (parent == nullptr) {
        return std::unexpected(windows_error_text(last_win32_failure()));
    }
    // The command means "toggle the icons" only to the shell view; any other window might
    // read 0x7402 as one of its own commands.
    const auto parent_class = get_window_class_name(parent);
    if (!parent_class || *parent_class != shell_view_class) {
        return std::unexpected(std::string(shell_view_not_found_message));
    }
    return parent;
}

// Sends the toggle command. One that the shell did not answer but that is still on its way is
// noted in `progress`, so that no second one follows it.
std::expected<void, std::string> deliver_toggle_command(HWND view, IconRestoreProgress& progress) {
    const auto target = toggle_command_target(view);
    if (!target) {
        return std::unexpected(target.error());
    }
    switch (send_toggle_command(*target)) {
    case ToggleSend::answered:
        return {};
    case ToggleSend::on_its_way:
        progress.unanswered_toggle_target = *target;
        break;
    case ToggleSend::unanswered:
        break;
    }
    return std::unexpected(std::string(toggle_command_unanswered_message));
}

// Gives the shell view's thread the same time as a command to get through the toggle it has,
// without sending another: WM_NULL does nothing but wait its turn behind it.
void wait_for_toggle_in_progress(HWND target) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(target, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, toggle_command_timeout_ms,
                        &result);
}

// The shell's own command, unless one is still on its way.
void ask_shell_for(HWND view, IconRestoreProgress& progress) {
    if (progress.unanswered_toggle_target != nullptr) {
        wait_for_toggle_in_progress(progress.unanswered_toggle_target);
        return;
    }
    // Whether the command arrived or not, the next look at the view decides what follows.
    static_cast<void>(deliver_toggle_command(view, progress));
    wait_at_least(settle_pause);
}

// One attempt on a live view: the shell's command first, then ShowWindow, each only while the
// state is still wrong. True once the third look finds the view in the wanted state.
bool bring_view_to(HWND view, bool wanted_visible, IconRestoreProgress& progress) {
    if (is_visible(view) != wanted_visible) {
        ask_shell_for(view, progress);
    }
    if (is_visible(view) != wanted_visible) {
        // ShowWindow would wait for the view's thread, without limit if the shell has stopped
        // answering; the asynchronous call is carried out by that thread when it next runs,
        // which the pause gives it time to do.
        ShowWindowAsync(view, show_command_for(wanted_visible));
        wait_at_least(settle_pause);
    }
    // A view that the shell destroyed meanwhile reads as hidden, which proves nothing about
    // the icons: only a view that still exists can confirm the state. The next attempt looks
    // at whatever view has taken its place.
    return IsWindow(view) != FALSE && is_visible(view) == wanted_visible;
}

// One attempt against whatever view the shell has now.
std::expected<IconAttemptOutcome, std::string> attempt_icon_restore(bool wanted_visible,
                                                                    IconRestoreProgress& progress) {
    const auto view = find_desktop_icon_view();
    if (!view) {
        return std::unexpected(view.error());
    }
    if (!IsWindow(*view)) {
        return IconAttemptOutcome::view_gone;
    }
    return bring_view_to(*view, wanted_visible, progress) ? IconAttemptOutcome::restored
                                                          : IconAttemptOutcome::not_restored;
}

} // namespace

ToggleSend send_toggle_command(HWND target, SendMessageTimeoutFunction send) {
    DWORD_PTR result = 0;
    const auto start = std::chrono::steady_clock::now();
    // SendMessageTimeoutW does not always set an error when it fails: cleared first, no error
    // reads as an unreported failure rather than as whatever an earlier call left.
    SetLastError(ERROR_SUCCESS);
    if (send(target, WM_COMMAND, desktop_icon_toggle_command, 0, SMTO_ABORTIFHUNG,
             toggle_command_timeout_ms, &result) != 0) {
        return ToggleSend::answered;
    }
    const Win32Failure failure = last_win32_failure();
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    return toggle_command_still_on_its_way(failure, waited) ? ToggleSend::on_its_way
                                                            : ToggleSend::unanswered;
}

bool toggle_command_still_on_its_way(Win32Failure failure, std::chrono::milliseconds waited) {
    return failure.code == ERROR_TIMEOUT && waited >= toggle_command_timeout_waited;
}

std::expected<void, std::string> send_desktop_icon_toggle_command(HWND view) {
    IconRestoreProgress progress;
    return deliver_toggle_command(view, progress);
}

std::expected<void, std::string> restore_desktop_icons(bool originalVisible) {
    IconRestoreProgress progress;
    return run_icon_restore_attempts(
        [originalVisible, &progress] { return attempt_icon_restore(originalVisible, progress); },
        wait_at_least);
}

} // namespace watchdog
