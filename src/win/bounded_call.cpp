#include "win/bounded_call.h"

#include "win/unique_resource.h"

#include <windows.h>

#include <mutex>

namespace watchdog {

struct WorkerState {
    std::mutex mutex;
    std::function<void()> work; // the call waiting to be made
    bool stop = false;          // end once the call being made, if any, is over
    UniqueHandle wake = UniqueHandle(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    UniqueHandle done = UniqueHandle(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    HDESK desktop = GetThreadDesktop(GetCurrentThreadId());
};

namespace {

// The next call, or nothing when the worker is to end.
std::function<void()> next_call(WorkerState& state) {
    const std::lock_guard lock(state.mutex);
    if (state.stop) {
        return {};
    }
    return std::exchange(state.work, nullptr);
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
        const std::function<void()> work = next_call(state);
        if (!work) {
            return 0;
        }
        // Nobody is left to hear about a failure here; it must not end the process either.
        try {
            work();
        } catch (...) {
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

std::mutex prepared_mutex;
std::shared_ptr<WorkerState> prepared_worker;

} // namespace

void prepare_bounded_worker() {
    auto state = start_worker();
    const std::lock_guard lock(prepared_mutex);
    if (!prepared_worker) {
        prepared_worker = std::move(state);
    }
}

BoundedWorker take_bounded_worker() {
    BoundedWorker worker;
    const std::lock_guard lock(prepared_mutex);
    worker.state = std::move(prepared_worker);
    return worker;
}

BoundedWorker::~BoundedWorker() {
    if (state) {
        stop_after_current_call(*state);
    }
}

bool run_within(BoundedWorker& worker, std::chrono::milliseconds limit,
                std::function<void()> work) {
    if (!worker.state) {
        worker.state = start_worker();
    }
    if (!worker.state) {
        work();
        return true;
    }
    WorkerState& state = *worker.state;
    {
        const std::lock_guard lock(state.mutex);
        state.work = std::move(work);
    }
    SetEvent(state.wake.get());
    const auto milliseconds = static_cast<DWORD>(limit.count() < 0 ? 0 : limit.count());
    if (WaitForSingleObject(state.done.get(), milliseconds) == WAIT_OBJECT_0) {
        return true;
    }
    // The thread is held by a call that has not returned: it ends once that call does, and the
    // next call gets a thread of its own.
    stop_after_current_call(state);
    worker.state.reset();
    return false;
}

} // namespace watchdog
