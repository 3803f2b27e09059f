// The worker's wake-up: a signal makes the eventfd readable until a drain,
// however signals and drains interleave across threads, so no wake-up is
// lost and none lingers to make a poll spin.
#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "driver/line/wake_event.h"

namespace tarvo {
namespace {

bool readable(const WakeEvent& w) {
    pollfd p{w.fd(), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

TEST(WakeEvent, ASignalIsReadableUntilDrained) {
    WakeEvent w;
    ASSERT_GE(w.fd(), 0);
    EXPECT_FALSE(readable(w));
    w.drain();  // nothing signalled: nothing to read, nothing changes
    EXPECT_FALSE(readable(w));
    w.signal();
    w.signal();
    EXPECT_TRUE(readable(w));
    w.drain();
    EXPECT_FALSE(readable(w)) << "one drain takes every signal before it";
    w.signal();
    w.clear();
    EXPECT_FALSE(readable(w));
    w.signal();
    w.wait(1000);  // returns at once and drains
    EXPECT_FALSE(readable(w));
}

TEST(WakeEvent, EverySignalAfterADrainIsSeen) {
    // A signaller bumps a counter, then signals; the worker waits and reads
    // the counter. Whenever the counter is ahead of what the worker saw, a
    // signal is on its way or waiting, so the wait must end at once, never
    // after its whole timeout.
    WakeEvent w;
    std::atomic<int> count{0};
    std::thread signaller([&] {
        for (int i = 0; i < 20000; ++i) {
            count.fetch_add(1);
            w.signal();
        }
    });
    int seen = 0;
    while (seen < 20000) {
        if (count.load() == seen) {
            std::this_thread::yield();
            continue;
        }
        const auto start = std::chrono::steady_clock::now();
        w.wait(3000);
        ASSERT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "a wake-up was lost";
        seen = count.load();
    }
    signaller.join();
    w.wait(0);
    EXPECT_FALSE(readable(w));
}

}  // namespace
}  // namespace tarvo
