// Speed of the HSMS line over loopback:
//   - S1F1W / S1F2 round trips between two lines in one process (the
//     equipment replies from inside its read event, as an automatic reply);
//   - one-way S6F11 messages of about 1 KiB, with log mask 0 and with the
//     default mask writing to a real log file in /tmp;
//   - the time from SendMessage to the last byte arriving at a raw peer.
// Each line runs its Step on a worker thread, as the driver object does.
#include <benchmark/benchmark.h>

#include "bench/command_line.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/log/streams_logger.h"
#include "driver/hsms/hsms_header.h"
#include "driver/hsms/secsitcp.h"
#include "driver/log/notify_code.h"
#include "driver/log/log_mask.h"

namespace tarvo {
namespace {

using Clock = std::chrono::steady_clock;

class Events : public LineOwner {
public:
    void OnSecsRead() override {
        if (on_read) on_read();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++reads_;
        }
        changed_.notify_all();
    }
    void OnSecsNotify(int code) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (code == nHSMSConnectionActive || code == nHSMSConnectionPassivePlus) ++selected_;
        changed_.notify_all();
    }
    void OnSecsWritten(int) override {}

    bool wait_reads(long count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return reads_ >= count; });
    }
    bool wait_selected() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return selected_ > 0; });
    }
    long reads() {
        std::lock_guard<std::mutex> lock(mutex_);
        return reads_;
    }

    std::function<void()> on_read;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    long reads_ = 0;
    int selected_ = 0;
};

class Worker {
public:
    explicit Worker(secsitcp& line) : line_(line), thread_([this] {
        while (!stop_.load()) line_.Step();
    }) {}
    ~Worker() {
        stop_ = true;
        line_.wake();
        thread_.join();
    }

private:
    secsitcp& line_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

int free_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t size = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    ::close(fd);
    return ntohs(a.sin_port);
}

// An equipment (passive) and a host (active) line, connected and selected.
struct Pair {
    explicit Pair(int32_t mask) {
        const int port = free_port();
        for (secsitcp* line : {&equipment, &host}) {
            line->port = port;
            line->msg.set_log_mask(mask);
        }
        equipment.SetCQuill1(&equipment_events);
        host.SetCQuill1(&host_events);
        equipment.conn_mode = equipment.conn_mode_new = cmPASSIVE;
        host.conn_mode = host.conn_mode_new = cmACTIVE;
        equipment.port_open();
        equipment_worker = std::make_unique<Worker>(equipment);
        ok = host.port_open() == 0 && equipment_events.wait_selected();
        host_worker = std::make_unique<Worker>(host);
    }
    ~Pair() {
        host_worker.reset();
        equipment_worker.reset();
    }

    Events equipment_events;
    Events host_events;
    secsitcp equipment;
    secsitcp host;
    std::unique_ptr<Worker> equipment_worker;
    std::unique_ptr<Worker> host_worker;
    bool ok = false;
};

void BM_RoundTripS1F1S1F2(benchmark::State& state) {
    Pair pair(0);
    if (!pair.ok) {
        state.SkipWithError("lines did not connect");
        return;
    }
    pair.equipment_events.on_read = [&] {
        if (pair.equipment.msg.NextMessage() == 0) pair.equipment.Reply("S1F2 <L <A 'BENCH'> <A '1.0'>>");
    };
    long done = 0;
    for (auto _ : state) {
        pair.host.SendMessage("S1F1 W");
        if (!pair.host_events.wait_reads(++done)) {
            state.SkipWithError("no reply");
            break;
        }
        pair.host.msg.NextMessage();
    }
    pair.equipment_events.on_read = nullptr;
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RoundTripS1F1S1F2)->UseRealTime()->Unit(benchmark::kMicrosecond);

// About 1 KiB of body: a list of a 1000-character text and two integers.
std::string s6f11_text() {
    return "S6F11 <L <U4 1> <U4 4001> <A '" + std::string(1000, 'x') + "'>>";
}

void one_way(benchmark::State& state, int32_t mask) {
    Pair pair(mask);
    if (!pair.ok) {
        state.SkipWithError("lines did not connect");
        return;
    }
    const std::string text = s6f11_text();
    constexpr int kBatch = 100;
    long sent = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) pair.host.SendMessage(text);
        sent += kBatch;
        if (!pair.equipment_events.wait_reads(sent)) {
            state.SkipWithError("messages lost");
            break;
        }
        while (pair.equipment.msg.NextMessage() == 0) {
        }
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    state.SetBytesProcessed(state.iterations() * kBatch * 1024);
}

void BM_OneWayS6F11_LogMask0(benchmark::State& state) { one_way(state, 0); }
void BM_OneWayS6F11_LogMaskDefault(benchmark::State& state) { one_way(state, kDefaultLogMask); }
BENCHMARK(BM_OneWayS6F11_LogMask0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OneWayS6F11_LogMaskDefault)->UseRealTime()->Unit(benchmark::kMillisecond);

// SendMessage to the last byte at a raw peer; the line's worker is idle in
// its wait when the message is queued.
void BM_SendToPeerLatency(benchmark::State& state) {
    const int listening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listening, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listening, 4);
    socklen_t size = sizeof a;
    ::getsockname(listening, reinterpret_cast<sockaddr*>(&a), &size);

    Events events;
    secsitcp line;
    line.SetCQuill1(&events);
    line.msg.set_log_mask(0);
    line.conn_mode = line.conn_mode_new = cmACTIVE;
    line.port = ntohs(a.sin_port);
    int peer = -1;
    std::thread answer([&] {
        peer = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
        uint8_t request[hsms::kHeaderSize];
        ::recv(peer, request, sizeof request, MSG_WAITALL);
        request[9] = hsms::stSelectRsp;
        ::send(peer, request, sizeof request, MSG_NOSIGNAL);
    });
    const int opened = line.port_open();
    answer.join();
    if (opened != 0) {
        state.SkipWithError("line did not connect");
        ::close(listening);
        return;
    }
    Worker worker(line);
    const std::string text = "S6F11 <L <U4 1> <U4 4001> <A 'EVENT'>>";
    std::vector<double> samples;
    std::vector<uint8_t> buffer(4096);
    for (auto _ : state) {
        state.PauseTiming();
        std::this_thread::sleep_for(std::chrono::microseconds(200));  // let the worker settle in its wait
        state.ResumeTiming();
        const auto start = Clock::now();
        line.SendMessage(text);
        uint8_t header[hsms::kHeaderSize];
        ::recv(peer, header, sizeof header, MSG_WAITALL);
        hsms::Header h;
        std::copy(header, header + sizeof header, h.begin());
        const size_t body = hsms::message_length(h) - hsms::kControlLength;
        ::recv(peer, buffer.data(), body, MSG_WAITALL);
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    if (!samples.empty()) {
        std::sort(samples.begin(), samples.end());
        state.counters["median_us"] = samples[samples.size() / 2];
        state.counters["p99_us"] = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
    }
    line.active_wanted = false;
    line.port_disconnect();
    ::close(peer);
    ::close(listening);
}
BENCHMARK(BM_SendToPeerLatency)->Unit(benchmark::kMicrosecond)->Iterations(2000);

}  // namespace
}  // namespace tarvo

int main(int argc, char** argv) {
    // The default-mask case writes its records to a real file, as the driver does.
    const std::string log = "/tmp/tarvo_bench_hsms.log";
    std::remove(log.c_str());
    tarvo::create_process_logger(log);
    tarvo::command_line::init_benchmark(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    tarvo::destroy_process_logger();
    std::remove(log.c_str());
    return 0;
}
