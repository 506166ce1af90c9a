#include "win/bounded_call.h"

#include "win/unique_resource.h"

#include <windows.h>

#include <mutex>

namespace watchdog {

struct WorkerState {
    std::mutex mutex;
    std::vector<std::function<void()>> calls; // the calls waiting to be made, in order
    bool stop = false;                        // end once the call being made, if any, is over
    UniqueHandle wake = UniqueHandle(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    UniqueHandle done = UniqueHandle(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    HDESK desktop = GetThreadDesktop(GetCurrentThreadId());
};

namespace {

// The calls handed over, or nothing when the worker is to end.
std::vector<std::function<void()>> take_calls(WorkerState& state) {
    const std::lock_guard lock(state.mutex);
    if (state.stop) {
        return {};
    }
    return std::exchange(state.calls, {});
}

bool is_stopped(WorkerState& state) {
    const std::lock_guard lock(state.mutex);
    return state.stop;
}

DWORD WINAPI run_worker(void* parameter) {
    // The thread shares the state with its owner, which may have gone long before a call that
    // waited for a hung window returns.
    const std::unique_ptr<std::shared_ptr<WorkerState>> shared(
        static_cast<std::shared_ptr<WorkerState>*>(parameter));
    WorkerState& state = **shared;
    if (state.desktop != nullptr) {
        SetThreadDesktop(state.desktop);
    }
    // Sets up what a thread needs for window calls now rather than in the first call.
    IsGUIThread(TRUE);
    while (WaitForSingleObject(state.wake.get(), INFINITE) == WAIT_OBJECT_0) {
        const auto calls = take_calls(state);
        if (calls.empty()) {
            return 0;
        }
        for (const auto& call : calls) {
            // The owner stopped waiting: the calls left are dropped.
            if (is_stopped(state)) {
                return 0;
            }
            // Nobody is left to hear about a failure here; it must not end the process either.
            try {
                call();
            } catch (...) {
            }
        }
        SetEvent(state.done.get());
    }
    return 0;
}

std::shared_ptr<WorkerState> start_worker() {
    auto state = std::make_shared<WorkerState>();
    if (!state->wake || !state->done) {
        return nullptr;
    }
    auto shared = std::make_unique<std::shared_ptr<WorkerState>>(state);
    const UniqueHandle thread(CreateThread(nullptr, 0, run_worker, shared.get(), 0, nullptr));
    if (!thread) {
        return nullptr;
    }
    static_cast<void>(shared.release()); // the thread owns it now
    return state;
}

void stop_after_current_call(WorkerState& state) {
    {
        const std::lock_guard lock(state.mutex);
        state.stop = true;
    }
    SetEvent(state.wake.get());
}

} // namespace

BoundedWorker start_bounded_worker() {
    BoundedWorker worker;
    worker.state = start_worker();
    return worker;
}

BoundedWorker::~BoundedWorker() {
    if (state) {
        stop_after_current_call(*state);
    }
}

BoundedRun run_bounded(BoundedWorker& worker, std::chrono::milliseconds limit,
                       std::vector<std::function<void()>> calls, HANDLE interrupt) {
    if (!worker.state) {
        worker.state = start_worker();
    }
    if (!worker.state) {
        for (const auto& call : calls) {
            call();
        }
        return BoundedRun::finished;
    }
    if (calls.empty()) {
        return BoundedRun::finished;
    }
    WorkerState& state = *worker.state;
    {
        const std::lock_guard lock(state.mutex);
        state.calls = std::move(calls);
    }
    SetEvent(state.wake.get());
    const auto milliseconds = static_cast<DWORD>(limit.count() < 0 ? 0 : limit.count());
    const HANDLE waits[] = {state.done.get(), interrupt};
    const DWORD woken =
        WaitForMultipleObjects(interrupt != nullptr ? 2 : 1, waits, FALSE, milliseconds);
    if (woken == WAIT_OBJECT_0) {
        return BoundedRun::finished;
    }
    // The thread is held by a call that has not returned: it ends once that call does, and the
    // next run gets a thread of its own.
    stop_after_current_call(state);
    worker.state.reset();
    return woken == WAIT_OBJECT_0 + 1 ? BoundedRun::interrupted : BoundedRun::timed_out;
}

} // namespace watchdog
