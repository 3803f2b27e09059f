#include "driver/line/line_events.h"

#include "driver/line/secsi.h"

namespace tarvo {

void raise_events(secsi& line, LineEvents& ev) {
    for (const LineEvent& e : ev) {
        switch (e.kind) {
        case LineEvent::notify: line.raise_notify(e.value); break;
        case LineEvent::read: line.raise_read(); break;
        case LineEvent::written: line.raise_written(e.value); break;
        }
    }
    ev.clear();
}

void EventMailbox::put(LineEvents& ev) {
    if (ev.empty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    events_.insert(events_.end(), ev.begin(), ev.end());
    ev.clear();
}

void EventMailbox::take(LineEvents& ev) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (events_.empty()) return;
    ev.insert(ev.end(), events_.begin(), events_.end());
    events_.clear();
}

}  // namespace tarvo
