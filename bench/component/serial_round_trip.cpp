// SECS-I through ITarvo: two driver objects in one process on two
// pseudo-terminals joined back to back, defaults, log mask 0.
//   - S1F1W/S1F2 round trips, the reply sent from the equipment's sink:
//     median and 99th percentile of N sequential round trips after a warm-up;
//   - one-way throughput of a message with a 64 KiB body (269 blocks).
//
//   serial_round_trip [round trips, default 1000] [throughput runs, default 5]
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/command_line.h"
#include "driver/line/line_type.h"
#include "tests/component/driver_env.h"
#include "tests/component/loopback_pair.h"
#include "tests/secs1/pty_bridge.h"

namespace tarvo::test {
namespace {

using Clock = std::chrono::steady_clock;

// Counts OnSecsRead of one side and lets the caller wait for the next one.
struct Reads {
    std::mutex mutex;
    std::condition_variable changed;
    long count = 0;
    void add() {
        std::lock_guard<std::mutex> lock(mutex);
        ++count;
        changed.notify_all();
    }
    bool wait_beyond(long seen, std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, limit, [&] { return count > seen; });
    }
};

int run(int round_trips, int runs, bool tcp) {
    // Over TCP the equipment listens and the host connects, as to a
    // terminal server; otherwise two pseudo-terminals back to back.
    std::unique_ptr<secs1_test::PtyBridge> bridge;
    const std::string ports = "/tmp/tarvo-bench-ports-" + std::to_string(::getpid());
    if (tcp) {
        const int port = free_port();
        std::ofstream(ports) << "31 tcp-listen:127.0.0.1:" << port << "\n32 tcp:127.0.0.1:" << port << "\n";
        ::setenv("TARVO_PORTS", ports.c_str(), 1);
    } else {
        bridge = std::make_unique<secs1_test::PtyBridge>(31, 32);
        if (!bridge->ok()) {
            std::fprintf(stderr, "no pseudo-terminals\n");
            return 1;
        }
    }
    const char* over = tcp ? "loopback TCP" : "a pty pair";
    DriverSide equipment, host;
    Reads host_reads, equipment_reads;
    for (DriverSide* side : {&equipment, &host}) {
        side->driver = create_driver();
        if (!side->driver) return 1;
        side->sink = RecordingSink::create();
        side->cookie = side->sink->advise_on(side->driver.get());
        ITarvo* d = side->driver.get();
        d->SetLineType(ltSECSI);
        d->SetLogAdjust(getenv("BENCH_LOG") ? 0x1FFF : 0);
        d->SetPort(side == &equipment ? 31 : 32);
        d->SetMaster(side == &equipment ? 1 : 0);
    }
    ITarvo* e = equipment.driver.get();
    ITarvo* h = host.driver.get();
    equipment.sink->set_hook([e, &equipment_reads](const RecordingSink::Event& ev) {
        if (ev.id != DISPID_OnSecsRead) return;
        e->NextMessage();
        LONG w = 0;
        e->GetInWBit(&w);
        if (w) {
            BstrHolder reply("S1F2 <L <A 'SER-1'> <A '2.0'>>");
            e->Reply(reply.get());
        }
        equipment_reads.add();
    });
    host.sink->set_hook([h, &host_reads](const RecordingSink::Event& ev) {
        if (ev.id != DISPID_OnSecsRead) return;
        h->NextMessage();
        host_reads.add();
    });
    LONG stat = 0;
    e->SetActive(1, &stat);
    if (stat != 1) return 1;
    h->SetActive(1, &stat);
    if (stat != 1) return 1;

    BstrHolder s1f1("S1F1 W");
    std::vector<double> ms;
    const int warm_up = std::max(10, round_trips / 10);
    for (int i = 0; i < warm_up + round_trips; ++i) {
        const long seen = host_reads.count;
        // Fresh system bytes for every primary, as hosts do: a block with
        // the header of the one before is a duplicate on SECS-I.
        h->SetOutTransactionID(i + 1);
        const auto t0 = Clock::now();
        h->SendMessage(s1f1.get());
        if (!host_reads.wait_beyond(seen, std::chrono::seconds(10))) {
            std::fprintf(stderr, "round trip %d got no reply\n", i);
            return 1;
        }
        if (i >= warm_up) ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("SECS-I round trips through ITarvo over %s: %d\n", over, round_trips);
    std::printf("  median %.3f ms, p99 %.3f ms, max %.3f ms\n", ms[ms.size() / 2], ms[ms.size() * 99 / 100],
                ms.back());

    // 64 KiB of data: a binary item of 65532 bytes with its 4 header bytes.
    std::string text = "S6F11 <B";
    for (int i = 0; i < 65532; ++i) text += " " + std::to_string(i % 251);
    text += ">";
    BstrHolder big(text);
    std::vector<double> rates;
    for (int r = 0; r < runs; ++r) {
        const long seen = host_reads.count;
        e->SetOutTransactionID(r + 1);
        const auto t0 = Clock::now();
        e->SendMessage(big.get());
        if (!host_reads.wait_beyond(seen, std::chrono::seconds(60))) {
            std::fprintf(stderr, "the 64 KiB message did not arrive\n");
            return 1;
        }
        rates.push_back(65536.0 / std::chrono::duration<double>(Clock::now() - t0).count());
    }
    std::sort(rates.begin(), rates.end());
    std::printf("One-way 64 KiB message (269 blocks), %d runs: median %.0f bytes/s (%.1f ms)\n", runs,
                rates[rates.size() / 2], 65536.0 / rates[rates.size() / 2] * 1000);
    host.release();
    equipment.release();
    if (tcp) std::remove(ports.c_str());
    return 0;
}

}  // namespace
}  // namespace tarvo::test

int main(int argc, char** argv) {
    namespace cli = tarvo::command_line;
    cli::help_if_asked(argc, argv,
                       "usage: serial_round_trip [--tcp] [ROUND_TRIPS] [RUNS]\n"
                       "SECS-I through ITarvo on two pseudo-terminals joined back to back (with --tcp: over\n"
                       "loopback TCP, a tcp-listen: port and a tcp: port): the median and 99th percentile\n"
                       "of ROUND_TRIPS (default 1000) S1F1W/S1F2 round trips, and RUNS (default 5)\n"
                       "one-way sends of a 64 KiB message.\n");
    const bool tcp = argc > 1 && std::strcmp(argv[1], "--tcp") == 0;
    const int first = tcp ? 2 : 1;
    if (argc > first + 2) cli::fail(argv[0], std::string("unexpected argument '") + argv[first + 2] + "'");
    const long round_trips =
        argc > first ? cli::whole_number(argv[0], "ROUND_TRIPS", argv[first], 1, 10000000) : 1000;
    const long runs = argc > first + 1 ? cli::whole_number(argv[0], "RUNS", argv[first + 1], 1, 100000) : 5;
    return tarvo::test::run(static_cast<int>(round_trips), static_cast<int>(runs), tcp);
}
