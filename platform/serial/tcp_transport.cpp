// A port that is a TCP stream carrying the raw SECS-I bytes: a connection to
// a terminal server (tcp:HOST:PORT), or a listening port that serves one
// client at a time (tcp-listen:[ADDRESS:]PORT). Keep-alive and a user
// timeout notice a dead peer in seconds; no Telnet negotiation.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/serial/port_transport.h"

namespace tarvo::serial {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kAbandonSliceMs = 20;

void set_stream_options(int fd, int user_timeout_ms) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    const int idle = 10, interval = 5, probes = 3;
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    if (user_timeout_ms > 0) {
        const unsigned timeout = static_cast<unsigned>(user_timeout_ms);
        ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &timeout, sizeof timeout);
    }
}

std::string endpoint_text(const std::string& host, int port) {
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

// One connect to `address`, in slices so that `abandon` is seen: the
// descriptor, or -1 with `why`.
int connect_one(const addrinfo* address, Clock::time_point deadline, const OpenOptions& options, std::string& why) {
    const int fd = ::socket(address->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = std::strerror(errno);
        return -1;
    }
    if (::connect(fd, address->ai_addr, address->ai_addrlen) == 0) return fd;
    if (errno != EINPROGRESS) {
        why = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    for (;;) {
        if (options.abandon && options.abandon()) {
            why = "given up: the port is no longer wanted";
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            why = "no connection within " + std::to_string(options.connect_ms) + " ms";
            break;
        }
        const int ready = wait_for(fd, POLLOUT, static_cast<int>(std::min<long long>(left, kAbandonSliceMs)));
        if (ready == 0) continue;
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
        if (error == 0) return fd;
        why = std::strerror(error);
        break;
    }
    ::close(fd);
    return -1;
}

int open_connect(OpenPort& p, const PortEndpoint& where, const OpenOptions& options, std::string& why) {
    const std::string target = endpoint_text(where.host, where.tcp_port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(where.tcp_port);
    if (const int rc = ::getaddrinfo(where.host.c_str(), service.c_str(), &hints, &found); rc != 0) {
        why = "tcp:" + target + ": " + ::gai_strerror(rc);
        return kFailed;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(options.connect_ms > 0 ? options.connect_ms : 0);
    std::string reason = "no address";
    int fd = -1;
    for (const addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = connect_one(a, deadline, options, reason);
        if (options.abandon && options.abandon()) break;
    }
    ::freeaddrinfo(found);
    if (fd < 0) {
        why = "tcp:" + target + ": " + reason;
        return kFailed;
    }
    set_stream_options(fd, options.user_timeout_ms);
    p.fd = fd;
    p.user_timeout_ms = options.user_timeout_ms;
    return 0;
}

int open_listen(OpenPort& p, const PortEndpoint& where, const OpenOptions& options, std::string& why) {
    const std::string target = where.host.empty() ? std::to_string(where.tcp_port)
                                                   : endpoint_text(where.host, where.tcp_port);
    sockaddr_storage address{};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    bool any_v6 = false;
    if (where.host.empty()) {
        // Every address, IPv4 ones too, where the machine has IPv6.
        v6->sin6_family = AF_INET6;
        v6->sin6_addr = in6addr_any;
        v6->sin6_port = htons(static_cast<uint16_t>(where.tcp_port));
        length = sizeof *v6;
        any_v6 = true;
    } else if (::inet_pton(AF_INET, where.host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(where.tcp_port));
        length = sizeof *v4;
    } else if (::inet_pton(AF_INET6, where.host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(where.tcp_port));
        length = sizeof *v6;
    } else {
        why = "tcp-listen:" + target + ": no numeric address";
        return kFailed;
    }
    int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0 && any_v6) {
        // No IPv6 here: every IPv4 address.
        address = {};
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = htonl(INADDR_ANY);
        v4->sin_port = htons(static_cast<uint16_t>(where.tcp_port));
        length = sizeof *v4;
        any_v6 = false;
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    }
    if (fd < 0) {
        why = "tcp-listen:" + target + ": " + std::strerror(errno);
        return kFailed;
    }
    const int one = 1, zero = 0;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);  // a restarted program takes its port at once
    if (any_v6) ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 4) != 0) {
        why = "tcp-listen:" + target + ": " + std::strerror(errno);
        ::close(fd);
        return kFailed;
    }
    std::vector<std::string> problems;
    p.allow = net::AllowList::load(where.tcp_port, problems);
    for (const std::string& problem : problems) add_report(p.number, "allow file " + problem);
    p.listen_fd = fd;
    p.tcp_port = where.tcp_port;
    p.user_timeout_ms = options.user_timeout_ms;
    return 0;
}

int tcp_open(OpenPort& p, const PortEndpoint& where, const OpenOptions& options, std::string& why) {
    return where.kind == PortEndpoint::Kind::tcp_listen ? open_listen(p, where, options, why)
                                                        : open_connect(p, where, options, why);
}

