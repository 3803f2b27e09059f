// GEM equipment speed, one equipment and one host driver object in one
// process over loopback HSMS (log mask 0 on both):
//   EventReports   trigger() in a loop; each S6F11 carries 2 reports of 5
//                  variables and is acknowledged by the host from its sink.
//                  Items are acknowledged reports (counted at the equipment).
//   StatusRequest  S1F3 for 100 status variables: the host's time from
//                  SendMessage to the reply's OnSecsRead (median in µs); it
//                  bounds the time from request to reply on the wire.
//   IdleEquipment  what one started, idle equipment costs: resident memory
//                  and threads.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/command_line.h"
#include "driver/line/line_type.h"
#include "gem/equipment.h"
#include "tests/component/driver_env.h"

namespace tarvo::gem {
namespace {

using namespace std::chrono_literals;
using test::RecordingSink;

// Counts the equipment's acknowledged reports and the host's replies.
class Counter final : public Observer {
public:
    void message(bool sent, const Message& m) override {
        if (!sent && m.stream == 6 && m.function == 12) acks.fetch_add(1);
    }
    void comm_state(CommState s) override { comm = s; }
    std::atomic<uint64_t> acks{0};
    std::atomic<CommState> comm{CommState::disabled};
};

Config bench_config(int port, int status_variables) {
    Config c;
    c.line.type = "hsms";
    c.line.mode = "passive";
    c.line.host = "127.0.0.1";
    c.line.numbers = {{"port", port}, {"t3", 10000}, {"log_mask", 0}};
    for (int i = 0; i < 10; ++i)
        c.variables.push_back({static_cast<uint32_t>(3000 + i), "DV" + std::to_string(i), false, Format::U4, "",
                               Item::u4(static_cast<uint64_t>(i))});
    for (int i = 0; i < status_variables; ++i)
        c.variables.push_back({static_cast<uint32_t>(1000 + i), "SV" + std::to_string(i), true, Format::F4, "C",
                               Item::floats(Format::F4, {20.5 + i})});
    c.events.push_back({4001, "Done", {}});
    return c;
}

// The host: answers S1F13, acknowledges S6F11, and counts the replies it
// takes (with their arrival time).
struct Host {
    ComPtr<ITarvo> driver;
    ComPtr<RecordingSink> sink;
    DWORD cookie = 0;
    std::mutex mutex;
    std::condition_variable arrived;
    uint64_t replies = 0;
    std::chrono::steady_clock::time_point last;

