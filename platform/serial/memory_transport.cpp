// The memory port and its transport.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>

#include "platform/serial/memory_port.h"
#include "platform/serial/port_transport.h"

namespace tarvo::serial {

// The peer's bytes not yet read: appended at the back, taken from the front,
// both by memcpy.
class ByteQueue {
public:
    bool empty() const { return head_ == bytes_.size(); }
    size_t size() const { return bytes_.size() - head_; }
    void clear() {
        bytes_.clear();
        head_ = 0;
    }
    void append(const uint8_t* data, size_t n) {
        if (empty()) {
            clear();
        } else if (head_ > 4096 && head_ * 2 > bytes_.size()) {
            bytes_.erase(0, head_);  // what was read goes once it is most of the buffer
            head_ = 0;
        }
        bytes_.append(reinterpret_cast<const char*>(data), n);
    }
    size_t take(char* out, size_t n) {
        n = std::min(n, size());
        std::memcpy(out, bytes_.data() + head_, n);
        head_ += n;
        if (empty()) clear();
        return n;
    }

private:
    std::string bytes_;
    size_t head_ = 0;
};

struct MemoryChannel {
    explicit MemoryChannel(bool instant_waits)
        : instant(instant_waits), event_fd(instant_waits ? -1 : ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~MemoryChannel() {
        if (event_fd >= 0) ::close(event_fd);
    }
    void signal() {
        if (event_fd < 0) return;
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t r = ::write(event_fd, &one, sizeof one);
    }
    void drain_signal() {
        if (event_fd < 0) return;
        uint64_t value = 0;
        [[maybe_unused]] const ssize_t r = ::read(event_fd, &value, sizeof value);
    }

    const bool instant;
    const int event_fd;  // readable while bytes wait (not for instant ports)
    mutable std::mutex mutex;
    ByteQueue in;  // the peer's bytes
    std::string out;         // what the line wrote
    bool hung_up = false;
    std::function<void(std::string_view)> answer;  // set before the line runs
};

namespace {

constexpr size_t kMaxWritten = size_t{1} << 20;

std::mutex& registry_mutex() {
    static std::mutex m;
    return m;
}
std::map<int, std::shared_ptr<MemoryChannel>>& registry() {
    static std::map<int, std::shared_ptr<MemoryChannel>> r;
    return r;
}

int memory_open(OpenPort& p, const PortEndpoint&, const OpenOptions&, std::string& why) {
    p.memory = memory_channel(p.number);
    if (!p.memory) {
        why = "memory port " + std::to_string(p.number) + " is gone";
        return kFailed;
    }
    return 0;
}

void memory_close(OpenPort& p) { p.memory.reset(); }

int memory_set_format(OpenPort&, int, int) { return 0; }  // it runs at any rate

int memory_status(OpenPort& p) {
    std::lock_guard<std::mutex> lock(p.memory->mutex);
    return p.memory->hung_up && p.memory->in.empty() ? kFailed : 0;
}

int memory_flush(OpenPort& p, int selector) {
    if (selector == 1) return 0;
    std::lock_guard<std::mutex> lock(p.memory->mutex);
    p.memory->in.clear();
    return 0;
}

int memory_read_now(OpenPort& p, char* buffer, int count) {
    MemoryChannel& c = *p.memory;
    std::lock_guard<std::mutex> lock(c.mutex);
    if (c.in.empty()) {
        c.drain_signal();
        return c.hung_up ? kFailed : 0;
    }
    const size_t n = c.in.take(buffer, static_cast<size_t>(count));
    if (c.in.empty()) c.drain_signal();
    return static_cast<int>(n);
}

int memory_wait(OpenPort& p, int wake_fd, int timeout_ms) {
    MemoryChannel& c = *p.memory;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        if (!c.in.empty() || c.hung_up) return 1;
    }
    if (c.instant || timeout_ms == 0) return 0;
    pollfd fds[2] = {{c.event_fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(fds, wake_fd >= 0 ? 2 : 1, timeout_ms);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return ready < 0 ? kFailed : 0;
        return (fds[0].revents & POLLIN) != 0 ? 1 : 0;
    }
}

int memory_write_now(OpenPort& p, const char* buffer, int count) {
    MemoryChannel& c = *p.memory;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        if (c.hung_up) return kFailed;
        c.out.append(buffer, static_cast<size_t>(count));
        if (c.out.size() > kMaxWritten) c.out.erase(0, c.out.size() - kMaxWritten);
    }
    if (c.answer) c.answer(std::string_view(buffer, static_cast<size_t>(count)));  // no lock held: it feeds
    return count;
}

}  // namespace

const Transport kMemoryTransport = {memory_open,     memory_close,   memory_set_format, memory_status,
                                    memory_flush,    memory_read_now, memory_wait,       memory_write_now};

std::shared_ptr<MemoryChannel> memory_channel(int number) {
    std::lock_guard<std::mutex> lock(registry_mutex());
    auto it = registry().find(number);
    return it == registry().end() ? nullptr : it->second;
}

MemoryPort::MemoryPort(int number, bool instant)
    : number_(number), channel_(std::make_shared<MemoryChannel>(instant)) {
    std::lock_guard<std::mutex> lock(registry_mutex());
    registry()[number] = channel_;
}

MemoryPort::~MemoryPort() {
    std::lock_guard<std::mutex> lock(registry_mutex());
    auto it = registry().find(number_);
    if (it != registry().end() && it->second == channel_) registry().erase(it);
}

void MemoryPort::feed(const uint8_t* data, size_t size) {
    std::lock_guard<std::mutex> lock(channel_->mutex);
    channel_->in.append(data, size);
    channel_->signal();
}

std::string MemoryPort::take_written() {
    std::lock_guard<std::mutex> lock(channel_->mutex);
    std::string taken;
    taken.swap(channel_->out);
    return taken;
}

void MemoryPort::drop_written() {
    std::lock_guard<std::mutex> lock(channel_->mutex);
    channel_->out.clear();
}

size_t MemoryPort::unread() const {
    std::lock_guard<std::mutex> lock(channel_->mutex);
    return channel_->in.size();
}

void MemoryPort::answer_with(std::function<void(std::string_view)> answer) {
    std::lock_guard<std::mutex> lock(channel_->mutex);
    channel_->answer = std::move(answer);
}

void MemoryPort::hang_up() {
    std::lock_guard<std::mutex> lock(channel_->mutex);
    channel_->hung_up = true;
    channel_->signal();
}

}  // namespace tarvo::serial
