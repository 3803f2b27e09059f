#include "platform/serial/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>

#include "platform/serial/bit_rate.h"
#include "platform/serial/port_map.h"

namespace tarvo::serial {

namespace {

struct BaudCode {
    int rate;
    speed_t speed;  // 0: no termios speed
};

constexpr BaudCode kBauds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},     {2400, B2400},
    {4800, B4800},     {7200, 0},         {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};
constexpr int kBaudCount = static_cast<int>(sizeof kBauds / sizeof kBauds[0]);

// One open port. The descriptor is closed when the last user lets go, so a
// read in progress on one thread keeps it valid while another closes the port.
struct OpenPort {
    explicit OpenPort(int descriptor) : fd(descriptor) {}
    ~OpenPort() { ::close(fd); }  // also drops the flock
    OpenPort(const OpenPort&) = delete;
    OpenPort& operator=(const OpenPort&) = delete;

    const int fd;
    std::mutex mutex;       // guards the two timeouts
    int read_timeout = 100;
    int interval = 0;
};

std::mutex& table_mutex() {
    static std::mutex m;
    return m;
}

std::map<int, std::shared_ptr<OpenPort>>& table() {
    static std::map<int, std::shared_ptr<OpenPort>> t;
    return t;
}

std::shared_ptr<OpenPort> find(int port) {
    std::lock_guard<std::mutex> lock(table_mutex());
    auto it = table().find(port);
    return it == table().end() ? nullptr : it->second;
}

// Waits up to `ms` for `fd` to become readable: 1 readable, 0 not, -1 error
// or hang-up with nothing left to read.
int wait_readable(int fd, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        const int n = ::poll(&p, 1, left <= 0 ? 0 : static_cast<int>(left) + 1);
        if (n > 0) {
            if (p.revents & POLLIN) return 1;
            return -1;  // POLLERR, POLLHUP, POLLNVAL without data
        }
        if (n == 0) {
            if (std::chrono::steady_clock::now() >= deadline) return 0;
            continue;
        }
        if (errno != EINTR) return -1;
    }
}

bool configure_raw(int fd, speed_t speed, tcflag_t size, bool two_stop, tcflag_t parity_flags) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return false;
    ::cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | HUPCL | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | size | (two_stop ? CSTOPB : 0) | parity_flags;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | ISTRIP);
    if (parity_flags & PARENB) t.c_iflag |= INPCK;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0) return false;
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

}  // namespace

int baud_rate_of(int baud_code) {
    return baud_code >= 0 && baud_code < kBaudCount ? kBauds[baud_code].rate : 0;
}

int sio_open(int port) {
    const std::string device = device_for_port(port);
    if (device.empty()) return kFailed;
    std::lock_guard<std::mutex> lock(table_mutex());
    if (table().count(port) != 0) return kFailed;  // ours already: not shared either
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return kFailed;
    // TIOCEXCL keeps others out but not root; the flock holds against everyone
    // who asks for it, this library in other processes included.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !::isatty(fd)) {
        ::close(fd);
        return kFailed;
    }
    ::ioctl(fd, TIOCEXCL);
    if (!configure_raw(fd, B19200, CS8, false, 0)) {
        ::close(fd);
        return kFailed;
    }
    try {
        table().emplace(port, std::make_shared<OpenPort>(fd));
    } catch (...) {
        ::close(fd);
        return kFailed;
    }
    return 0;
}

int sio_ioctl(int port, int baud_code, int line_mode) {
    if (baud_code < 0 || baud_code >= kBaudCount) return kBadParameter;
    if (line_mode < 0 || line_mode > 0x3F) return kBadParameter;
    const std::shared_ptr<OpenPort> p = find(port);
    if (!p) return kNotOpen;
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    tcflag_t parity = 0;
    if (line_mode & 0x08) {
        switch ((line_mode >> 3) & 7) {
        case 1: parity = PARENB | PARODD; break;
        case 3: parity = PARENB; break;
        case 5: parity = PARENB | PARODD | CMSPAR; break;
        case 7: parity = PARENB | CMSPAR; break;
        default: return kBadParameter;
        }
    }
    const BaudCode& baud = kBauds[baud_code];
    // A rate without a constant is set on top of a standard one.
    if (!configure_raw(p->fd, baud.speed != 0 ? baud.speed : B9600, kSizes[line_mode & 3], (line_mode & 4) != 0,
                       parity)) {
        return kFailed;
    }
    if (baud.speed == 0 && !set_bit_rate(p->fd, baud.rate)) return kBaudNotSet;
    const long actual = read_bit_rate(p->fd);
    if (actual <= 0 || std::labs(actual - baud.rate) * 50 > baud.rate) return kBaudNotSet;
    return 0;
}

