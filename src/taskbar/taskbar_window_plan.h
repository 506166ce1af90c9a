#pragma once

#include "marker/records.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace watchdog {

// One change to a taskbar window: its extended style (SetWindowLongW), its layered attributes
// (SetLayeredWindowAttributes), or the repaint (RedrawWindow) it owes once no longer layered.
struct TaskbarWindowStep {
    enum class Kind { set_ex_style, set_layered_attributes, repaint };
    Kind kind = Kind::set_ex_style;
    std::uint32_t ex_style = 0;
    std::uint32_t color = 0;
    std::uint8_t alpha = 0;
    std::uint32_t flags = 0; // LWA_ flags of the attributes, RDW_ flags of the repaint

    bool operator==(const TaskbarWindowStep&) const = default;
};

TaskbarWindowStep ex_style_step(std::uint32_t ex_style);
TaskbarWindowStep layered_attributes_step(std::uint32_t color, std::uint8_t alpha,
                                          std::uint32_t flags);
TaskbarWindowStep repaint_step();

// The style and attribute changes for a window whose extended style reads `current_ex_style`,
// in the order they are to be made; `record` is null when no record fell to the window.
// Showing the window and recalculating its frame always follow and are not part of the plan.
std::vector<TaskbarWindowStep>
plan_taskbar_window_restore(std::uint32_t current_ex_style,
                            const TaskbarWindowRecoveryState* record);

// Whether a window whose style reads `ex_style_now` after the plan must still move into the
// topmost band (true) or out of it (false) to match `recorded_ex_style`; none when it is where it
// was recorded. SetWindowLongW never changes WS_EX_TOPMOST: only SetWindowPos moves between bands.
std::optional<bool> topmost_band_move(std::uint32_t recorded_ex_style, std::uint32_t ex_style_now);

// For every found window, in the order of `handles`, the index of its record: the first naming
// its handle, else the one at its position, else none. A record taken by position is used even
// when another window took it by handle: recorded handles only tell while they name windows now.
std::vector<std::optional<std::size_t>>
pair_taskbar_records(std::span<const std::int64_t> handles,
                     std::span<const TaskbarWindowRecoveryState> records);

// The positions of the found windows grouped by owning thread, in order of first appearance, each
// group in list order: every hand-off to another thread costs a wake-up, slow on a busy machine.
std::vector<std::vector<std::size_t>> group_by_thread(std::span<const std::uint32_t> threads);

} // namespace watchdog
