#include "platform/timers/one_shot_timers.h"

#include <utility>

#include "platform/timers/timer_service.h"

namespace tarvo::timers {

TimerId timer_set(uint32_t delay_ms, TimerCallback callback) {
    return TimerService::instance().set(delay_ms, std::move(callback));
}

bool timer_kill(TimerId id) { return TimerService::instance().kill(id); }

bool timer_cancel(TimerId id) { return TimerService::instance().cancel(id); }

size_t live_timers() { return TimerService::instance().live(); }

size_t timer_limit() { return TimerService::instance().limit(); }

void set_timer_limit(size_t limit) { TimerService::instance().set_limit(limit); }

bool on_timer_thread() { return TimerService::instance().on_timer_thread(); }

}  // namespace tarvo::timers
