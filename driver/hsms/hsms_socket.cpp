#include "driver/hsms/hsms_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>

namespace tarvo::hsms {

namespace {

using Clock = std::chrono::steady_clock;

// Waits for `events` on `fd` until `deadline`. 1 ready, 0 timed out, -1
// error, -2 abandoned.
int wait_until(int fd, short events, Clock::time_point deadline, const Abandon& abandon) {
    for (;;) {
        if (abandon && abandon()) return -2;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        // Round up so that a wait never ends before its deadline.
        int timeout = left.count() <= 0 ? 0 : static_cast<int>(std::min<int64_t>(left.count() + 1, 1 << 30));
        if (abandon) timeout = std::min(timeout, kAbandonSliceMs);
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, timeout);
        if (n > 0) return 1;
        if (n == 0) {
            if (Clock::now() >= deadline) return 0;
            continue;
        }
        if (errno != EINTR) return -1;
    }
}

Clock::time_point deadline_after(int limit_ms) {
    return Clock::now() + std::chrono::milliseconds(std::max(limit_ms, 0));
}

}  // namespace

int open_stream_socket() {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

int connect_within(int fd, const std::string& host, int port, int limit_ms, const Abandon& abandon) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) return EINVAL;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return 0;
    if (errno != EINPROGRESS && errno != EINTR) return errno;
    const int ready = wait_until(fd, POLLOUT, deadline_after(limit_ms), abandon);
    if (ready == 0) return ETIMEDOUT;
    if (ready == -2) return ECANCELED;
    if (ready < 0) return errno;
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
    return error;
}

void set_no_delay(int fd) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

ReadResult read_exact(int fd, void* buffer, size_t n, int limit_ms, size_t& got, int& error,
                      const Abandon& abandon) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    got = 0;
    auto deadline = deadline_after(limit_ms);
    while (got < n) {
        const ssize_t r = ::recv(fd, bytes + got, n - got, MSG_DONTWAIT);
        if (r > 0) {
            got += static_cast<size_t>(r);
            deadline = deadline_after(limit_ms);
            continue;
        }
        if (r == 0) return ReadResult::closed;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            error = errno;
            return ReadResult::failed;
        }
        const int ready = wait_until(fd, POLLIN, deadline, abandon);
        if (ready == 0) return ReadResult::timed_out;
        if (ready == -2) return ReadResult::abandoned;
        if (ready < 0) {
            error = errno;
            return ReadResult::failed;
        }
    }
    return ReadResult::done;
}

size_t send_all(int fd, const void* first, size_t first_n, const void* second, size_t second_n,
                int limit_ms, int& error, const Abandon& abandon) {
    const size_t total = first_n + second_n;
    size_t sent = 0;
    while (sent < total) {
        iovec parts[2];
        int count = 0;
        if (sent < first_n) {
            parts[count++] = {const_cast<uint8_t*>(static_cast<const uint8_t*>(first)) + sent, first_n - sent};
            if (second_n > 0) parts[count++] = {const_cast<void*>(second), second_n};
        } else {
            const size_t off = sent - first_n;
            parts[count++] = {const_cast<uint8_t*>(static_cast<const uint8_t*>(second)) + off, second_n - off};
        }
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = static_cast<size_t>(count);
        const ssize_t r = ::sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (r > 0) {
            sent += static_cast<size_t>(r);
            continue;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int ready = wait_until(fd, POLLOUT, deadline_after(limit_ms), abandon);
            if (ready > 0) continue;
            error = ready == 0 ? ETIMEDOUT : ready == -2 ? ECANCELED : errno;
            return sent;
        }
        error = r < 0 ? errno : EPIPE;
        return sent;
    }
    return sent;
}

void close_socket(int fd) {
    if (fd < 0) return;
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

}  // namespace tarvo::hsms
