#pragma once

// Bounding calls that wait for another thread without limit. SetWindowLongW, SetWindowPos and
// ShowWindow on another thread's window, and the shell's app-bar message, are sent to that
// thread and wait until it has handled them: a thread that has stopped answering holds the
// caller for good. Such calls run on a thread of their own, and the caller waits only so long.

#include <chrono>
#include <functional>

namespace watchdog {

// Runs `work` on a new thread attached to the calling thread's desktop (where the windows it
// acts on are found) and waits at most `limit` for it. True when the work finished in time.
// Work that has not finished is left to its thread, which ends once the window it waits for
// answers, or with the process: the work must therefore own everything it uses. When no thread
// can be created the work runs on the calling thread instead, without a bound.
bool run_within(std::chrono::milliseconds limit, std::function<void()> work);

} // namespace watchdog
