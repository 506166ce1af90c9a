#include "taskbar/taskbar_window_plan.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <ostream>
#include <vector>

namespace watchdog {

// Readable steps in failure output.
void PrintTo(const TaskbarWindowStep& step, std::ostream* out) {
    char text[80];
    if (step.kind == TaskbarWindowStep::Kind::set_ex_style) {
        std::snprintf(text, sizeof(text), "ex_style(0x%08X)", step.ex_style);
    } else if (step.kind == TaskbarWindowStep::Kind::repaint) {
        std::snprintf(text, sizeof(text), "repaint");
    } else {
        std::snprintf(text, sizeof(text), "layered(0x%08X, %u, 0x%X)", step.color,
                      unsigned{step.alpha}, step.flags);
    }
    *out << text;
}

namespace {

constexpr std::uint32_t layered = 0x00080000;
constexpr std::uint32_t click_through = 0x00000020;
constexpr std::uint32_t no_activate = 0x08000000;
constexpr std::uint32_t tool_window = 0x00000080;
constexpr std::uint32_t unreachable = layered | click_through | no_activate;
constexpr std::uint32_t lwa_alpha = 0x2;
constexpr std::uint32_t lwa_colorkey = 0x1;

const TaskbarWindowStep opaque = layered_attributes_step(0, 255, lwa_alpha);

TaskbarWindowRecoveryState record(std::uint32_t ex_style, bool had_layered_attributes) {
    return TaskbarWindowRecoveryState{.hwnd = 0x10010,
                                      .ex_style = static_cast<std::int32_t>(ex_style),
                                      .layered_color = 0x00123456,
                                      .layered_alpha = 200,
                                      .layered_flags = lwa_alpha | lwa_colorkey,
                                      .had_layered_attributes = had_layered_attributes};
}

const TaskbarWindowStep recorded_attributes =
    layered_attributes_step(0x00123456, 200, lwa_alpha | lwa_colorkey);

struct PlanCase {
    const char* behaviour;
    std::uint32_t current;
    std::optional<TaskbarWindowRecoveryState> record;
    std::vector<TaskbarWindowStep> expected;
};

TEST(TaskbarWindowPlan, FollowsTheStyleRules) {
    const PlanCase cases[] = {
        {"no record: only click-through is cleared, after the opacity fix",
         unreachable | tool_window,
         std::nullopt,
         {opaque, ex_style_step(layered | no_activate | tool_window)}},
        {"no record, layered and click-through only: no opacity fix",
         layered | click_through | tool_window,
         std::nullopt,
         {ex_style_step(layered | tool_window)}},
        {"no record, click-through and no-activate only: no opacity fix",
         click_through | no_activate,
         std::nullopt,
         {ex_style_step(no_activate)}},
        {"no record, layered and no-activate only: no opacity fix",
         layered | no_activate,
         std::nullopt,
         {ex_style_step(layered | no_activate)}},
        {"no record, nothing to clear: the style is still written back",
         tool_window,
         std::nullopt,
         {ex_style_step(tool_window)}},
        {"no record, every bit set: only bit 5 is cleared",
         0xFFFFFFFF,
         std::nullopt,
         {opaque, ex_style_step(0xFFFFFFDF)}},
        {"a failed style read (0) writes 0 back", 0, std::nullopt, {ex_style_step(0)}},
        {"recorded attributes after the opacity fix and the recorded style",
         unreachable,
         record(layered | tool_window, true),
         {opaque, ex_style_step(layered | tool_window), recorded_attributes}},
        {"recorded layered style without attributes is made opaque",
         unreachable,
         record(layered, false),
         {opaque, ex_style_step(layered), opaque}},
        {"recorded plain style: no layered call",
         tool_window,
         record(tool_window, false),
         {ex_style_step(tool_window)}},
        {"recorded attributes are applied even to a style without layering",
         tool_window,
         record(tool_window, true),
         {ex_style_step(tool_window), recorded_attributes}},
        {"the recorded style is written whole, click-through included",
         layered | click_through,
         record(unreachable, false),
         {ex_style_step(unreachable), opaque}},
        {"no bit of the current style is merged in",
         unreachable | tool_window,
         record(0, false),
         {opaque, ex_style_step(0), repaint_step()}},
        {"a recorded style with bit 31 set survives as written",
         unreachable,
         record(0x80000080, false),
         {opaque, ex_style_step(0x80000080), repaint_step()}},
        {"a layered window recorded plain repaints right after the style, before attributes",
         layered,
         record(tool_window, true),
         {ex_style_step(tool_window), repaint_step(), recorded_attributes}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.behaviour);
        const TaskbarWindowRecoveryState* record_pointer = row.record ? &*row.record : nullptr;
        EXPECT_EQ(plan_taskbar_window_restore(row.current, record_pointer), row.expected);
    }
}

// What was drawn through the layer, the frame and the child windows included, is drawn again.
TEST(TaskbarWindowPlan, TheRepaintInvalidatesTheFrameAndEveryChildWindow) {
    constexpr std::uint32_t rdw_invalidate = 0x0001, rdw_all_children = 0x0080, rdw_frame = 0x0400;
    const auto recorded = record(tool_window, false);
    const auto plan = plan_taskbar_window_restore(layered, &recorded);
    ASSERT_EQ(plan.size(), 2u);
    ASSERT_EQ(plan[1].kind, TaskbarWindowStep::Kind::repaint);
    const std::uint32_t wanted = rdw_invalidate | rdw_frame | rdw_all_children;
    EXPECT_EQ(plan[1].flags & wanted, wanted);
}

constexpr std::uint32_t topmost = 0x00000008;

TEST(TaskbarTopmostBand, MovesOnlyAWindowThatIsNotInTheRecordedBand) {
    struct Case {
        const char* name;
        std::uint32_t recorded;
        std::uint32_t now;
        std::optional<bool> move;
    };
    const Case cases[] = {
        {"taken out of the band: back in", topmost | tool_window, tool_window, true},
        {"put into the band: back out", tool_window, topmost | tool_window, false},
        {"in the band as recorded", topmost, topmost | layered, std::nullopt},
        {"out of the band as recorded", tool_window, layered, std::nullopt},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(topmost_band_move(row.recorded, row.now), row.move);
    }
}

} // namespace
} // namespace watchdog