int sio_SetReadTimeouts(int port, int read_timeout_ms, int interval_ms) {
    if (read_timeout_ms < 0 || interval_ms < 0) return kBadParameter;
    const std::shared_ptr<OpenPort> p = find(port);
    if (!p) return kNotOpen;
    std::lock_guard<std::mutex> lock(p->mutex);
    p->read_timeout = read_timeout_ms;
    p->interval = interval_ms;
    return 0;
}

int sio_close(int port) {
    std::shared_ptr<OpenPort> p;
    {
        std::lock_guard<std::mutex> lock(table_mutex());
        auto it = table().find(port);
        if (it == table().end()) return kNotOpen;
        p = std::move(it->second);
        table().erase(it);
    }
    return 0;  // the descriptor closes with its last user
}

int sio_lstatus(int port) {
    const std::shared_ptr<OpenPort> p = find(port);
    if (!p) return kNotOpen;
    pollfd pf{p->fd, POLLIN, 0};
    if (::poll(&pf, 1, 0) < 0) return kFailed;
    if ((pf.revents & (POLLERR | POLLNVAL)) != 0) return kFailed;
    // A hang-up that left bytes to read is still usable until they are read.
    if ((pf.revents & POLLHUP) != 0 && (pf.revents & POLLIN) == 0) return kFailed;
    int lines = 0;
    if (::ioctl(p->fd, TIOCMGET, &lines) != 0) lines = 0;  // a pseudo-terminal has no modem lines
    return lines & 0x7FFF;
}

int sio_flush(int port, int selector) {
    if (selector < 0 || selector > 2) return kBadParameter;
    const std::shared_ptr<OpenPort> p = find(port);
    if (!p) return kNotOpen;
    if (selector == 1) {
        // Pushes our own output out: a control character written just before
        // (an ACK) must reach the peer, not be discarded by the next one.
        return ::tcdrain(p->fd) == 0 ? 0 : kFailed;
    }
    return ::tcflush(p->fd, selector == 0 ? TCIFLUSH : TCIOFLUSH) == 0 ? 0 : kFailed;
}

int sio_read(int port, char* buffer, int count) {
    if (count < 0 || (count > 0 && buffer == nullptr)) return kBadParameter;
    const std::shared_ptr<OpenPort> p = find(port);
    if (!p) return kNotOpen;
    int first_wait, interval;
    {
        std::lock_guard<std::mutex> lock(p->mutex);
        first_wait = p->read_timeout;
        interval = p->interval;
    }
    int got = 0;
    int wait = first_wait;
    int empty_but_readable = 0;
    while (got < count) {
        const ssize_t n = ::read(p->fd, buffer + got, static_cast<size_t>(count - got));
        if (n > 0) {
            got += static_cast<int>(n);
            wait = interval;
            empty_but_readable = 0;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return got > 0 ? got : kFailed;
        if (n == 0) {
            // A raw terminal answers 0 when nothing is there. A byte may have
            // arrived since: read again. Readable twice with nothing to read,
            // or a hang-up, means the device is gone (the other side of a
            // pseudo-terminal went away).
            const int now = wait_readable(p->fd, 0);
            if (now < 0 || (now > 0 && ++empty_but_readable > 1)) return got > 0 ? got : kFailed;
            if (now > 0) continue;
        }
        if (wait <= 0) break;
        const int ready = wait_readable(p->fd, wait);
        if (ready == 0) break;
        if (ready < 0) return got > 0 ? got : kFailed;
    }
    return got;
}

int sio_wait(int port, int wake_fd, int timeout_ms) {
    const std::shared_ptr<OpenPort> p = find(port);
    if (!p) return kNotOpen;
    pollfd pf[2] = {{p->fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    const nfds_t count = wake_fd >= 0 ? 2 : 1;
    for (;;) {
        const int ready = ::poll(pf, count, timeout_ms < 0 ? -1 : timeout_ms);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return kFailed;
        return (pf[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0 ? 1 : 0;
    }
}

int sio_write(int port, const char* buffer, int count) {
    if (count < 0 || (count > 0 && buffer == nullptr)) return kBadParameter;
    const std::shared_ptr<OpenPort> p = find(port);
    if (!p) return kNotOpen;
    int sent = 0;
    while (sent < count) {
        const ssize_t n = ::write(p->fd, buffer + sent, static_cast<size_t>(count - sent));
        if (n > 0) {
            sent += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The output queue is full: wait for room, as long as a second.
            pollfd pf{p->fd, POLLOUT, 0};
            if (::poll(&pf, 1, 1000) > 0 && (pf.revents & POLLOUT)) continue;
        }
        return sent > 0 ? sent : kFailed;
    }
    return sent;
}

}  // namespace tarvo::serial
