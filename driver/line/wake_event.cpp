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
    const uint64_t one = 1;
    if (fd_ >= 0) {
        [[maybe_unused]] const ssize_t r = ::write(fd_, &one, sizeof one);
        pending_.store(true, std::memory_order_release);
    }
}

void WakeEvent::drain() {
    uint64_t value = 0;
    if (fd_ >= 0 && pending_.exchange(false, std::memory_order_acq_rel)) {
        [[maybe_unused]] const ssize_t r = ::read(fd_, &value, sizeof value);
    }
}

void WakeEvent::clear() {
    if (fd_ < 0) return;
    pending_.store(false, std::memory_order_relaxed);
    uint64_t value = 0;
    [[maybe_unused]] const ssize_t r = ::read(fd_, &value, sizeof value);
}

void WakeEvent::wait(int ms) {
    if (fd_ < 0) {
        if (ms != 0) ::poll(nullptr, 0, ms < 0 ? kUnsignalledMs : ms);
        return;
    }
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, ms < 0 ? -1 : ms) > 0) clear();
}

int WakeEvent::limit(int ms) const {
    if (fd_ >= 0) return ms;
    return ms < 0 || ms > kUnsignalledMs ? kUnsignalledMs : ms;
}

}  // namespace tarvo
