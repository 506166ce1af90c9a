#pragma once

// Bringing the desktop icons back to the visibility the main application recorded: first
// through the shell's own "show desktop icons" menu command, so that Explorer's idea of the
// setting follows, and failing that by showing or hiding the icon view directly.

#include "win/win32_failure.h"

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace watchdog {

inline constexpr std::string_view shell_view_not_found_message = "未找到 Windows 桌面视图窗口";
inline constexpr std::string_view toggle_command_unanswered_message =
    "Explorer 未响应桌面图标菜单命令";
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

// A send that came back after at least this long waited for the shell; one refused at once (a
// thread that the system counts as hung) was never delivered. Timer ticks may end the 500 ms
// wait a little early, and a refusal comes back within milliseconds.
inline constexpr std::chrono::milliseconds toggle_command_timeout_waited{toggle_command_timeout_ms /
                                                                         2};

// Whether a toggle command that SendMessageTimeoutW did not get answered is still on its way:
// only when the send timed out (ERROR_TIMEOUT) after waiting for the shell. The message then
// stays queued, and the shell view carries it out late. A send refused at once because the
// shell counts as hung, one that failed for another reason (a view that is gone) and one that
// failed without setting an error delivered nothing, and the command may be sent again.
bool toggle_command_still_on_its_way(Win32Failure failure, std::chrono::milliseconds waited);

// The signature of SendMessageTimeoutW, so that tests can stand in for a shell view.
using SendMessageTimeoutFunction = LRESULT(WINAPI*)(HWND, UINT, WPARAM, LPARAM, UINT, UINT,
                                                    PDWORD_PTR);

enum class ToggleSend {
    answered,
    on_its_way, // not answered in time, but queued: the shell view may still carry it out
    unanswered, // refused, failed, or the view is gone: it never will
};

// Sends the desktop-icon menu command to the shell view `target` (at most 500 ms).
ToggleSend send_toggle_command(HWND target, SendMessageTimeoutFunction send = SendMessageTimeoutW);

// Sends the toggle command to the view's parent, which must be the shell view itself. A
// delivered command counts as success whatever the shell made of it: only the view's
// visibility tells whether it worked.
std::expected<void, std::string> send_desktop_icon_toggle_command(HWND view);

// How one attempt ended, when the search found a view.
enum class IconAttemptOutcome {
    restored,     // the view now shows the wanted state
    view_gone,    // the view found was no window any more when it was to be used
    not_restored, // neither the command nor ShowWindow brought the wanted state
};

// The attempts and the pauses between them, apart from the windows: `attempt` makes one
// attempt and returns its outcome or the search's message, `pause` blocks for at least the
// time it is given. A search message ends everything at once; a view that was gone costs a
// short pause, so that the shell can finish re-creating it before the next search.
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

// At most six attempts, each searching for the view afresh. A view that is already in the
// wanted state is left alone. Once a menu command is still on its way, no further command is
// sent: later attempts wait for the shell to get through that one instead. The only messages
// are the search's own and "Windows Explorer 未能恢复桌面图标状态".
std::expected<void, std::string> restore_desktop_icons(bool originalVisible);

} // namespace watchdog
