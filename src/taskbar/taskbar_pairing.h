#pragma once

#include "marker/records.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace watchdog {

// For every found window, in the order of `handles`, the index of its record: the first record
// naming its handle, else the record at the same position, else none. A record taken by position
// is used even when another found window already took it by handle, because the recorded handles
// only say something while they still name the windows found now.
std::vector<std::optional<std::size_t>>
pair_taskbar_records(std::span<const std::int64_t> handles,
                     std::span<const TaskbarWindowRecoveryState> records);

// The positions of the found windows grouped by the thread that owns each, the threads in the
// order in which they first appear and each group in list order. A thread's windows go to it
// together: every hand-off to another thread costs a wake-up, which a busy machine makes slow.
std::vector<std::vector<std::size_t>> group_by_thread(std::span<const std::uint32_t> threads);

} // namespace watchdog
