// The port operations, written once over the transport table: a port number
// is looked up in the ports file when it opens, and its transport does what
// differs between a tty and a TCP stream.
#include "platform/serial/serial_port.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>

#include "platform/serial/memory_port.h"
#include "platform/serial/port_transport.h"

namespace tarvo::serial {

namespace {

std::mutex& table_mutex() {
    static std::mutex m;
    return m;
}

// Guarded by table_mutex().
std::map<int, std::shared_ptr<OpenPort>>& table() {
    static std::map<int, std::shared_ptr<OpenPort>> t;
    return t;
}
std::map<int, std::string>& last_errors() {
    static std::map<int, std::string> m;
    return m;
}
std::map<int, std::vector<std::string>>& reports() {
    static std::map<int, std::vector<std::string>> m;
    return m;
}

// At most this many reports wait for the line: a flood of refused clients
// cannot grow them without bound.
constexpr size_t kMaxReports = 64;

std::shared_ptr<OpenPort> find(int port) {
    std::lock_guard<std::mutex> lock(table_mutex());
    auto it = table().find(port);
    return it == table().end() ? nullptr : it->second;
}

void set_last_error(int port, const std::string& why) {
    std::lock_guard<std::mutex> lock(table_mutex());
    if (why.empty()) {
        last_errors().erase(port);
    } else {
        last_errors()[port] = why;
    }
}

const Transport& transport_of(PortEndpoint::Kind kind) {
    return kind == PortEndpoint::Kind::tty ? kTtyTransport : kTcpTransport;
}

}  // namespace

void add_report(int port, const std::string& text) {
    std::lock_guard<std::mutex> lock(table_mutex());
    std::vector<std::string>& list = reports()[port];
    if (list.size() < kMaxReports) list.push_back(text);
}

int wait_for(int fd, short events, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    for (;;) {
        int left = -1;
        if (ms >= 0) {
            const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            left = rest <= 0 ? 0 : static_cast<int>(rest) + 1;
        }
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, left);
        if (n > 0) return (p.revents & events) != 0 ? 1 : -1;  // else POLLERR, POLLHUP, POLLNVAL
        if (n == 0) {
            if (ms >= 0 && std::chrono::steady_clock::now() >= deadline) return 0;
            continue;
        }
        if (errno != EINTR) return -1;
    }
}

int sio_open(int port, const OpenOptions& options) {
    PortEndpoint where;
    const bool in_memory = memory_channel(port) != nullptr;
    if (in_memory) {
        where.kind = PortEndpoint::Kind::tty;  // (the memory transport needs no endpoint)
    } else {
        where = endpoint_for_port(port);
    }
    for (const std::string& note : where.notes) add_report(port, note);
    if (where.kind == PortEndpoint::Kind::invalid) {
        set_last_error(port, where.error);
        return kFailed;
    }
    if (find(port)) {
        set_last_error(port, "port " + std::to_string(port) + " is open already");
        return kFailed;  // ours already: not shared either
    }
    std::shared_ptr<OpenPort> p;
    try {
        p = std::make_shared<OpenPort>(port, in_memory ? kMemoryTransport : transport_of(where.kind));
    } catch (...) {
        set_last_error(port, "out of memory");
        return kFailed;
    }
    // Opened without the table's lock: a connect may take a while.
    std::string why;
    if (p->transport.open(*p, where, options, why) != 0) {
        set_last_error(port, why);
        return kFailed;
    }
    std::lock_guard<std::mutex> lock(table_mutex());
    if (table().count(port) != 0) {
        last_errors()[port] = "port " + std::to_string(port) + " is open already";
        return kFailed;  // another opening got there first; ours closes as it goes
    }
    try {
        table().emplace(port, std::move(p));
    } catch (...) {
        last_errors()[port] = "out of memory";
        return kFailed;
    }
    last_errors().erase(port);
    return 0;
}

std::string sio_last_error(int port) {
    std::lock_guard<std::mutex> lock(table_mutex());
    auto it = last_errors().find(port);
    return it == last_errors().end() ? std::string() : it->second;
}

std::vector<std::string> sio_take_reports(int port) {
    std::lock_guard<std::mutex> lock(table_mutex());
    std::vector<std::string> taken;
    auto it = reports().find(port);
    if (it != reports().end()) {
        taken.swap(it->second);
        reports().erase(it);
    }
    return taken;
}

int sio_ioctl(int port, int baud_code, int line_mode) {
    if (baud_code < 0 || baud_code >= 20) return kBadParameter;
    if (line_mode < 0 || line_mode > 0x3F) return kBadParameter;
    const std::shared_ptr<OpenPort> p = find(port);
    if (!p) return kNotOpen;
    return p->transport.set_format(*p, baud_code, line_mode);
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
    return 0;  // the descriptors close with the last user
}

int sio_lstatus(int port) {
    const std::shared_ptr<OpenPort> p = find(port);
    if (!p) return kNotOpen;
    return p->transport.status(*p);
}

int sio_flush(int port, int selector) {
    if (selector < 0 || selector > 2) return kBadParameter;
    const std::shared_ptr<OpenPort> p = find(port);
    if (!p) return kNotOpen;
    return p->transport.flush(*p, selector);
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
    const auto start = std::chrono::steady_clock::now();
    while (got < count) {
        const int n = p->transport.read_now(*p, buffer + got, count - got);
        if (n > 0) {
            got += n;
            wait = interval;
            continue;
        }
        if (n < 0) return got > 0 ? got : kFailed;
        if (wait <= 0) break;
        // The first byte is awaited for the read timeout in all, however
        // often a wait ends with nothing to read (a listener's client left).
        int left = wait;
        if (got == 0) {
            const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - start)
                                   .count();
            left = first_wait - static_cast<int>(spent);
            if (left <= 0) break;
        }
        const int ready = p->transport.wait(*p, -1, left);
        if (ready == 0) break;  // the time is up (at once, on an instant memory port)
        if (ready < 0) return got > 0 ? got : kFailed;
    }
    return got;
}

int sio_wait(int port, int wake_fd, int timeout_ms) {
    const std::shared_ptr<OpenPort> p = find(port);
    if (!p) return kNotOpen;
    return p->transport.wait(*p, wake_fd, timeout_ms);
}

int sio_write(int port, const char* buffer, int count) {
    if (count < 0 || (count > 0 && buffer == nullptr)) return kBadParameter;
    const std::shared_ptr<OpenPort> p = find(port);
    if (!p) return kNotOpen;
    int sent = 0;
    while (sent < count) {
        const int n = p->transport.write_now(*p, buffer + sent, count - sent);
        if (n > 0) {
            sent += n;
            continue;
        }
        // The output queue is full: wait for room, as long as a second.
        if (n == 0 && p->fd >= 0 && wait_for(p->fd, POLLOUT, 1000) > 0) continue;
        return sent > 0 ? sent : kFailed;
    }
    return sent;
}

}  // namespace tarvo::serial
