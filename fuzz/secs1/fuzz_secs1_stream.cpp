// Feeds a peer's byte stream to a SECS-I line on an in-memory port: the
// line's own Step, link protocol and message assembly run unchanged, and a
// read that finds no byte is a read timeout at once, so T1, T2 and pauses
// cost nothing. The input is a list of steps, each chosen by one byte:
//   0  raw bytes: a count byte, then that many bytes as they are
//   1  ENQ and one block with a correct checksum: a length byte (any value,
//      so bad lengths come too), then the header and data bytes
//   2  a pause: the line runs with nothing to read (gaps inside blocks, T1, T2)
//   3  the line queues a message of its own (the peer's bytes then meet its
//      handshake: contention, EOT, NAK, ACK)
//   4  a new current message: ten header bytes (its identity)
//   5  the next block of the current message: a flag byte (E-bit), a data
//      length, the data
//   6  the last block of the current message again (a repetition)
//   7  the current message restarted: block number 0 or 1 again
// The first byte says how the peer answers the line's own writes at once:
// bit 0 an EOT to its ENQ, bit 1 an ACK to its block (bit 2: a NAK instead),
// so the line's sends can succeed, fail or be refused mid-message.
// Every delivered message is decoded. Every send must end in exactly one
// OnSecsWritten: a second one, or none once the input is over, aborts.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "driver/secs1/secsicomm.h"
#include "platform/serial/memory_port.h"

namespace {

using namespace tarvo;

class Counting : public LineOwner {
public:
    void OnSecsRead() override { ++reads; }
    void OnSecsNotify(int) override {}
    void OnSecsWritten(int) override { ++outcomes; }
    long reads = 0;
    long outcomes = 0;
};

constexpr int kPort = 3;

struct Harness {
    Harness() : port(kPort, true) {
        line.SetCQuill1(&owner);
        line.msg.set_log_mask(0);
        line.read_timeout = 1;
        line.T1 = 3;
        line.T2 = 6;
        // T3 and T4 run on the timer thread in real time. Short, so that the
        // replies and blocks still awaited stay few (each received block is
        // looked up among them) and their expiry is reached often.
        line.T3 = 5;
        line.T4 = 5;
        line.retry = 2;
        line.port = kPort;
        if (line.port_open() != 0) std::abort();
        port.answer_with([this](std::string_view written) {
            if (written == "\x05" && (answer & 1)) port.feed("\x04");
            if (written.size() > 2 && (answer & 2)) port.feed((answer & 4) ? "\x15" : "\x06");
        });
    }

    // Runs the line until it has read what the peer sent, and drops what it
    // wrote.
    void run(int at_least = 1) {
        for (int i = 0; i < 64 && (i < at_least || port.unread() > 0); ++i) line.Step();
        port.drop_written();
    }

    // ENQ, a length byte, `n` bytes of `raw` and their checksum.
    void send_block(uint8_t length, const uint8_t* raw, size_t n) {
        uint8_t wire[2 + 256 + 2];
        wire[0] = 0x05;
        wire[1] = length;
        std::memcpy(wire + 2, raw, n);
        unsigned sum = 0;
        for (size_t i = 0; i < n; ++i) sum += raw[i];
        wire[2 + n] = static_cast<uint8_t>(sum >> 8);
        wire[3 + n] = static_cast<uint8_t>(sum);
        port.feed(wire, n + 4);
        run();
    }

    // A block of the current message: its header with `number` and the E-bit.
    void block(int number, bool last, const uint8_t* data, size_t n) {
        uint8_t raw[10 + 245];
        std::memcpy(raw, header, 10);
        raw[4] = static_cast<uint8_t>(((number >> 8) & 0x7F) | (last ? 0x80 : 0));
        raw[5] = static_cast<uint8_t>(number);
        n = std::min<size_t>(n, 245);
        std::memcpy(raw + 10, data, n);
        send_block(static_cast<uint8_t>(10 + n), raw, 10 + n);
    }

    serial::MemoryPort port;
    Counting owner;
    secsicomm line;
    long sends = 0;
    uint8_t answer = 0;  // how the peer answers the line's writes (first input byte)
    // The current message of steps 4 to 7.
    uint8_t header[10] = {};
    int number = 1;
    bool last = false;
    uint8_t last_data[245] = {};
    size_t last_size = 0;
};

Harness& harness() {
    static Harness* h = new Harness();  // lives for the whole run
    return *h;
}

}  // namespace

// The line allocates and frees a few small objects per step. Behind ASan's
// default quarantine of 256 MB nearly every allocation lands on a page not
// touched for a while; 16 MB still keeps the memory freed by the last
// thousands of inputs poisoned. ASAN_OPTIONS still decides when it is set.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Harness& h = harness();
    if (size == 0) return 0;
    h.answer = data[0];
    size_t at = 1;
    auto take = [&](size_t n) {
        const size_t k = std::min(n, size - at);
        const uint8_t* p = data + at;
        at += k;
        return std::pair<const uint8_t*, size_t>(p, k);
    };
    for (int steps = 0; at < size && steps < 64; ++steps) {
        const uint8_t kind = data[at++] % 8;
        if (kind == 0 && at < size) {
            const auto [p, n] = take(data[at++]);
            h.port.feed(p, n);
            h.run();
        } else if (kind == 1 && at < size) {
            const uint8_t length = data[at++];
            const auto [p, n] = take(length);
            h.send_block(length, p, n);
        } else if (kind == 2) {
            h.run(4);
        } else if (kind == 3) {
            ++h.sends;
            h.line.SendMessage("S1F1W");
            h.run();
        } else if (kind == 4) {
            const auto [p, n] = take(10);
            std::memset(h.header, 0, sizeof h.header);
            std::memcpy(h.header, p, n);
            h.number = 0;
        } else if (kind == 5 && at + 1 < size) {
            const bool last = (data[at++] & 1) != 0;
            const auto [p, n] = take(data[at++] % 245);
            std::memcpy(h.last_data, p, n);
            h.last_size = n;
            h.last = last;
            h.block(++h.number, last, p, n);
        } else if (kind == 6) {
            h.block(h.number, h.last, h.last_data, h.last_size);
        } else if (kind == 7 && at < size) {
            h.number = data[at++] & 1;
            h.last = false;
            h.block(h.number, false, h.last_data, h.last_size);
        }
    }
    // With the peer silent, every send still under way ends.
    for (int i = 0; i < 400 && h.owner.outcomes < h.sends; ++i) h.line.Step();
    h.port.drop_written();
    if (h.owner.outcomes != h.sends) {
        std::fprintf(stderr, "%ld sends ended in %ld OnSecsWritten\n", h.sends, h.owner.outcomes);
        std::abort();
    }
    while (h.line.msg.NextMessage() == 0) {
    }
    return 0;
}
