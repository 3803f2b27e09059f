#include "tests/secs1/secs1_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace tarvo::secs1_test {

namespace {

using Clock = std::chrono::steady_clock;

int remaining(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

void put16(Bytes& out, int value) {
    out.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
    out.push_back(static_cast<uint8_t>(value & 0xFF));
}

}  // namespace

Bytes wire_block(const BlockHeader& h, const Bytes& data) {
    Bytes raw;
    put16(raw, (h.r ? 0x8000 : 0) | (h.device & 0x7FFF));
    raw.push_back(static_cast<uint8_t>((h.w ? 0x80 : 0) | (h.stream & 0x7F)));
    raw.push_back(static_cast<uint8_t>(h.function));
    put16(raw, (h.e ? 0x8000 : 0) | (h.number & 0x7FFF));
    put16(raw, h.source);
    put16(raw, h.transaction);
    raw.insert(raw.end(), data.begin(), data.end());
    int sum = 0;
    for (uint8_t b : raw) sum += b;
    Bytes out;
    out.reserve(raw.size() + 3);
    out.push_back(static_cast<uint8_t>(raw.size()));
    for (uint8_t b : raw) out.push_back(b);
    put16(out, sum);
    return out;
}

PtyPeer::PtyPeer(int port) : ScriptedPeer(port) {
    char name[128] = {};
    int slave = -1;
    if (::openpty(&master_, &slave, name, nullptr, nullptr) == 0) {
        ::close(slave);  // the line opens the device by its name
        ::fcntl(master_, F_SETFL, O_NONBLOCK);
        ::fcntl(master_, F_SETFD, FD_CLOEXEC);
        device_ = name;
    }
    ports_file_ = "/tmp/tarvo-secs1-ports-" + std::to_string(::getpid()) + "-" + std::to_string(port);
    std::ofstream out(ports_file_);
    out << port << " " << device_ << "\n";
    out.close();
    ::setenv("TARVO_PORTS", ports_file_.c_str(), 1);
}

PtyPeer::~PtyPeer() {
    hang_up();
    std::remove(ports_file_.c_str());
}

void PtyPeer::hang_up() {
    if (master_ < 0) return;
    // The device's name is free again once its master closes, and the next
    // pseudo-terminal anyone opens may get it: the port now names nothing,
    // so a line that keeps reopening it never reaches another test's device.
    std::ofstream(ports_file_) << port_ << " /nonexistent/tarvo-hung-up\n";
    ::close(master_);
    master_ = -1;
}

bool PtyPeer::send(const Bytes& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else {
            pollfd pf{master_, POLLOUT, 0};
            if (::poll(&pf, 1, kWait) <= 0) return false;
        }
    }
    return true;
}

std::optional<Bytes> PtyPeer::read_bytes(size_t n, int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    Bytes got;
    uint8_t buffer[512];
    while (got.size() < n) {
        const ssize_t r = ::read(master_, buffer, std::min(sizeof buffer, n - got.size()));
        if (r > 0) {
            got.insert(got.end(), buffer, buffer + r);
            continue;
        }
        pollfd pf{master_, POLLIN, 0};
        const int left = remaining(deadline);
        if (left == 0 || ::poll(&pf, 1, left) <= 0) return std::nullopt;
    }
    return got;
}

MemoryPeer::MemoryPeer(int port) : ScriptedPeer(port), memory_(std::make_unique<serial::MemoryPort>(port, false)) {}

MemoryPeer::~MemoryPeer() = default;

bool MemoryPeer::send(const Bytes& bytes) {
    memory_->feed(bytes.data(), bytes.size());
    return true;
}

std::optional<Bytes> MemoryPeer::read_bytes(size_t n, int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        written_ += memory_->take_written();
        if (written_.size() >= n) {
            Bytes got(written_.begin(), written_.begin() + static_cast<std::ptrdiff_t>(n));
            written_.erase(0, n);
            return got;
        }
        if (remaining(deadline) == 0) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void MemoryPeer::hang_up() { memory_->hang_up(); }

std::optional<uint8_t> ScriptedPeer::read_byte(int ms) {
    const auto b = read_bytes(1, ms);
    if (!b) return std::nullopt;
    return (*b)[0];
}

std::optional<Bytes> ScriptedPeer::read_block(int ms) {
    const auto length = read_byte(ms);
    if (!length) return std::nullopt;
    auto rest = read_bytes(static_cast<size_t>(*length) + 2, ms);
    if (!rest) return std::nullopt;
    rest->insert(rest->begin(), *length);
    return rest;
}

bool ScriptedPeer::quiet(int ms) { return !read_byte(ms).has_value(); }

std::optional<std::vector<Bytes>> ScriptedPeer::receive_message(int ms) {
    std::vector<Bytes> blocks;
    for (;;) {
        if (read_byte(ms) != kENQ) return std::nullopt;
        send_byte(kEOT);
        auto block = read_block(ms);
        if (!block) return std::nullopt;
        send_byte(kACK);
        blocks.push_back(*block);
        if ((*block)[5] & 0x80) return blocks;  // E-bit
    }
}

bool ScriptedPeer::deliver(const Bytes& block, int ms) {
    send_byte(kENQ);
    if (read_byte(ms) != kEOT) return false;
    send(block);
    return read_byte(ms) == kACK;
}

}  // namespace tarvo::secs1_test
