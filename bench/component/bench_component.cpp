// Round trips per second through ITarvo: a host driver object sends S1F1W,
// the equipment driver object (same process, loopback HSMS) answers S1F2 from
// inside its OnSecsRead, and the host takes the reply with NextMessage. One
// iteration is one whole round trip. Measured with the default log mask
// (which writes a few records per message to the log file) and with mask 0.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include <benchmark/benchmark.h>

#include "bench/command_line.h"

#include "driver/line/line_type.h"
#include "tests/component/loopback_pair.h"

namespace tarvo::test {
namespace {

// Counts the host's OnSecsRead events and lets the benchmark wait for them.
struct Replies {
    std::mutex mutex;
    std::condition_variable arrived;
    uint64_t count = 0;

    void add() {
        {
            std::lock_guard lock(mutex);
            ++count;
        }
        arrived.notify_one();
    }
    bool wait_for(uint64_t n) {
        std::unique_lock lock(mutex);
        return arrived.wait_for(lock, std::chrono::seconds(5), [&] { return count >= n; });
    }
};

void RoundTrip(benchmark::State& state) {
    const int mask = static_cast<int>(state.range(0));
    const std::string log = "/tmp/tarvo-bench-" + std::to_string(getpid()) + ".log";
    LoopbackPair pair;
    if (!pair.ok()) {
        state.SkipWithError("the loopback pair did not connect");
        return;
    }
    ITarvo* host = pair.host.driver.get();
    ITarvo* equipment = pair.equipment.driver.get();
    BstrHolder log_name(log);
    host->SetLogFileName(log_name.get());
    host->SetT3(5000);
    host->SetLogAdjust(mask);
    equipment->SetLogAdjust(mask);

    pair.equipment.sink->set_hook([equipment](const RecordingSink::Event& e) {
        if (e.id != DISPID_OnSecsRead) return;
        equipment->NextMessage();
        static thread_local BstrHolder reply("S1F2 <L <A 'MDL-7'> <A '1.0'>>");
        equipment->Reply(reply.get());
    });
    Replies replies;
    pair.host.sink->set_hook([&replies](const RecordingSink::Event& e) {
        if (e.id == DISPID_OnSecsRead) replies.add();
    });

    BstrHolder s1f1("S1F1 W");
    uint64_t sent = 0;
    for (auto _ : state) {
        host->SendMessage(s1f1.get());
        if (!replies.wait_for(++sent)) {
            state.SkipWithError("no reply within 5 s");
            break;
        }
        host->NextMessage();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    pair.equipment.sink->set_hook(nullptr);
    pair.host.sink->set_hook(nullptr);
    BstrHolder back("Tarvo.log");
    host->SetLogFileName(back.get());
    unlink(log.c_str());
}

BENCHMARK(RoundTrip)->Arg(5199)->Arg(0)->ArgName("log_mask")->UseRealTime()->MinTime(2.0);

}  // namespace
}  // namespace tarvo::test

int main(int argc, char** argv) {
    tarvo::test::register_component();
    tarvo::command_line::init_benchmark(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
