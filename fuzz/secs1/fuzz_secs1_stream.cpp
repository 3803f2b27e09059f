// Feeds a peer's byte stream to a SECS-I line on a pseudo-terminal. The input
// is a list of steps, each chosen by one byte:
//   0  raw bytes: a count byte, then that many bytes as they are
//   1  ENQ and one block with a correct checksum: a length byte (any value,
//      so bad lengths come too), then the header and data bytes
//   2  a pause of a few read timeouts (gaps inside blocks, T1, T2)
//   3  the line queues a message of its own (the peer's bytes then meet its
//      handshake: contention, EOT, NAK, ACK)
// Whatever the line writes is read and dropped; whatever it delivers is
// taken from its inbox and decoded.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "driver/secs1/secsicomm.h"

namespace {

using namespace tarvo;

class Silent : public LineOwner {
public:
    void OnSecsRead() override {}
    void OnSecsNotify(int) override {}
    void OnSecsWritten(int) override {}
};

struct Harness {
    Harness() {
        char name[128] = {};
        int slave = -1;
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) std::abort();
        ::close(slave);
        ::fcntl(master, F_SETFL, O_NONBLOCK);
        const std::string ports = "/tmp/tarvo-fuzz-ports-" + std::to_string(::getpid());
        std::ofstream(ports) << "3 " << name << "\n";
        ::setenv("TARVO_PORTS", ports.c_str(), 1);
        line.SetCQuill1(&owner);
        line.msg.set_log_mask(0);
        line.read_timeout = 1;
        line.T1 = 3;
        line.T2 = 6;
        line.T3 = 30;
        line.T4 = 30;
        line.retry = 2;
        line.port = 3;
        if (line.port_open() != 0) std::abort();
        worker = std::thread([this] {
            while (!stop.load()) line.Step();
        });
    }

    // Reads and drops what the line has written, until it has been quiet
    // for `quiet_ms`.
    void drain(int quiet_ms) const {
        uint8_t buffer[1024];
        for (int rounds = 0; rounds < 200; ++rounds) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, quiet_ms) <= 0) return;
            if (::read(master, buffer, sizeof buffer) <= 0) return;
        }
    }

    void send(const uint8_t* data, size_t size) const {
        while (size > 0) {
            const ssize_t n = ::write(master, data, size);
            if (n <= 0) {
                drain(1);
                continue;
            }
            data += n;
            size -= static_cast<size_t>(n);
        }
    }

    Silent owner;
    secsicomm line;
    int master = -1;
    std::atomic<bool> stop{false};
    std::thread worker;
};

Harness& harness() {
    static Harness* h = new Harness();  // lives for the whole run
    return *h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Harness& h = harness();
    size_t at = 0;
    auto take = [&](size_t n) {
        const size_t k = std::min(n, size - at);
        const uint8_t* p = data + at;
        at += k;
        return std::pair<const uint8_t*, size_t>(p, k);
    };
    for (int steps = 0; at < size && steps < 32; ++steps) {
        const uint8_t kind = data[at++] % 4;
        if (kind == 0 && at < size) {
            const auto [p, n] = take(data[at++]);
            h.send(p, n);
        } else if (kind == 1 && at < size) {
            const uint8_t length = data[at++];
            const auto [p, n] = take(length);
            std::vector<uint8_t> block{0x05, length};
            block.insert(block.end(), p, p + n);
            unsigned sum = 0;
            for (size_t i = 0; i < n; ++i) sum += p[i];
            block.push_back(static_cast<uint8_t>(sum >> 8));
            block.push_back(static_cast<uint8_t>(sum));
            h.send(block.data(), block.size());
        } else if (kind == 2) {
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        } else if (kind == 3) {
            h.line.SendMessage("S1F1W");
        }
        h.drain(0);
    }
    h.drain(8);
    while (h.line.msg.NextMessage() == 0) {
    }
    return 0;
}
