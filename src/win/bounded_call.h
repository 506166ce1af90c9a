#pragma once

// Bounding calls that wait for another thread without limit. SetWindowLongW, SetWindowPos and
// ShowWindow on another thread's window, and the shell's app-bar message, are sent to that
// thread and wait until it has handled them: a thread that has stopped answering holds the
// caller for good. Such calls run on a worker thread, and the caller waits only so long.

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace watchdog {

struct WorkerState;

// A thread, attached to the desktop of the thread that started it (where the windows that the
// calls act on are found), that makes calls one after another. It ends when the owner goes
// away, or, when a call did not finish in time, once that call has.
struct BoundedWorker {
    std::shared_ptr<WorkerState> state;

    BoundedWorker() = default;
    BoundedWorker(BoundedWorker&&) = default;
    BoundedWorker& operator=(BoundedWorker&&) = default;
    ~BoundedWorker();
};

// Starts a worker ahead of time, for a process that will need one and has time now: a new
// thread that is readied for window calls costs about a millisecond under Wine, better spent
// while the watcher waits than after the main application has ended.
void prepare_bounded_worker();

// The worker prepared ahead of time, if there is one; otherwise an empty one that starts its
// thread on its first call.
BoundedWorker take_bounded_worker();

// Makes `work` on the worker (starting one when there is none) and waits at most `limit` for
// it. True when it finished in time. Work that has not is left to its thread, which finishes it
// whenever the window it waits for answers, or ends with the process: the work must therefore
// own everything it uses. The next call then gets a new thread. When no thread can be started
// the work runs on the calling thread instead, without a bound.
bool run_within(BoundedWorker& worker, std::chrono::milliseconds limit, std::function<void()> work);

// The same for calls that are handed to the worker at once and made in order, so that calls
// waiting for one thread cost one hand-off between threads, not one each. True when all of
// them finished within `limit`. The calls not yet begun when the time runs out are dropped;
// only the one under way is left to finish.
bool run_within(BoundedWorker& worker, std::chrono::milliseconds limit,
                std::vector<std::function<void()>> calls);

// For measurement only: every later run_within makes its calls on the calling thread, without
// a bound, so that a benchmark can put the cost of the hand-offs beside direct calls.
void make_bounded_calls_direct();

} // namespace watchdog