    bool open(int port) {
        driver = test::create_driver();
        if (!driver) return false;
        sink = RecordingSink::create("host");
        cookie = sink->advise_on(driver.get());
        ITarvo* h = driver.get();
        sink->set_hook([this, h](const RecordingSink::Event& e) {
            if (e.id != DISPID_OnSecsRead) return;
            BSTR body = nullptr;
            h->NextMessageByte(&body);
            SysFreeString(body);
            INT s = 0, f = 0;
            h->GetInStreamID(&s);
            h->GetInFunctionID(&f);
            static thread_local BstrHolder s1f14("S1F14 <L <B 0> <L>>"), s6f12("S6F12 <B 0>");
            if (s == 1 && f == 13) h->Reply(s1f14.get());
            if (s == 6 && f == 11) h->Reply(s6f12.get());
            if (f % 2 == 0) {
                {
                    std::lock_guard lock(mutex);
                    ++replies;
                    last = std::chrono::steady_clock::now();
                }
                arrived.notify_all();
            }
        });
        h->SetLineType(ltHSMS);
        h->SetConnectionMode(cmACTIVE);
        h->SetPort(port);
        h->SetT3(10000);
        h->SetLogAdjust(0);
        LONG none = 0;
        h->SetOutDeviceID(0, &none);
        LONG active = 0;
        h->SetActive(1, &active);
        return active == 1;
    }
    // Sends a W primary and waits for its reply; the time it took.
    std::chrono::nanoseconds ask(const char* sml) {
        uint64_t before;
        {
            std::lock_guard lock(mutex);
            before = replies;
        }
        BstrHolder text(sml);
        const auto start = std::chrono::steady_clock::now();
        driver->SendMessage(text.get());
        std::unique_lock lock(mutex);
        if (!arrived.wait_for(lock, 5s, [&] { return replies > before; })) return std::chrono::nanoseconds(-1);
        return last - start;
    }
    void close() {
        if (!driver) return;
        sink->set_hook(nullptr);
        sink->unadvise_from(driver.get(), cookie);
        LONG active = 0;
        driver->SetActive(0, &active);
        driver.reset();
    }
};

bool wait_until(const std::function<bool()>& done) {
    for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(10ms);
    return done();
}

// Starts the equipment, opens the host, and waits until they communicate.
bool connect(Equipment& equipment, Host& host, Counter& counter, int port) {
    std::string why;
    return equipment.start(&why) && host.open(port) &&
           wait_until([&] { return counter.comm.load() == CommState::communicating; });
}

void EventReports(benchmark::State& state) {
    const int port = test::free_port();
    Counter counter;
    Equipment equipment(bench_config(port, 0), Hooks{}, counter);
    Host host;
    if (!connect(equipment, host, counter, port)) {
        state.SkipWithError("the equipment and the host did not connect");
        return;
    }
    host.ask("S2F33 W <L <U4 1> <L <L <U4 1> <L <U4 3000> <U4 3001> <U4 3002> <U4 3003> <U4 3004>>> "
             "<L <U4 2> <L <U4 3005> <U4 3006> <U4 3007> <U4 3008> <U4 3009>>>>>");
    host.ask("S2F35 W <L <U4 1> <L <L <U4 4001> <L <U4 1> <U4 2>>>>>");
    const uint64_t start_acks = counter.acks.load();
    for (auto _ : state) equipment.trigger(4001);
    const uint64_t want = start_acks + state.iterations();
    if (!wait_until([&] { return counter.acks.load() >= want; })) state.SkipWithError("acknowledgements missing");
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    host.close();
    equipment.stop();
}

void StatusRequest(benchmark::State& state) {
    const int port = test::free_port();
    Counter counter;
    Equipment equipment(bench_config(port, 100), Hooks{}, counter);
    Host host;
    if (!connect(equipment, host, counter, port)) {
        state.SkipWithError("the equipment and the host did not connect");
        return;
    }
    std::string request = "S1F3 W <L";
    for (int i = 0; i < 100; ++i) request += " <U4 " + std::to_string(1000 + i) + ">";
    request += ">";
    std::vector<double> micros;
    for (auto _ : state) {
        const auto took = host.ask(request.c_str());
        if (took.count() < 0) {
            state.SkipWithError("no S1F4");
            break;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(took).count());
    }
    if (!micros.empty()) {
        std::sort(micros.begin(), micros.end());
        state.counters["median_us"] = micros[micros.size() / 2];
        state.counters["p99_us"] = micros[micros.size() * 99 / 100];
    }
    host.close();
    equipment.stop();
}

long resident_kib() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

int threads() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(d)) n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

void IdleEquipment(benchmark::State& state) {
    for (auto _ : state) {
        // One equipment first, so the component and its runtime are loaded.
        Counter first_counter;
        Equipment first(bench_config(test::free_port(), 0), Hooks{}, first_counter);
        std::string why;
        first.start(&why);
        const long memory = resident_kib();
        const int before = threads();
        Counter counter;
        Equipment equipment(bench_config(test::free_port(), 0), Hooks{}, counter);
        equipment.start(&why);
        std::this_thread::sleep_for(200ms);
        state.counters["memory_kib"] = static_cast<double>(resident_kib() - memory);
        state.counters["threads"] = threads() - before;
        equipment.stop();
        first.stop();
    }
}

BENCHMARK(EventReports)->UseRealTime()->MinTime(2.0);
BENCHMARK(StatusRequest)->UseRealTime()->Iterations(2000);
BENCHMARK(IdleEquipment)->Iterations(1);

}  // namespace
}  // namespace tarvo::gem

int main(int argc, char** argv) {
    tarvo::test::register_component();
    tarvo::command_line::init_benchmark(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
