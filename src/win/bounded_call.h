#pragma once

// Bounding calls that wait for another thread without limit: SetWindowLongW, SetWindowPos and
// ShowWindow on another thread's window, and the shell's app-bar message, wait until that thread
// has handled them. Such calls run on a worker thread, and the caller waits only so long.

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include <windows.h>

namespace watchdog {

struct WorkerState;

// A thread on the desktop of the thread that started it (where the calls' windows are) that makes
// calls one after another. It ends when its owner goes, or, when a call overran, once that one has.
struct BoundedWorker {
    std::shared_ptr<WorkerState> state;

    BoundedWorker() = default;
    BoundedWorker(BoundedWorker&&) = default;
    BoundedWorker& operator=(BoundedWorker&&) = default;
    ~BoundedWorker();
};

// A worker whose thread starts now: readying a thread for window calls costs about a millisecond
// under Wine, better spent while the watcher waits than after the main application has ended.
BoundedWorker start_bounded_worker();

enum class BoundedRun {
    finished,    // every call was made in time
    timed_out,   // the time ran out first
    interrupted, // `interrupt` was signalled first
};

// Hands `calls` to the worker in one hand-off (starting its thread when it has none), to be made in
// order, and waits at most `limit` for them, or until `interrupt` (when given) is signalled. Calls
// not yet begun then are dropped; the one under way is left to its thread, which finishes it when
// what it waits for answers or the process ends, so the calls must own everything they use; the
// next run gets a new thread. Without a thread, the calls are made on the calling one, unbounded.
BoundedRun run_bounded(BoundedWorker& worker, std::chrono::milliseconds limit,
                       std::vector<std::function<void()>> calls, HANDLE interrupt = nullptr);

} // namespace watchdog
