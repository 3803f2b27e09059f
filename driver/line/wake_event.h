// An eventfd that wakes a line's worker waiting in poll: a queued message, a
// changed parameter, a stop or a timer's events end the wait at once.
//
// The eventfd is written only while the worker waits: a worker that polls
// brackets the poll with begin_wait() and end_wait(), and a signal that comes
// while it is busy only leaves a flag that its next begin_wait() finds (then
// the poll does not wait at all). A busy line pays no system call for its
// wake-ups, and a waiting one loses none.
#pragma once

#include <atomic>

namespace tarvo {

class WakeEvent {
public:
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    int fd() const { return fd_; }  // -1 when no eventfd could be had
    // Something changed for the worker: its wait ends, or its next one does
    // not begin.
    void signal();
    // The worker is about to poll fd() for up to `ms` (-1: until signalled).
    // Returns how long the poll may wait: 0 when a signal came since the last
    // drain; `ms` itself; without an eventfd never more than the 200 ms that
    // wait() sleeps, since nothing could wake it.
    int begin_wait(int ms);
    // The poll is over; what signalled is taken, as by drain(). `readable`:
    // the poll found fd() readable (read whatever the flags say).
    void end_wait(bool readable = false);
    // Takes the signals that came since the last drain: the next begin_wait()
    // waits again. Reads the eventfd only when one was written.
    void drain();
    // Sleeps up to `ms` (-1: until signalled) unless signalled, and drains.
    // Without an eventfd it can only sleep (200 ms for "until signalled").
    void wait(int ms);

    static constexpr int kUnsignalledMs = 200;

private:
    int limit(int ms) const;

    int fd_ = -1;
    // A signal since the last drain. Stored before `waiting_` is read, and
    // `waiting_` before `pending_` is read (all sequentially consistent): a
    // signal and a begin_wait() that cross each other see at least one of
    // the two, so either the poll does not wait or the eventfd is written.
    std::atomic<bool> pending_{false};
    std::atomic<int> waiting_{0};  // pollers between begin_wait and end_wait
    // Set after each write: a count the next drain must read. The write
    // comes first, so a drain that finds it clear at worst leaves the fd
    // readable until the flag follows (one poll that returns early), and
    // reads it then.
    std::atomic<bool> written_{false};
};

}  // namespace tarvo
