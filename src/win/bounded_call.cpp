#include "win/bounded_call.h"

#include "win/unique_resource.h"

#include <windows.h>

#include <memory>

namespace watchdog {
namespace {

struct BoundedWork {
    std::function<void()> work;
    HDESK desktop = nullptr;
};

DWORD WINAPI run_bounded_work(void* parameter) {
    const std::unique_ptr<BoundedWork> bounded(static_cast<BoundedWork*>(parameter));
    if (bounded->desktop != nullptr) {
        SetThreadDesktop(bounded->desktop);
    }
    // Nobody is left to hear about a failure here; it must not end the process either.
    try {
        bounded->work();
    } catch (...) {
    }
    return 0;
}

} // namespace

bool run_within(std::chrono::milliseconds limit, std::function<void()> work) {
    auto bounded = std::make_unique<BoundedWork>(
        BoundedWork{std::move(work), GetThreadDesktop(GetCurrentThreadId())});
    const UniqueHandle thread(
        CreateThread(nullptr, 0, run_bounded_work, bounded.get(), 0, nullptr));
    if (!thread) {
        bounded->work();
        return true;
    }
    static_cast<void>(bounded.release()); // the thread owns it now
    const auto milliseconds = static_cast<DWORD>(limit.count() < 0 ? 0 : limit.count());
    return WaitForSingleObject(thread.get(), milliseconds) == WAIT_OBJECT_0;
}

} // namespace watchdog
