// An eventfd that wakes a line's worker waiting in poll: a queued message, a
// changed parameter, a stop or a timer's events end the wait at once.
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
    void signal();  // makes fd() readable
    // Makes fd() not readable again. Reads the eventfd only when a signal
    // came since the last drain: a worker drains once a cycle, and most
    // cycles nobody signalled.
    void drain();
    // Reads the eventfd whatever the flag says: for a poll that found it readable.
    void clear();
    // Sleeps up to `ms` (-1: until signalled) unless signalled, and drains.
    // Without an eventfd it can only sleep (200 ms for "until signalled").
    void wait(int ms);
    // How long a poll that watches fd() may wait when it means to wait `ms`
    // (-1: until signalled): `ms` itself, or without an eventfd never more
    // than the 200 ms that wait() sleeps, since nothing could wake it.
    int limit(int ms) const;

    static constexpr int kUnsignalledMs = 200;

private:
    int fd_ = -1;
    // Set after each write: a signal the next drain must read. The write
    // comes first, so a drain that finds it clear at worst leaves the fd
    // readable until the flag follows, and reads it then.
    std::atomic<bool> pending_{false};
};

}  // namespace tarvo
