// Test tools for the HSMS line: an owner that records events and lets a test
// wait for them, a scripted peer on raw loopback sockets, a worker thread that
// runs Step as the driver does, and a capture of the process log.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "driver/hsms/hsms_header.h"
#include "driver/hsms/secsitcp.h"
#include "tests/line/line_probe.h"

namespace tarvo::hsms_test {

using line_test::eventually;
using line_test::ms_since;
using line_test::on_time;
using line_test::kWait;
using line_test::LogCapture;
using line_test::RecordingOwner;
using line_test::Worker;

using hsms::Header;
using Bytes = std::vector<uint8_t>;

// A TCP port on 127.0.0.1 that was free a moment ago.
int free_port();

// One raw connection in the role of the other HSMS party.
class Peer {
public:
    Peer() = default;
    explicit Peer(int fd) : fd_(fd) {}
    ~Peer();
    Peer(Peer&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Peer& operator=(Peer&& other) noexcept;

    // Connects to 127.0.0.x:port (x = `host_byte`); an invalid peer on failure.
    static Peer connect_to(int port, int host_byte = 1);

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    bool send(const void* data, size_t n);
    bool send(const Header& h) { return send(h.data(), h.size()); }
    bool send(const Bytes& b) { return send(b.data(), b.size()); }
    std::optional<Header> read_header(int ms = kWait);
    std::optional<Bytes> read_bytes(size_t n, int ms = kWait);
    // The line closed the connection (end of stream or reset) within `ms`;
    // anything that arrives first is skipped.
    bool wait_closed(int ms = kWait);
    // The connection ends within `ms` with no byte before the end.
    bool next_is_close(int ms = kWait);
    // Nothing arrives and the connection stays open for `ms`.
    bool quiet(int ms);
    // Close with a reset instead of an orderly end.
    void reset();
    void close();

private:
    int fd_ = -1;
};

// A listening socket on 127.0.0.1 for an active line to connect to.
class Listener {
public:
    explicit Listener(int receive_buffer = 0);
    ~Listener();
    int port() const { return port_; }
    Peer accept(int ms = kWait);

private:
    int fd_ = -1;
    int port_ = 0;
};

Header control(uint8_t stype, uint16_t session = 0xFFFF, uint16_t source = 0, uint16_t transaction = 2,
               uint8_t byte3 = 0);
Header data_header(uint16_t session, int stream, int function, bool w, uint16_t source, uint16_t transaction,
                   uint32_t body_length);
Header with_length(Header h, uint32_t length);
std::string hex(const Header& h);

// Every record kind, so that tests can look for any record.
constexpr int32_t kAllRecords = 0x1FFF;

// Timeouts of tens of milliseconds for a fast suite; idle sleep short too;
// every record kind logged.
void fast_timers(secsitcp& line);

}  // namespace tarvo::hsms_test
