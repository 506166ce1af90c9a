#include "taskbar/taskbar_window_plan.h"

#include <windows.h>

#include <algorithm>

namespace watchdog {
namespace {

// A window at once layered, click-through and never activated is a taskbar left invisible and
// unreachable; it is made opaque first, so that it comes back even if the later calls fail.
constexpr std::uint32_t unreachable_style_bits =
    WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_NOACTIVATE;

TaskbarWindowStep opaque_step() {
    return layered_attributes_step(0, 255, LWA_ALPHA);
}

bool has_all_bits(std::uint32_t value, std::uint32_t bits) {
    return (value & bits) == bits;
}

} // namespace

TaskbarWindowStep ex_style_step(std::uint32_t ex_style) {
    return TaskbarWindowStep{.kind = TaskbarWindowStep::Kind::set_ex_style, .ex_style = ex_style};
}

TaskbarWindowStep layered_attributes_step(std::uint32_t color, std::uint8_t alpha,
                                          std::uint32_t flags) {
    return TaskbarWindowStep{.kind = TaskbarWindowStep::Kind::set_layered_attributes,
                             .color = color,
                             .alpha = alpha,
                             .flags = flags};
}

// The frame and the child windows too: both were drawn through the layer, and a window that is
// no longer layered redraws neither by itself.
TaskbarWindowStep repaint_step() {
    return TaskbarWindowStep{.kind = TaskbarWindowStep::Kind::repaint,
                             .flags = RDW_ERASE | RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN};
}

std::vector<TaskbarWindowStep>
plan_taskbar_window_restore(std::uint32_t current_ex_style,
                            const TaskbarWindowRecoveryState* record) {
    std::vector<TaskbarWindowStep> steps;
    if (has_all_bits(current_ex_style, unreachable_style_bits)) {
        steps.push_back(opaque_step());
    }
    if (record == nullptr) {
        // Nothing recorded for this window: only give it back its clicks, keep the rest.
        steps.push_back(
            ex_style_step(current_ex_style & ~static_cast<std::uint32_t>(WS_EX_TRANSPARENT)));
        return steps;
    }
    const auto recorded_style = static_cast<std::uint32_t>(record->ex_style);
    steps.push_back(ex_style_step(recorded_style));
    if (has_all_bits(current_ex_style, WS_EX_LAYERED) &&
        !has_all_bits(recorded_style, WS_EX_LAYERED)) {
        // A window that stops being layered may go on showing its layered content until it is
        // asked to repaint itself, frame and children included.
        steps.push_back(repaint_step());
    }
    if (record->had_layered_attributes) {
        // Applied even when the recorded style is not layered: the call then fails harmlessly,
        // and deciding otherwise would second-guess what was recorded.
        steps.push_back(layered_attributes_step(record->layered_color, record->layered_alpha,
                                                record->layered_flags));
    } else if (has_all_bits(recorded_style, WS_EX_LAYERED)) {
        // A layered window without attributes is not drawn at all.
        steps.push_back(opaque_step());
    }
    return steps;
}

std::optional<bool> topmost_band_move(std::uint32_t recorded_ex_style, std::uint32_t ex_style_now) {
    const bool recorded_topmost = has_all_bits(recorded_ex_style, WS_EX_TOPMOST);
    if (recorded_topmost == has_all_bits(ex_style_now, WS_EX_TOPMOST)) {
        return std::nullopt;
    }
    return recorded_topmost;
}

std::vector<std::optional<std::size_t>>
pair_taskbar_records(std::span<const std::int64_t> handles,
                     std::span<const TaskbarWindowRecoveryState> records) {
    std::vector<std::optional<std::size_t>> picks(handles.size());
    for (std::size_t position = 0; position < handles.size(); ++position) {
        const auto named =
            std::ranges::find(records, handles[position], &TaskbarWindowRecoveryState::hwnd);
        if (named != records.end()) {
            picks[position] = static_cast<std::size_t>(named - records.begin());
        } else if (position < records.size()) {
            picks[position] = position;
        }
    }
    return picks;
}

std::vector<std::vector<std::size_t>> group_by_thread(std::span<const std::uint32_t> threads) {
    std::vector<std::vector<std::size_t>> groups;
    std::vector<std::uint32_t> group_threads;
    for (std::size_t position = 0; position < threads.size(); ++position) {
        const auto known = std::find(group_threads.begin(), group_threads.end(), threads[position]);
        if (known == group_threads.end()) {
            group_threads.push_back(threads[position]);
            groups.push_back({position});
        } else {
            groups[static_cast<std::size_t>(known - group_threads.begin())].push_back(position);
        }
    }
    return groups;
}

} // namespace watchdog
