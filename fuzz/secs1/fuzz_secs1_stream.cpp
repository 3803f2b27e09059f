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
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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
        line.T3 = 30;
        line.T4 = 30;
        line.retry = 2;
        line.port = kPort;
        if (line.port_open() != 0) std::abort();
        port.answer_with([this](const std::string& written) {
            if (written == "\x05" && (answer & 1)) port.feed("\x04");
            if (written.size() > 2 && (answer & 2)) port.feed((answer & 4) ? "\x15" : "\x06");
        });
    }

    // Runs the line until it has read what the peer sent, and drops what it
    // wrote.
    void run(int at_least = 1) {
        for (int i = 0; i < 64 && (i < at_least || port.unread() > 0); ++i) line.Step();
        port.take_written();
    }

    void block(const std::vector<uint8_t>& header, int number, bool last, const uint8_t* data, size_t n) {
        std::vector<uint8_t> raw(header.begin(), header.end());
        raw.resize(10);
        raw[4] = static_cast<uint8_t>(((number >> 8) & 0x7F) | (last ? 0x80 : 0));
        raw[5] = static_cast<uint8_t>(number);
        raw.insert(raw.end(), data, data + n);
        std::vector<uint8_t> wire{0x05, static_cast<uint8_t>(raw.size())};
        unsigned sum = 0;
        for (uint8_t b : raw) sum += b;
        wire.insert(wire.end(), raw.begin(), raw.end());
        wire.push_back(static_cast<uint8_t>(sum >> 8));
        wire.push_back(static_cast<uint8_t>(sum));
        port.feed(wire.data(), wire.size());
        run();
    }

    serial::MemoryPort port;
    Counting owner;
    secsicomm line;
    long sends = 0;
    uint8_t answer = 0;  // how the peer answers the line's writes (first input byte)
    // The current message of steps 4 to 7.
    std::vector<uint8_t> header = std::vector<uint8_t>(10, 0);
    int number = 1;
    bool last = false;
    std::vector<uint8_t> last_data;
};

Harness& harness() {
    static Harness* h = new Harness();  // lives for the whole run
    return *h;
}

}  // namespace

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
            std::vector<uint8_t> block{0x05, length};
            block.insert(block.end(), p, p + n);
            unsigned sum = 0;
            for (size_t i = 0; i < n; ++i) sum += p[i];
            block.push_back(static_cast<uint8_t>(sum >> 8));
            block.push_back(static_cast<uint8_t>(sum));
            h.port.feed(block.data(), block.size());
            h.run();
        } else if (kind == 2) {
            h.run(4);
        } else if (kind == 3) {
            ++h.sends;
            h.line.SendMessage("S1F1W");
            h.run();
        } else if (kind == 4) {
            const auto [p, n] = take(10);
            h.header.assign(p, p + n);
            h.header.resize(10);
            h.number = 0;
        } else if (kind == 5 && at + 1 < size) {
            const bool last = (data[at++] & 1) != 0;
            const auto [p, n] = take(data[at++] % 245);
            h.last_data.assign(p, p + n);
            h.last = last;
            h.block(h.header, ++h.number, last, p, n);
        } else if (kind == 6) {
            h.block(h.header, h.number, h.last, h.last_data.data(), h.last_data.size());
        } else if (kind == 7 && at < size) {
            h.number = data[at++] & 1;
            h.last = false;
            h.block(h.header, h.number, false, h.last_data.data(), h.last_data.size());
        }
    }
    // With the peer silent, every send still under way ends.
    for (int i = 0; i < 400 && h.owner.outcomes < h.sends; ++i) h.line.Step();
    h.port.take_written();
    if (h.owner.outcomes != h.sends) {
        std::fprintf(stderr, "%ld sends ended in %ld OnSecsWritten\n", h.sends, h.owner.outcomes);
        std::abort();
    }
    while (h.line.msg.NextMessage() == 0) {
    }
    return 0;
}
