// The worker's wake-up: a signal ends a wait in progress or keeps the next
// one from waiting, however signals and waits interleave across threads, so
// no wake-up is lost and none lingers to make a poll spin.
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

TEST(WakeEvent, ASignalIsAFlagForABusyWorkerAndAWriteForAWaitingOne) {
    WakeEvent w;
    ASSERT_GE(w.fd(), 0);
    EXPECT_EQ(w.begin_wait(1000), 1000) << "nothing signalled: the poll may wait";
    w.end_wait();
    // Busy (not between begin_wait and end_wait): no write, the next poll
    // does not wait.
    w.signal();
    w.signal();
    EXPECT_FALSE(readable(w)) << "a busy worker's wake-up costs no write";
    EXPECT_EQ(w.begin_wait(1000), 0);
    w.end_wait();
    EXPECT_EQ(w.begin_wait(-1), -1) << "end_wait took the signals";
    // Waiting: the eventfd is written, and taken when the wait ends.
    w.signal();
    EXPECT_TRUE(readable(w));
    w.end_wait();
    EXPECT_FALSE(readable(w));
    // A poll that found it readable reads it whatever the flags say.
    EXPECT_EQ(w.begin_wait(-1), -1);
    w.signal();
    w.end_wait(true);
    EXPECT_FALSE(readable(w));
    EXPECT_EQ(w.begin_wait(5), 5);
    w.end_wait();
    w.drain();  // nothing signalled: nothing to read, nothing changes
    EXPECT_FALSE(readable(w));
    w.signal();
    const auto start = std::chrono::steady_clock::now();
    w.wait(2000);  // returns at once and drains
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(w.begin_wait(7), 7);
    w.end_wait();
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
