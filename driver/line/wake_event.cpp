#include "driver/line/wake_event.h"

#include <poll.h>

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace tarvo {

WakeEvent::WakeEvent() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeEvent::~WakeEvent() {
    if (fd_ >= 0) ::close(fd_);
}

void WakeEvent::signal() {
    pending_.store(true);
    if (fd_ < 0 || waiting_.load() == 0) return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t r = ::write(fd_, &one, sizeof one);
    written_.store(true, std::memory_order_release);
}

int WakeEvent::begin_wait(int ms) {
    waiting_.fetch_add(1);
    return pending_.load() ? 0 : limit(ms);
}

void WakeEvent::end_wait(bool readable) {
    waiting_.fetch_sub(1);
    if (readable) written_.store(true, std::memory_order_relaxed);  // read it even if its flag is still to come
    drain();
}

void WakeEvent::drain() {
    pending_.store(false);
    uint64_t value = 0;
    if (fd_ >= 0 && written_.exchange(false, std::memory_order_acq_rel)) {
        [[maybe_unused]] const ssize_t r = ::read(fd_, &value, sizeof value);
    }
}

void WakeEvent::wait(int ms) {
    const int limit_ms = begin_wait(ms);
    if (fd_ < 0) {
        if (limit_ms != 0) ::poll(nullptr, 0, limit_ms);
        end_wait();
        return;
    }
    pollfd p{fd_, POLLIN, 0};
    const bool readable = limit_ms != 0 && ::poll(&p, 1, limit_ms) > 0;
    end_wait(readable);
}

int WakeEvent::limit(int ms) const {
    if (fd_ >= 0) return ms;
    return ms < 0 || ms > kUnsignalledMs ? kUnsignalledMs : ms;
}

}  // namespace tarvo
