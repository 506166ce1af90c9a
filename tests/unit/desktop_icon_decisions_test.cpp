#include "desktop_icons/icon_visibility.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace watchdog {
namespace {

using Outcome = IconAttemptOutcome;
using AttemptResult = std::expected<Outcome, std::string>;

std::vector<AttemptResult> repeated(int count, Outcome outcome) {
    return std::vector<AttemptResult>(static_cast<std::size_t>(count), outcome);
}

struct ScheduleCase {
    const char* name;
    std::vector<AttemptResult> attempts; // what each attempt in turn reports
    int attempts_made;
    int pauses_of_30_ms;
    std::expected<void, std::string> result;
};

// The attempt schedule with the windows taken out: the rows give what each attempt found, and
// the schedule decides how many attempts run, where it pauses and what it returns.
TEST(DesktopIconAttemptSchedule, SixAttemptsAPauseAfterAGoneViewAndTheSearchMessageAtOnce) {
    const std::string not_restored = "Windows Explorer 未能恢复桌面图标状态";
    const std::string not_found = "未找到 Windows 桌面图标窗口";
    const ScheduleCase cases[] = {
        {"restored at once", {Outcome::restored}, 1, 0, {}},
        {"restored at the sixth", repeated(5, Outcome::not_restored), 6, 0, {}},
        {"never restored", repeated(9, Outcome::not_restored), 6, 0, std::unexpected(not_restored)},
        {"view gone every time", repeated(9, Outcome::view_gone), 6, 6,
         std::unexpected(not_restored)},
        {"view gone twice, then restored",
         {Outcome::view_gone, Outcome::view_gone, Outcome::restored},
         3,
         2,
         {}},
        {"no view at all", {std::unexpected(not_found)}, 1, 0, std::unexpected(not_found)},
        {"no view after a gone one",
         {Outcome::view_gone, std::unexpected(not_found)},
         2,
         1,
         std::unexpected(not_found)},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        std::vector<AttemptResult> attempts = row.attempts;
        attempts.resize(9, Outcome::restored); // a row that runs out would have ended earlier
        int made = 0;
        std::vector<std::chrono::milliseconds> pauses;
        const auto result = run_icon_restore_attempts(
            [&] { return attempts[static_cast<std::size_t>(made++)]; },
            [&](std::chrono::milliseconds pause) { pauses.push_back(pause); });
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(made, row.attempts_made);
        EXPECT_EQ(pauses, std::vector<std::chrono::milliseconds>(
                              static_cast<std::size_t>(row.pauses_of_30_ms),
                              std::chrono::milliseconds(30)));
    }
}

// Shell views that take their time and then answer, time out, or fail without a word.
LRESULT WINAPI answers_late(HWND, UINT, WPARAM, LPARAM, UINT, UINT, PDWORD_PTR) {
    Sleep(300);
    return 1;
}
LRESULT WINAPI times_out(HWND, UINT, WPARAM, LPARAM, UINT, UINT, PDWORD_PTR) {
    Sleep(300);
    SetLastError(ERROR_TIMEOUT);
    return 0;
}
LRESULT WINAPI fails_without_a_word(HWND, UINT, WPARAM, LPARAM, UINT, UINT, PDWORD_PTR) {
    Sleep(300);
    return 0;
}
// Shell views that fail with `last_error` after `pause_ms`.
template <DWORD last_error, DWORD pause_ms>
LRESULT WINAPI fails_after(HWND, UINT, WPARAM, LPARAM, UINT, UINT, PDWORD_PTR) {
    Sleep(pause_ms);
    SetLastError(last_error);
    return 0;
}

// What the send itself says, never what an earlier call left behind: a time-out that some other
// call reported before must not make a command that was never queued count as on its way.
TEST(DesktopIconToggleCommand, ASendIsJudgedByItsOwnLastError) {
    const std::pair<SendMessageTimeoutFunction, ToggleSend> cases[] = {
        {answers_late, ToggleSend::answered},
        {times_out, ToggleSend::on_its_way},
        {fails_without_a_word, ToggleSend::unanswered},
        // Refused at once (the shell counting as hung), the view gone before or during the wait.
        {fails_after<ERROR_TIMEOUT, 0>, ToggleSend::unanswered},
        {fails_after<ERROR_INVALID_WINDOW_HANDLE, 0>, ToggleSend::unanswered},
        {fails_after<ERROR_INVALID_WINDOW_HANDLE, 300>, ToggleSend::unanswered},
    };
    for (const auto& [send, expected] : cases) {
        SetLastError(ERROR_TIMEOUT);
        EXPECT_EQ(send_toggle_command(nullptr, send), expected);
    }
}

} // namespace
} // namespace watchdog
