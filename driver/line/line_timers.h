// A line's one-shot timers (T3, T4, T5, T7, ...) on the process's timer thread.
//
// A callback reaches its line only through a shared anchor, which detach()
// cuts and then waits for callbacks in flight, so no callback ever touches a
// freed line. Each timer carries a kind that the line's handler tells apart.
//
// A line keeps each timer's id in a slot of its own state and calls set, kill
// and fired with its state lock held; set never waits and kill cancels
// without waiting (a callback already running finds its id gone from the
// line's state and does nothing), so no timer call waits under a lock.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "driver/line/line_events.h"
#include "platform/timers/one_shot_timers.h"

namespace tarvo {

class secsii;

class LineTimers {
public:
    // Called on the timer thread with the kind given to set and the id.
    using Handler = std::function<void(int kind, timers::TimerId id)>;

    explicit LineTimers(Handler handler);
    ~LineTimers();
    LineTimers(const LineTimers&) = delete;
    LineTimers& operator=(const LineTimers&) = delete;

    // From here on no callback enters the handler; returns once none is
    // running. Call with no line lock held.
    void detach();

    // ---- with the line's state lock held ------------------------------------
    // Starts a timer of `ms` into `slot`. When none can be had: the record
    // "ERROR: system timers exhausted" whatever the mask, 20 into `ev`, slot 0,
    // false. After close() it starts nothing (slot 0, false, no record).
    bool set(timers::TimerId& slot, int32_t ms, int kind, const secsii& log, LineEvents& ev);
    // Cancels the timer in `slot` without waiting and clears the slot.
    void kill(timers::TimerId& slot);
    // Clears the slot of a timer whose callback is running.
    static void fired(timers::TimerId& slot) { slot = 0; }
    // No new timers: the line is going away.
    void close() { closed_ = true; }
    bool closed() const { return closed_; }

private:
    struct Anchor {
        std::mutex mutex;
        std::condition_variable idle;
        Handler handler;
        bool attached = true;
        int in_flight = 0;
    };
    static void dispatch(const std::shared_ptr<Anchor>& anchor, int kind, timers::TimerId id);

    std::shared_ptr<Anchor> anchor_;
    bool closed_ = false;
};

}  // namespace tarvo
