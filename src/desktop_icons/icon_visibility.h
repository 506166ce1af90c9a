#pragma once

// Bringing the desktop icons back to the recorded visibility: through the shell's own "show desktop
// icons" menu command, so that Explorer's setting follows, else by showing or hiding the view.

#include <windows.h>

#include <chrono>
#include <expected>
#include <string>
#include <string_view>

namespace watchdog {

inline constexpr std::string_view icons_not_restored_message =
    "Windows Explorer 未能恢复桌面图标状态";

// The shell view's menu command that toggles the desktop icons (WM_COMMAND).
inline constexpr WPARAM desktop_icon_toggle_command = 0x7402;
inline constexpr UINT toggle_command_timeout_ms = 500;
inline constexpr int max_restore_attempts = 6;
// After a command or ShowWindow: time for the shell to act before the state is read again.
inline constexpr std::chrono::milliseconds settle_pause{80};
// After the view vanished between finding and using it: time for the shell to re-create it.
inline constexpr std::chrono::milliseconds vanished_view_pause{30};

// The signature of SendMessageTimeoutW, so that tests can stand in for a shell view.
using SendMessageTimeoutFunction = LRESULT(WINAPI*)(HWND, UINT, WPARAM, LPARAM, UINT, UINT,
                                                    PDWORD_PTR);

enum class ToggleSend {
    answered,
    // Timed out (ERROR_TIMEOUT) after a wait: still queued, the shell view may carry it out late.
    on_its_way,
    // Refused at once because the shell counts as hung, failed for another reason (a view that
    // is gone) or without setting an error: nothing was delivered, and it may be sent again.
    unanswered,
};

// Sends the desktop-icon menu command to the shell view `target` (at most 500 ms).
ToggleSend send_toggle_command(HWND target, SendMessageTimeoutFunction send = SendMessageTimeoutW);

// How one attempt ended, when the search found a view.
enum class IconAttemptOutcome {
    restored,     // the view now shows the wanted state
    view_gone,    // the view found was no window any more when it was to be used
    not_restored, // neither the command nor ShowWindow brought the wanted state
};

// The attempts apart from the windows: `attempt` makes one (its outcome, or the search's message,
// which ends all); `pause` blocks at least as given, vanished_view_pause after view_gone.
template <typename Attempt, typename Pause>
std::expected<void, std::string> run_icon_restore_attempts(Attempt attempt, Pause pause) {
    for (int number = 1; number <= max_restore_attempts; ++number) {
        const std::expected<IconAttemptOutcome, std::string> outcome = attempt();
        if (!outcome) {
            return std::unexpected(outcome.error());
        }
        if (*outcome == IconAttemptOutcome::restored) {
            return {};
        }
        if (*outcome == IconAttemptOutcome::view_gone) {
            pause(vanished_view_pause);
        }
    }
    return std::unexpected(std::string(icons_not_restored_message));
}

// At most six attempts, each searching for the view afresh; a view already in the wanted state is
// left alone. Once a menu command is on its way, no other is sent: later attempts wait for the
// shell to get through it. The only messages are the search's and icons_not_restored_message.
std::expected<void, std::string> restore_desktop_icons(bool originalVisible);

} // namespace watchdog
