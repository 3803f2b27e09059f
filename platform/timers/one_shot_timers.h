// One-shot timers run by a single timer thread for the whole process.
//
//   id = timer_set(ms, callback)   starts a timer; 0 when none can be had
//   timer_kill(id)                  cancels it; once it returns, the callback
//                                   is not running and will never run (when
//                                   called from that very callback it returns
//                                   at once instead of waiting for itself)
//   timer_cancel(id)                cancels without waiting: the callback will
//                                   not start after this returns, but it may be
//                                   running right now on the timer thread
//
// Ids are never 0 and are not reused while the process lives (32-bit wrap
// aside). By default only memory bounds the number of live timers (started,
// not yet fired or cancelled): timer_set answers 0 when the timer cannot be
// stored or the timer thread cannot be started, which is how "the system gives
// no timer" shows up. Tests may set a lower bound to see that answer.
//
// Callbacks run one at a time on the timer thread, in the order of their due
// times (timers due at the same moment in the order they were set). A callback
// may call timer_set, timer_kill and timer_cancel itself. Never call timer_kill
// while holding a lock that a callback may take: kill waits for a running
// callback, so that would deadlock; release the lock first, or use
// timer_cancel under the lock and timer_kill after releasing it.
//
// The timer thread starts with the first timer_set and stops at process exit;
// timers still pending then are dropped without running.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>

namespace tarvo::timers {

using TimerId = uint32_t;
using TimerCallback = std::function<void(TimerId)>;

constexpr size_t kDefaultTimerLimit = std::numeric_limits<size_t>::max();

TimerId timer_set(uint32_t delay_ms, TimerCallback callback);
// Returns true when the timer was still pending (its callback will not run).
bool timer_kill(TimerId id);
bool timer_cancel(TimerId id);

size_t live_timers();
size_t timer_limit();
void set_timer_limit(size_t limit);  // for tests of exhaustion

// True on the timer thread, i.e. inside a timer callback.
bool on_timer_thread();

}  // namespace tarvo::timers
