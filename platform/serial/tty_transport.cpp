// A port that is a terminal device: opened exclusively, raw, ignoring the
// modem lines, with the character format of a baud code and a line mode.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/serial/bit_rate.h"
#include "platform/serial/port_transport.h"

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

int tty_open(OpenPort& p, const PortEndpoint& where, const OpenOptions&, std::string& why) {
    const int fd = ::open(where.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = where.path + ": " + std::strerror(errno);
        return kFailed;
    }
    // TIOCEXCL keeps others out but not root; the flock holds against everyone
    // who asks for it, this library in other processes included.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        why = where.path + ": in use by another program";
    } else if (!::isatty(fd)) {
        why = where.path + ": not a terminal";
    } else {
        ::ioctl(fd, TIOCEXCL);
        if (configure_raw(fd, B19200, CS8, false, 0)) {
            p.fd = fd;
            return 0;
        }
        why = where.path + ": cannot be set to raw mode";
    }
    ::close(fd);
    return kFailed;
}

void tty_close(OpenPort& p) {
    if (p.fd >= 0) ::close(p.fd);  // also drops the flock
    p.fd = -1;
}

int tty_set_format(OpenPort& p, int baud_code, int line_mode) {
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
    if (!configure_raw(p.fd, baud.speed != 0 ? baud.speed : B9600, kSizes[line_mode & 3], (line_mode & 4) != 0,
                       parity)) {
        return kFailed;
    }
    if (baud.speed == 0 && !set_bit_rate(p.fd, baud.rate)) return kBaudNotSet;
    const long actual = read_bit_rate(p.fd);
    if (actual <= 0 || std::labs(actual - baud.rate) * 50 > baud.rate) return kBaudNotSet;
    return 0;
}

int tty_status(OpenPort& p) {
    pollfd pf{p.fd, POLLIN, 0};
    if (::poll(&pf, 1, 0) < 0) return kFailed;
    if ((pf.revents & (POLLERR | POLLNVAL)) != 0) return kFailed;
    // A hang-up that left bytes to read is still usable until they are read.
    if ((pf.revents & POLLHUP) != 0 && (pf.revents & POLLIN) == 0) return kFailed;
    int lines = 0;
    if (::ioctl(p.fd, TIOCMGET, &lines) != 0) lines = 0;  // a pseudo-terminal has no modem lines
    return lines & 0x7FFF;
}

int tty_flush(OpenPort& p, int selector) {
    if (selector == 1) {
        // Pushes our own output out: a control character written just before
        // (an ACK) must reach the peer, not be discarded by the next one.
        return ::tcdrain(p.fd) == 0 ? 0 : kFailed;
    }
    return ::tcflush(p.fd, selector == 0 ? TCIFLUSH : TCIOFLUSH) == 0 ? 0 : kFailed;
}

int tty_read_now(OpenPort& p, char* buffer, int count) {
    for (int tries = 0;; ++tries) {
        const ssize_t n = ::read(p.fd, buffer, static_cast<size_t>(count));
        if (n > 0) return static_cast<int>(n);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : kFailed;
        // A raw terminal answers 0 when nothing is there. A byte may have
        // arrived since: read again. Readable twice with nothing to read, or
        // a hang-up, means the device is gone (the other side of a
        // pseudo-terminal went away).
        const int now = wait_for(p.fd, POLLIN, 0);
        if (now < 0 || (now > 0 && tries > 0)) return kFailed;
        if (now == 0) return 0;
    }
}

int tty_wait(OpenPort& p, int wake_fd, int timeout_ms) {
    pollfd pf[2] = {{p.fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    const nfds_t count = wake_fd >= 0 ? 2 : 1;
    for (;;) {
        const int ready = ::poll(pf, count, timeout_ms < 0 ? -1 : timeout_ms);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return kFailed;
        return (pf[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0 ? 1 : 0;
    }
}

int tty_write_now(OpenPort& p, const char* buffer, int count) {
    for (;;) {
        const ssize_t n = ::write(p.fd, buffer, static_cast<size_t>(count));
        if (n >= 0) return static_cast<int>(n);
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : kFailed;
    }
}

}  // namespace

int baud_rate_of(int baud_code) {
    return baud_code >= 0 && baud_code < kBaudCount ? kBauds[baud_code].rate : 0;
}

const Transport kTtyTransport = {tty_open, tty_close, tty_set_format, tty_status,
                                 tty_flush, tty_read_now, tty_wait,     tty_write_now};

}  // namespace tarvo::serial
