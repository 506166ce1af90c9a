#include "win/bounded_call.h"

#include "win/unique_resource.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>

namespace watchdog {
namespace {

using namespace std::chrono_literals;

// What the calls of a hand-off share with the test. The calls own it too: a worker that
// outlives the test must not reach into its frame.
struct HandOff {
    UniqueHandle release = UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle worker_thread;
    std::atomic<int> later_calls{0};
};

// The worker must neither make the calls after the one under way when its caller has stopped
// waiting (nobody stands behind them any more) nor stay behind once that call has returned.
TEST(BoundedWorker, AHandOffGivenUpOnEndsWithTheCallUnderWay) {
    const auto hand_off = std::make_shared<HandOff>();
    BoundedWorker worker;
    // A first hand-off starts the worker and names its thread.
    ASSERT_TRUE(run_within(worker, 10s, [hand_off] {
        hand_off->worker_thread.reset(OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId()));
    }));
    ASSERT_TRUE(hand_off->worker_thread);
    // The first call holds the worker the way a call to a window whose thread has stopped does.
    std::vector<std::function<void()>> calls{
        [hand_off] { WaitForSingleObject(hand_off->release.get(), INFINITE); },
        [hand_off] { ++hand_off->later_calls; },
        [hand_off] {
            ++hand_off->later_calls;
        }};

    EXPECT_FALSE(run_within(worker, 200ms, std::move(calls)));
    SetEvent(hand_off->release.get());

    EXPECT_EQ(WaitForSingleObject(hand_off->worker_thread.get(), 10000), WAIT_OBJECT_0)
        << "the worker stayed behind";
    EXPECT_EQ(hand_off->later_calls, 0);
}

} // namespace
} // namespace watchdog