void tcp_close(OpenPort& p) {
    if (p.fd >= 0) ::close(p.fd);
    if (p.listen_fd >= 0) ::close(p.listen_fd);
    p.fd = p.listen_fd = -1;
}

int tcp_set_format(OpenPort&, int, int) { return kIgnored; }

// A listener's client has gone: the listener stays and takes the next one.
void drop_client(OpenPort& p, const char* why) {
    ::close(p.fd);
    p.fd = -1;
    add_report(p.number, std::string("tcp-listen port ") + std::to_string(p.tcp_port) + ": the client " + why);
}

void accept_clients(OpenPort& p) {
    for (;;) {
        sockaddr_storage from{};
        socklen_t length = sizeof from;
        const int fd = ::accept4(p.listen_fd, reinterpret_cast<sockaddr*>(&from), &length,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;  // none waiting (or an error the next poll shows again)
        const std::string who = net::address_text(reinterpret_cast<sockaddr*>(&from), length);
        if (!p.allow.admits(reinterpret_cast<sockaddr*>(&from), length)) {
            ::close(fd);
            add_report(p.number, "tcp-listen refused a client: '" + who + "' is not allowed on port '" +
                                     std::to_string(p.tcp_port) + "'");
        } else if (p.fd >= 0) {
            ::close(fd);
            add_report(p.number, "tcp-listen refused a client: '" + who + "', port '" + std::to_string(p.tcp_port) +
                                     "' serves one client at a time");
        } else {
            set_stream_options(fd, p.user_timeout_ms);
            p.fd = fd;
            add_report(p.number, "tcp-listen accepted a client: '" + who + "' on port '" +
                                     std::to_string(p.tcp_port) + "'");
        }
    }
}

int tcp_status(OpenPort& p) {
    if (p.fd < 0) return p.listen_fd >= 0 ? kNoPeer : kFailed;
    pollfd pf{p.fd, POLLIN | POLLRDHUP, 0};
    if (::poll(&pf, 1, 0) < 0) return kFailed;
    if ((pf.revents & (POLLERR | POLLNVAL | POLLHUP)) != 0) return kFailed;
    // The peer has closed: usable only while bytes it sent are left to read.
    if ((pf.revents & POLLRDHUP) != 0) {
        char c;
        if (::recv(p.fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) <= 0) return kFailed;
    }
    return 0;
}

int tcp_read_now(OpenPort& p, char* buffer, int count) {
    if (p.fd < 0) return p.listen_fd >= 0 ? 0 : kFailed;
    for (;;) {
        const ssize_t n = ::recv(p.fd, buffer, static_cast<size_t>(count), MSG_DONTWAIT);
        if (n > 0) return static_cast<int>(n);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
        // The peer closed (0) or the connection broke.
        if (p.listen_fd < 0) {
            ::close(p.fd);  // a connection that ended stays ended
            p.fd = -1;
            return kFailed;
        }
        drop_client(p, n == 0 ? "closed the connection" : "connection broke");
        return 0;
    }
}

int tcp_flush(OpenPort& p, int selector) {
    if (selector == 1) return 0;  // a send has left our hands already
    char discard[512];
    while (tcp_read_now(p, discard, sizeof discard) > 0) {
    }
    return 0;
}

int tcp_wait(OpenPort& p, int wake_fd, int timeout_ms) {
    if (p.fd < 0 && p.listen_fd < 0) return 1;  // a read tells that the connection ended
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    for (;;) {
        pollfd fds[3];
        nfds_t n = 0;
        const int data = p.fd >= 0 ? static_cast<int>(n) : -1;
        if (p.fd >= 0) fds[n++] = {p.fd, POLLIN, 0};
        const int listening = p.listen_fd >= 0 ? static_cast<int>(n) : -1;
        if (p.listen_fd >= 0) fds[n++] = {p.listen_fd, POLLIN, 0};
        const int wake = wake_fd >= 0 ? static_cast<int>(n) : -1;
        if (wake_fd >= 0) fds[n++] = {wake_fd, POLLIN, 0};
        int left = -1;
        if (timeout_ms >= 0) {
            const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            left = rest <= 0 ? 0 : static_cast<int>(rest);
        }
        const int ready = ::poll(fds, n, left);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return kFailed;
        if (data >= 0 && (fds[data].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0) return 1;
        if (wake >= 0 && fds[wake].revents != 0) return 0;
        if (listening >= 0 && fds[listening].revents != 0) {
            accept_clients(p);
            continue;  // the new client has sent nothing yet
        }
        if (ready == 0) return 0;
    }
}

int tcp_write_now(OpenPort& p, const char* buffer, int count) {
    if (p.fd < 0) return kNoPeer;
    for (;;) {
        const ssize_t n = ::send(p.fd, buffer, static_cast<size_t>(count), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n >= 0) return static_cast<int>(n);
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : kFailed;
    }
}

}  // namespace

const Transport kTcpTransport = {tcp_open, tcp_close, tcp_set_format, tcp_status,
                                 tcp_flush, tcp_read_now, tcp_wait,     tcp_write_now};

}  // namespace tarvo::serial
