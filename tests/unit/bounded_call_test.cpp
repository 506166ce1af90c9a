#include "win/bounded_call.h"

#include "win/unique_resource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace watchdog {
namespace {

using namespace std::chrono_literals;

// Once its caller has stopped waiting, the worker makes none of the calls after the one under
// way and does not stay behind when that call returns. The calls own what they share with the
// test: a worker that outlived it must not reach into its frame.
TEST(BoundedWorker, AHandOffGivenUpOnEndsWithTheCallUnderWay) {
    struct Shared {
        UniqueHandle release = UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        UniqueHandle thread;
        std::atomic<int> later_calls{0};
    };
    const auto shared = std::make_shared<Shared>();
    BoundedWorker worker;
    ASSERT_EQ(run_bounded(worker, 10s, {[shared] {
                              shared->thread.reset(
                                  OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId()));
                          }}),
              BoundedRun::finished);
    const auto held = [shared] {
        WaitForSingleObject(shared->release.get(), INFINITE);
    };
    const auto later = [shared] {
        ++shared->later_calls;
    };

    EXPECT_EQ(run_bounded(worker, 200ms, {held, later, later}), BoundedRun::timed_out);
    SetEvent(shared->release.get());

    EXPECT_EQ(WaitForSingleObject(shared->thread.get(), 10000), WAIT_OBJECT_0) << "stayed behind";
    EXPECT_EQ(shared->later_calls, 0);
}

// A wait for the worker gives way at once when what it was told to watch (the main process) is
// signalled, and the next run gets a thread of its own.
TEST(BoundedWorker, AnInterruptEndsTheWaitAtOnce) {
    const auto release =
        std::make_shared<UniqueHandle>(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const UniqueHandle interrupt(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    BoundedWorker worker = start_bounded_worker();
    EXPECT_EQ(run_bounded(worker, 10s, {[release] {
                              WaitForSingleObject(release->get(), 10000);
                          }},
                          interrupt.get()),
              BoundedRun::interrupted);
    EXPECT_EQ(run_bounded(worker, 10s, {[] {
                          }}),
              BoundedRun::finished)
        << "the next run waits behind the held one";
    SetEvent(release->get());
}

} // namespace
} // namespace watchdog
