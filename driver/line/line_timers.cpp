#include "driver/line/line_timers.h"

#include <utility>

#include "driver/log/notify_code.h"
#include "driver/messages/secsii.h"

namespace tarvo {

LineTimers::LineTimers(Handler handler) : anchor_(std::make_shared<Anchor>()) {
    anchor_->handler = std::move(handler);
}

LineTimers::~LineTimers() { detach(); }

void LineTimers::detach() {
    std::unique_lock<std::mutex> lock(anchor_->mutex);
    anchor_->attached = false;
    // A callback that detaches its own line (it releases the last reference)
    // must not wait for itself.
    if (timers::on_timer_thread()) return;
    anchor_->idle.wait(lock, [this] { return anchor_->in_flight == 0; });
}

void LineTimers::dispatch(const std::shared_ptr<Anchor>& anchor, int kind, timers::TimerId id) {
    {
        std::lock_guard<std::mutex> lock(anchor->mutex);
        if (!anchor->attached) return;
        ++anchor->in_flight;
    }
    anchor->handler(kind, id);
    std::lock_guard<std::mutex> lock(anchor->mutex);
    if (--anchor->in_flight == 0) anchor->idle.notify_all();
}

bool LineTimers::set(timers::TimerId& slot, int32_t ms, int kind, const secsii& log, LineEvents& ev) {
    slot = 0;
    if (closed_) return false;
    std::shared_ptr<Anchor> anchor = anchor_;
    const uint32_t delay = ms < 0 ? 0u : static_cast<uint32_t>(ms);
    const timers::TimerId id =
        timers::timer_set(delay, [anchor, kind](timers::TimerId fired) { dispatch(anchor, kind, fired); });
    if (id == 0) {
        log.log(0, "ERROR: system timers exhausted");
        add_notify(ev, nSecsErrorNoMoreTimers);
        return false;
    }
    slot = id;
    return true;
}

void LineTimers::kill(timers::TimerId& slot) {
    if (slot == 0) return;
    timers::timer_cancel(slot);
    slot = 0;
}

}  // namespace tarvo
