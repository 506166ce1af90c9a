#include "taskbar/taskbar_pairing.h"

#include <algorithm>

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
