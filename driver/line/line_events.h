// Events a line has found while it held one of its locks. They are collected
// first and raised once the locks are released, so a sink may call back into
// the line from inside an event.
//
// Timer callbacks never raise events themselves: the one timer thread of the
// process must not wait for a host's sink. They put their events into the
// line's mailbox and wake the worker, which raises them before it looks at
// anything received.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tarvo {

class secsi;

struct LineEvent {
    enum Kind : uint8_t { notify, read, written } kind;
    int value;
};

// The events of one step, in order. A step finds few (a written and a read,
// a notification or two): those stay inside the object, and only a longer
// list takes memory from the heap.
class LineEvents {
public:
    void push_back(LineEvent e) {
        if (heap_.empty() && size_ < kInline) {
            inline_[size_++] = e;
            return;
        }
        if (heap_.empty()) heap_.assign(inline_, inline_ + size_);
        heap_.push_back(e);
        ++size_;
    }
    void append(const LineEvents& more) {
        for (const LineEvent& e : more) push_back(e);
    }
    bool empty() const { return size_ == 0; }
    size_t size() const { return size_; }
    void clear() {
        heap_.clear();
        size_ = 0;
    }
    const LineEvent* begin() const { return heap_.empty() ? inline_ : heap_.data(); }
    const LineEvent* end() const { return begin() + size_; }

private:
    static constexpr size_t kInline = 4;
    LineEvent inline_[kInline]{};
    std::vector<LineEvent> heap_;  // all of them, once there are more than kInline
    size_t size_ = 0;
};

inline void add_notify(LineEvents& ev, int code) { ev.push_back({LineEvent::notify, code}); }
inline void add_written(LineEvents& ev, int success) { ev.push_back({LineEvent::written, success}); }
inline void add_read(LineEvents& ev) { ev.push_back({LineEvent::read, 0}); }

// Raises the events in order through the line's owner and empties `ev`.
// Never call with a line lock held.
void raise_events(secsi& line, LineEvents& ev);

class EventMailbox {
public:
    void put(LineEvents& ev);   // moves the events in; `ev` is left empty
    void take(LineEvents& ev);  // appends what was put, in order

private:
    std::mutex mutex_;
    LineEvents events_;
};

}  // namespace tarvo
