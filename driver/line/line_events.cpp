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
    events_.append(ev);
    ev.clear();
}

void EventMailbox::take(LineEvents& ev) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (events_.empty()) return;
    ev.append(events_);
    events_.clear();
}

}  // namespace tarvo
