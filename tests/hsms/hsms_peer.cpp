#include "hsms_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "driver/log/streams_logger.h"

namespace tarvo::hsms_test {

namespace {

using Clock = std::chrono::steady_clock;

int remaining(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

sockaddr_in loopback(int port, int host_byte = 1) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl((127u << 24) | static_cast<uint32_t>(host_byte));
    return a;
}

}  // namespace

// ---- helpers ------------------------------------------------------------------------

int free_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t size = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    ::close(fd);
    return ntohs(a.sin_port);
}


Header control(uint8_t stype, uint16_t session, uint16_t source, uint16_t transaction, uint8_t byte3) {
    Header h = hsms::make_control_header(stype, session, source, transaction);
    h[7] = byte3;
    return h;
}

Header data_header(uint16_t session, int stream, int function, bool w, uint16_t source, uint16_t transaction,
                   uint32_t body_length) {
    MessageRecord m;
    m.device_id = session;
    m.stream = stream;
    m.function = function;
    m.w_bit = w ? 1 : 0;
    m.source_id = source;
    m.transaction_id = transaction;
    return hsms::make_data_header(m, body_length);
}

Header with_length(Header h, uint32_t length) {
    h[0] = static_cast<uint8_t>(length >> 24);
    h[1] = static_cast<uint8_t>(length >> 16);
    h[2] = static_cast<uint8_t>(length >> 8);
    h[3] = static_cast<uint8_t>(length);
    return h;
}

std::string hex(const Header& h) {
    std::string s;
    char b[4];
    for (uint8_t v : h) {
        std::snprintf(b, sizeof b, "%02x ", v);
        s += b;
    }
    s.pop_back();
    return s;
}

void fast_timers(secsitcp& line) {
    line.msg.set_log_mask(kAllRecords);
    // Every timer its own value (T1, T2 and T4 are SECS-I's, unused here),
    // so a timer that runs on another's value shows.
    line.T1 = 110;
    line.T2 = 130;
    line.T3 = 2000;
    line.T4 = 170;
    line.T5 = 100;
    line.T6 = 500;
    line.T7 = 1900;
    line.T8 = 200;
    line.idle_sleep = 20;
}

// ---- Peer -------------------------------------------------------------------------------

Peer::~Peer() { close(); }

Peer& Peer::operator=(Peer&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

Peer Peer::connect_to(int port, int host_byte) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(port, host_byte);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return Peer();
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return Peer(fd);
}

bool Peer::send(const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        const ssize_t r = ::send(fd_, p, n, MSG_NOSIGNAL);
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

std::optional<Bytes> Peer::read_bytes(size_t n, int ms) {
    Bytes out(n);
    size_t got = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (got < n) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, remaining(deadline)) <= 0) return std::nullopt;
        const ssize_t r = ::recv(fd_, out.data() + got, n - got, 0);
        if (r <= 0) return std::nullopt;
        got += static_cast<size_t>(r);
    }
    return out;
}

std::optional<Header> Peer::read_header(int ms) {
    auto bytes = read_bytes(hsms::kHeaderSize, ms);
    if (!bytes) return std::nullopt;
    Header h{};
    std::copy(bytes->begin(), bytes->end(), h.begin());
    return h;
}

bool Peer::wait_closed(int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    uint8_t buffer[4096];
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, remaining(deadline)) <= 0) return false;
        const ssize_t r = ::recv(fd_, buffer, sizeof buffer, 0);
        if (r <= 0) return true;
    }
}

bool Peer::next_is_close(int ms) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) return false;
    uint8_t byte;
    return ::recv(fd_, &byte, 1, 0) <= 0;
}

bool Peer::quiet(int ms) {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, ms) == 0;
}

void Peer::reset() {
    linger l{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close();
}

void Peer::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

// ---- Listener --------------------------------------------------------------------------

Listener::Listener(int receive_buffer) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (receive_buffer > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
    sockaddr_in a = loopback(0);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 16);
    socklen_t size = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &size);
    port_ = ntohs(a.sin_port);
}

Listener::~Listener() { ::close(fd_); }

Peer Listener::accept(int ms) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) return Peer();
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    return Peer(fd);
}

}  // namespace tarvo::hsms_test
