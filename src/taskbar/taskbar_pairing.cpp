#include "taskbar/taskbar_pairing.h"

#include <algorithm>

namespace watchdog {

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
