// The SECS-I line's own cost per exchange, on a port in memory whose peer
// answers at once (EOT to ENQ, ACK to a block), so no time goes in waiting:
//   - an idle Step (nothing to read, nothing to send);
//   - sending S6F11: the handshake, one block, its acknowledgement;
//   - S1F1W out and S1F2 back, up to the reply's delivery;
//   - receiving one block of a one-block message, up to its delivery;
//   - receiving a three-block message.
// Log mask 0. The line's Step runs on the benchmark's thread.
#include <benchmark/benchmark.h>

#include "bench/command_line.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "driver/secs1/s_block.h"
#include "driver/secs1/secsicomm.h"
#include "platform/serial/memory_port.h"

namespace tarvo {
namespace {

constexpr int kPort = 7;

class Counting : public LineOwner {
public:
    void OnSecsRead() override { ++reads; }
    void OnSecsNotify(int) override {}
    void OnSecsWritten(int) override { ++written; }
    long reads = 0;
    long written = 0;
};

// A line on an instant memory port whose peer takes every ENQ and block.
struct Bench {
    Bench() : port(kPort, true) {
        line.SetCQuill1(&owner);
        line.msg.set_log_mask(0);
        line.read_timeout = 1;
        line.T3 = 45000;
        line.port = kPort;
        port.answer_with([this](std::string_view written) {
            if (written == "\x05") port.feed("\x04");
            if (written.size() > 2) port.feed("\x06");
        });
        if (line.port_open() != 0) std::abort();
    }

    // Runs the line until it read all that was fed and has nothing queued.
    void settle() {
        for (int i = 0; i < 1000 && (port.unread() > 0 || i == 0); ++i) line.Step();
        port.take_written();
    }

    // ENQ, the length byte, `raw` (header and data) and its checksum.
    static std::string wire_of(const std::string& raw) {
        S_BLOCK block;
        std::copy(raw.begin(), raw.end(), block.raw.begin());
        block.seal(static_cast<uint8_t>(raw.size()));
        std::string wire = "\x05";
        wire += static_cast<char>(block.length);
        wire.append(reinterpret_cast<const char*>(block.raw.data()), block.length + 2u);
        return wire;
    }

    // One block of an S6F11 without reply, data `body`.
    static std::string block_of(int number, bool last, const std::string& body, uint16_t system) {
        std::string raw(10, '\0');
        raw[1] = 1;   // device 1
        raw[2] = 6;   // S6
        raw[3] = 11;  // F11
        raw[4] = static_cast<char>(((number >> 8) & 0x7F) | (last ? 0x80 : 0));
        raw[5] = static_cast<char>(number);
        raw[8] = static_cast<char>(system >> 8);
        raw[9] = static_cast<char>(system);
        return wire_of(raw + body);
    }

    // Runs the line over what was fed and takes every message it delivered.
    void deliver() {
        settle();
        while (line.msg.NextMessage() == 0) {
        }
    }

    serial::MemoryPort port;
    Counting owner;
    secsicomm line;
};

void BM_IdleStep(benchmark::State& state) {
    Bench b;
    for (auto _ : state) b.line.Step();
}
BENCHMARK(BM_IdleStep);

void BM_SendS6F11(benchmark::State& state) {
    Bench b;
    for (auto _ : state) {
        b.line.SendMessage("S6F11 <L <U4 1> <U4 2> <L>>");
        b.settle();
    }
    if (b.owner.written != static_cast<long>(state.iterations())) state.SkipWithError("a send did not end");
}
BENCHMARK(BM_SendS6F11)->Unit(benchmark::kMicrosecond);

// S1F1W out, S1F2 back from the peer: the send, the reply timer set and
// cancelled, the reply matched to it and delivered.
void BM_RoundTripS1F1W(benchmark::State& state) {
    Bench b;
    std::string sent;  // the last block the line wrote, from its header (the length byte goes alone)
    b.port.answer_with([&](std::string_view written) {
        if (written == "\x05") b.port.feed("\x04");
        if (written.size() > 2) {
            sent = written;
            b.port.feed("\x06");
        }
    });
    const std::string body = "\x41\x02" "OK";
    uint16_t transaction = 0;
    for (auto _ : state) {
        // A transaction of its own: a reply with the header of the last one
        // would be taken for its repetition.
        b.line.msg.set_out_transaction_id(++transaction);
        b.line.SendMessage("S1F1W");
        b.settle();
        if (sent.size() < 12) {
            state.SkipWithError("no block went out");
            break;
        }
        std::string raw = sent.substr(0, 10);
        raw[0] = static_cast<char>(raw[0] ^ 0x80);  // R-bit: the other way
        raw[2] = 1;                                 // S1, no W-bit
        raw[3] = 2;                                 // F2
        raw[4] = static_cast<char>(0x80);           // the last block, number 1
        raw[5] = 1;
        b.port.feed(Bench::wire_of(raw + body));
        b.deliver();
    }
    if (b.owner.reads != static_cast<long>(state.iterations())) state.SkipWithError("a reply was not delivered");
}
BENCHMARK(BM_RoundTripS1F1W)->Unit(benchmark::kMicrosecond);

void BM_ReceiveOneBlock(benchmark::State& state) {
    Bench b;
    const std::string body = "\x41\x08" "ABCDEFGH";
    uint16_t system = 0;
    for (auto _ : state) {
        b.port.feed(Bench::block_of(1, true, body, ++system));
        b.deliver();
    }
    if (b.owner.reads != static_cast<long>(state.iterations())) state.SkipWithError("a message was not delivered");
}
BENCHMARK(BM_ReceiveOneBlock)->Unit(benchmark::kMicrosecond);

void BM_ReceiveThreeBlocks(benchmark::State& state) {
    Bench b;
    const std::string body(244, 'x');
    uint16_t system = 0;
    for (auto _ : state) {
        ++system;
        for (int n = 1; n <= 3; ++n) b.port.feed(Bench::block_of(n, n == 3, body, system));
        b.deliver();
    }
    if (b.owner.reads != static_cast<long>(state.iterations())) state.SkipWithError("a message was not delivered");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 3 * 244);
}
BENCHMARK(BM_ReceiveThreeBlocks)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarvo

int main(int argc, char** argv) {
    tarvo::command_line::init_benchmark(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
