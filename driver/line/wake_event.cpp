#include "driver/line/wake_event.h"

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
    }
}

void WakeEvent::drain() {
    uint64_t value = 0;
    if (fd_ >= 0) {
        [[maybe_unused]] const ssize_t r = ::read(fd_, &value, sizeof value);
    }
}

}  // namespace tarvo
