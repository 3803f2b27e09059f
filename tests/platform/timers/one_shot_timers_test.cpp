#include "platform/timers/one_shot_timers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace tarvo::timers {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A one-time signal between threads with a bounded wait, so that a broken
// timer fails the test instead of hanging it.
class Signal {
public:
    void raise() { promise_.set_value(); }
    bool wait(std::chrono::milliseconds limit = 2000ms) {
        return future_.wait_for(limit) == std::future_status::ready;
    }

private:
    std::promise<void> promise_;
    std::shared_future<void> future_ = promise_.get_future().share();
};

// Polls until `done` holds or two seconds pass.
template <class Pred>
bool eventually(Pred done) {
    const auto end = Clock::now() + 2s;
    while (!done()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Returns once every callback due by now has run and returned: callbacks run
// one after another on the one timer thread, so a callback due now comes last.
// Tests call it before their stack objects that callbacks touch go away.
void settle() {
    std::atomic<bool> ran{false};
    const TimerId id = timer_set(0, [&](TimerId) { ran = true; });
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(eventually([&] { return ran.load(); }));
    timer_kill(id);
}

TEST(OneShotTimers, FireOnceInOrderOfDueTimeAndNotEarly) {
    std::mutex mutex;
    std::vector<int> order;
    std::vector<Clock::duration> elapsed;
    const auto start = Clock::now();
    Signal last;
    auto record = [&](int tag) {
        return [&, tag](TimerId) {
            std::lock_guard<std::mutex> lock(mutex);
            order.push_back(tag);
            elapsed.push_back(Clock::now() - start);
            if (order.size() == 4) last.raise();
        };
    };
    ASSERT_NE(timer_set(60, record(60)), 0u);
    ASSERT_NE(timer_set(20, record(20)), 0u);
    ASSERT_NE(timer_set(40, record(40)), 0u);
    ASSERT_NE(timer_set(0, record(0)), 0u);
    ASSERT_TRUE(last.wait());
    std::this_thread::sleep_for(20ms);  // a second firing would show up here
    settle();

    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(order, (std::vector<int>{0, 20, 40, 60}));
    for (size_t i = 0; i < order.size(); ++i) {
        EXPECT_GE(elapsed[i], std::chrono::milliseconds(order[i])) << "timer " << order[i];
        EXPECT_LT(elapsed[i], 2s) << "timer " << order[i];
    }
}

TEST(OneShotTimers, AnEarlierTimerWakesTheSleepingThreadALaterOneWaitsForIt) {
    // The thread sleeps until the far timer: a nearer one must wake it.
    const TimerId far = timer_set(5000, [](TimerId) {});
    ASSERT_NE(far, 0u);
    std::this_thread::sleep_for(10ms);  // the thread is asleep by now
    Signal near_fired;
    auto start = Clock::now();
    ASSERT_NE(timer_set(30, [&](TimerId) { near_fired.raise(); }), 0u);
    ASSERT_TRUE(near_fired.wait(1000ms)) << "the nearer timer waited for the far one";
    EXPECT_GE(Clock::now() - start, 30ms);
    // Cancelled before it is due, a timer leaves the thread to wake for
    // nothing; one set meanwhile for later still fires, on time.
    const TimerId gone = timer_set(30, [](TimerId) { ADD_FAILURE() << "a cancelled timer fired"; });
    ASSERT_NE(gone, 0u);
    ASSERT_TRUE(timer_cancel(gone));
    Signal later_fired;
    start = Clock::now();
    ASSERT_NE(timer_set(60, [&](TimerId) { later_fired.raise(); }), 0u);
    ASSERT_TRUE(later_fired.wait(1000ms));
    EXPECT_GE(Clock::now() - start, 60ms);
    EXPECT_TRUE(timer_kill(far));
    settle();
}

TEST(OneShotTimers, IdsAreNonZeroAndDistinct) {
    std::set<TimerId> ids;
    for (int i = 0; i < 500; ++i) {
        const TimerId id = timer_set(60000, [](TimerId) {});
        ASSERT_NE(id, 0u);
        EXPECT_TRUE(ids.insert(id).second) << "id " << id << " given twice";
        if (i % 2 == 0) {
            EXPECT_TRUE(timer_cancel(id));
        }
    }
    for (TimerId id : ids) timer_cancel(id);
    EXPECT_EQ(live_timers(), 0u);
}

TEST(OneShotTimers, CallbackReceivesItsOwnIdAndRunsOnTheTimerThread) {
    std::promise<std::pair<TimerId, bool>> seen;
    EXPECT_FALSE(on_timer_thread());
    const TimerId id = timer_set(1, [&](TimerId fired) { seen.set_value({fired, on_timer_thread()}); });
    auto future = seen.get_future();
    ASSERT_EQ(future.wait_for(2s), std::future_status::ready);
    const auto [fired, on_thread] = future.get();
    EXPECT_EQ(fired, id);
    EXPECT_TRUE(on_thread);
    settle();
}

TEST(OneShotTimers, KillAndCancelOfPendingTimerPreventTheCallback) {
    std::atomic<int> runs{0};
    const TimerId killed = timer_set(30, [&](TimerId) { ++runs; });
    const TimerId cancelled = timer_set(30, [&](TimerId) { ++runs; });
    Signal later;
    ASSERT_NE(timer_set(80, [&](TimerId) { later.raise(); }), 0u);
    EXPECT_TRUE(timer_kill(killed));
    EXPECT_TRUE(timer_cancel(cancelled));
    EXPECT_FALSE(timer_kill(killed)) << "second kill finds nothing";
    EXPECT_FALSE(timer_cancel(cancelled));
    EXPECT_FALSE(timer_kill(0));
    EXPECT_FALSE(timer_cancel(0));
    ASSERT_TRUE(later.wait());
    settle();
    EXPECT_EQ(runs.load(), 0);
}

TEST(OneShotTimers, KillOfFiredTimerReturnsFalse) {
    Signal fired;
    const TimerId id = timer_set(0, [&](TimerId) { fired.raise(); });
    ASSERT_TRUE(fired.wait());
    EXPECT_TRUE(eventually([] { return live_timers() == 0; }));
    EXPECT_FALSE(timer_kill(id));
    EXPECT_FALSE(timer_cancel(id));
}

TEST(OneShotTimers, KillFromAnotherThreadWaitsForTheRunningCallback) {
    Signal started;
    std::atomic<bool> finished{false};
    const TimerId id = timer_set(0, [&](TimerId) {
        started.raise();
        std::this_thread::sleep_for(100ms);
        finished = true;
    });
    ASSERT_TRUE(started.wait());
    EXPECT_FALSE(timer_kill(id));  // too late to prevent it ...
    EXPECT_TRUE(finished.load());  // ... but it has returned
}

TEST(OneShotTimers, KillWaitsUntilTheCallbacksCapturesAreGone) {
    // A line's timer callback holds what it needs; after kill the line may be
    // freed, so nothing the callback captured may still be alive.
    auto guard = std::make_shared<int>(7);
    std::weak_ptr<int> watch = guard;
    Signal started;
    const TimerId id = timer_set(0, [guard = std::move(guard), &started](TimerId) {
        started.raise();
        std::this_thread::sleep_for(30ms);
    });
    ASSERT_TRUE(started.wait());
    timer_kill(id);
    EXPECT_TRUE(watch.expired());
}

TEST(OneShotTimers, KillFromTheOwnCallbackDoesNotWaitForItself) {
    std::promise<bool> result;
    timer_set(0, [&](TimerId self) { result.set_value(timer_kill(self)); });
    auto future = result.get_future();
    ASSERT_EQ(future.wait_for(2s), std::future_status::ready) << "self-kill deadlocked";
    EXPECT_FALSE(future.get());
    settle();
}

TEST(OneShotTimers, CallbackCanKillAnotherTimerAndSetANewOne) {
    std::atomic<int> victim_runs{0};
    Signal rearmed;
    const TimerId victim = timer_set(50, [&](TimerId) { ++victim_runs; });
    std::promise<bool> killed;
    timer_set(0, [&](TimerId) {
        killed.set_value(timer_kill(victim));
        timer_set(60, [&](TimerId) { rearmed.raise(); });
    });
    EXPECT_TRUE(killed.get_future().get());
    ASSERT_TRUE(rearmed.wait());
    settle();
    EXPECT_EQ(victim_runs.load(), 0);
}

TEST(OneShotTimers, CancelDoesNotWaitForTheRunningCallback) {
    Signal started;
    Signal release;
    Signal done;
    const TimerId id = timer_set(0, [&](TimerId) {
        started.raise();
        release.wait();  // holds until the test has seen cancel return
        done.raise();
    });
    ASSERT_TRUE(started.wait());
    EXPECT_FALSE(timer_cancel(id));  // returns at once although the callback runs
    release.raise();
    ASSERT_TRUE(done.wait());
    timer_kill(id);  // let the callback leave before the signals go out of scope
}

TEST(OneShotTimers, ThrowingCallbackLeavesTheTimerThreadRunning) {
    timer_set(0, [](TimerId) { throw 42; });
    Signal next;
    timer_set(10, [&](TimerId) { next.raise(); });
    EXPECT_TRUE(next.wait());
    settle();
}

TEST(OneShotTimers, LimitOfLiveTimersGivesZeroAndRecovers) {
    const size_t saved = timer_limit();
    ASSERT_EQ(saved, kDefaultTimerLimit);
    ASSERT_EQ(live_timers(), 0u);
    set_timer_limit(3);
    std::vector<TimerId> ids;
    for (int i = 0; i < 3; ++i) ids.push_back(timer_set(60000, [](TimerId) {}));
    for (TimerId id : ids) EXPECT_NE(id, 0u);
    EXPECT_EQ(live_timers(), 3u);
    EXPECT_EQ(timer_set(1, [](TimerId) {}), 0u) << "the fourth live timer must be refused";
    EXPECT_EQ(live_timers(), 3u);

    EXPECT_TRUE(timer_cancel(ids[0]));
    const TimerId again = timer_set(60000, [](TimerId) {});
    EXPECT_NE(again, 0u) << "a freed place can be used again";
    ids[0] = again;

    // A fired timer frees its place too.
    EXPECT_TRUE(timer_kill(ids[1]));
    Signal fired;
    ASSERT_NE(timer_set(0, [&](TimerId) { fired.raise(); }), 0u);
    ASSERT_TRUE(fired.wait());
    EXPECT_TRUE(eventually([] { return live_timers() == 2; }));
    settle();

    for (TimerId id : ids) timer_kill(id);
    set_timer_limit(saved);
    EXPECT_EQ(live_timers(), 0u);
}

TEST(OneShotTimers, ManyThreadsSettingKillingAndFiring) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 250;
    constexpr int kTotal = kThreads * kPerThread;
    std::vector<std::atomic<int>> runs(kTotal);
    std::vector<std::atomic<bool>> prevented(kTotal);
    std::atomic<int> refused{0};

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                const int slot = t * kPerThread + i;
                const TimerId id = timer_set(static_cast<uint32_t>(i % 7), [&, slot](TimerId) { ++runs[slot]; });
                if (id == 0) {
                    ++refused;
                    continue;
                }
                if (i % 3 == 0) prevented[slot] = t % 2 == 0 ? timer_kill(id) : timer_cancel(id);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(refused.load(), 0);
    auto settled = [&] {
        for (int i = 0; i < kTotal; ++i) {
            if (!prevented[i] && runs[i] == 0) return false;
        }
        return true;
    };
    ASSERT_TRUE(eventually(settled)) << "some timers never fired";
    settle();
    for (int i = 0; i < kTotal; ++i) {
        EXPECT_EQ(runs[i].load(), prevented[i] ? 0 : 1) << "timer " << i;
    }
    EXPECT_TRUE(eventually([] { return live_timers() == 0; }));
}

TEST(OneShotTimersDeathTest, ProcessExitsCleanlyWithRunningAndPendingTimers) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Signal started;
            timer_set(60000, [](TimerId) { std::abort(); });  // dropped at exit
            timer_set(0, [&](TimerId) {
                started.raise();
                std::this_thread::sleep_for(50ms);
            });
            if (!started.wait()) std::abort();
            std::exit(3);
        },
        testing::ExitedWithCode(3), "");
}

}  // namespace
}  // namespace tarvo::timers
