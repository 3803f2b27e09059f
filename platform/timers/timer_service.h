// The process's one timer thread and the table of pending one-shot timers
// behind the free functions of one_shot_timers.h.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/timers/one_shot_timers.h"

namespace tarvo::timers {

class TimerService {
public:
    // The process-wide service. It is never destroyed (so a call that comes
    // late during process exit still finds valid memory); its thread is
    // stopped and joined by a companion static at exit, see instance().
    static TimerService& instance();

    TimerId set(uint32_t delay_ms, TimerCallback callback);
    bool kill(TimerId id);
    bool cancel(TimerId id);

    size_t live() const;
    size_t limit() const;
    void set_limit(size_t limit);
    bool on_timer_thread() const;

    // Drops every pending timer, waits for a running callback and joins the
    // thread. Afterwards timer_set answers 0. Called once, at process exit.
    void shutdown();

private:
    using Clock = std::chrono::steady_clock;

    // Due time, then the order of setting: timers due together fire in the
    // order they were set.
    struct Key {
        Clock::time_point due;
        uint64_t sequence;
        bool operator<(const Key& other) const {
            return due != other.due ? due < other.due : sequence < other.sequence;
        }
    };
    struct Pending {
        Key key;
        TimerCallback callback;
    };

    TimerService() = default;
    void run();
    TimerId next_id_locked();
    // Removes a pending timer; its callback is moved to `dropped` so that the
    // caller can destroy it after releasing the lock.
    bool remove_pending_locked(TimerId id, TimerCallback& dropped);

    mutable std::mutex mutex_;
    std::condition_variable wake_;      // the timer thread: a new first timer, or stop
    std::condition_variable finished_;  // killers: the running callback has returned
    std::map<Key, TimerId> queue_;      // pending timers by due time
    std::unordered_map<TimerId, Pending> pending_;
    TimerId last_id_ = 0;
    uint64_t sequence_ = 0;
    TimerId running_ = 0;               // id whose callback runs now, 0 when none
    // Until when the timer thread sleeps: a new timer due before it wakes the
    // thread, one due later does not (the thread finds it when it wakes).
    // The minimum while the thread is awake, the maximum while it sleeps
    // with nothing pending.
    Clock::time_point sleeps_until_ = Clock::time_point::min();
    size_t limit_ = kDefaultTimerLimit;
    bool stopping_ = false;
    std::thread thread_;
    std::thread::id thread_id_;
};

}  // namespace tarvo::timers
