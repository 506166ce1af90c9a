#include "desktop_icons/icon_view.h"
#include "desktop_icons/icon_visibility.h"

#include "win/error_text.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace watchdog {
namespace {

TEST(DesktopIconShowCommand, ShowsForVisibleAndHidesForHidden) {
    EXPECT_EQ(show_command_for(true), SW_SHOW);
    EXPECT_EQ(show_command_for(false), SW_HIDE);
}

struct SearchOutcomeCase {
    const char* name;
    HWND found;
    bool enumeration_succeeded;
    std::uint32_t last_error;
    std::expected<HWND, std::string> expected;
};

TEST(DesktopIconSearchOutcome, AFoundViewWinsAndOnlyAFailedEmptySearchReportsItsError) {
    const auto view = reinterpret_cast<HWND>(static_cast<std::intptr_t>(0x1234));
    const SearchOutcomeCase cases[] = {
        // The callback stopping the enumeration makes EnumWindows report FALSE.
        {"found, enumeration stopped", view, false, ERROR_ACCESS_DENIED, view},
        {"found, enumeration complete", view, true, 0, view},
        {"nothing, enumeration complete", nullptr, true, ERROR_ACCESS_DENIED,
         std::unexpected("未找到 Windows 桌面图标窗口")},
        {"nothing, enumeration failed", nullptr, false, ERROR_ACCESS_DENIED,
         std::unexpected(windows_error_text(ERROR_ACCESS_DENIED))},
        {"nothing, failed without an error", nullptr, false, 0,
         std::unexpected(windows_error_text(0))},
    };
    for (const auto& row : cases) {
        EXPECT_EQ(top_level_search_outcome(row.found, row.enumeration_succeeded, row.last_error),
                  row.expected)
            << row.name;
    }
}

TEST(DesktopIconSearchOutcome, AFailureWithoutAnErrorStillNamesTheMarkerCode) {
    const auto outcome = top_level_search_outcome(nullptr, false, 0);
    ASSERT_FALSE(outcome.has_value());
    EXPECT_TRUE(outcome.error().ends_with("0x535F4F4B")) << outcome.error();
}

} // namespace
} // namespace watchdog
