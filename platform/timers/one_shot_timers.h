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
// aside). The number of live timers (started, not yet fired or cancelled) is
// bounded; timer_set answers 0 beyond the bound, which is how "the system gives
// no timer" shows up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace tarvo::timers {

using TimerId = uint32_t;
using TimerCallback = std::function<void(TimerId)>;

constexpr size_t kDefaultTimerLimit = 4096;

TimerId timer_set(uint32_t delay_ms, TimerCallback callback);
// Returns true when the timer was still pending (its callback will not run).
bool timer_kill(TimerId id);
bool timer_cancel(TimerId id);

size_t live_timers();
size_t timer_limit();
void set_timer_limit(size_t limit);  // for tests of exhaustion

}  // namespace tarvo::timers
