#include "taskbar/taskbar_pairing.h"

namespace watchdog {

std::optional<std::size_t>
pick_taskbar_record(std::int64_t handle, std::size_t position,
                    std::span<const TaskbarWindowRecoveryState> records) {
    for (std::size_t index = 0; index < records.size(); ++index) {
        if (records[index].hwnd == handle) {
            return index;
        }
    }
    if (position < records.size()) {
        return position;
    }
    return std::nullopt;
}

std::vector<std::optional<std::size_t>>
pair_taskbar_records(std::span<const std::int64_t> handles,
                     std::span<const TaskbarWindowRecoveryState> records) {
    std::vector<std::optional<std::size_t>> picks;
    picks.reserve(handles.size());
    for (std::size_t position = 0; position < handles.size(); ++position) {
        picks.push_back(pick_taskbar_record(handles[position], position, records));
    }
    return picks;
}

} // namespace watchdog
