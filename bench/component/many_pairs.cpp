// Many tools in one process: N equipment and N host driver objects over
// loopback HSMS, each host keeping one S1F1W outstanding (the next one is sent
// from the sink that receives the reply). For each N prints the time to open
// and select every pair, memory, threads and descriptors per pair, the CPU an
// idle process uses, and the round trips with log mask 0 and with the default
// mask (the log in the current folder).
//
//   many_pairs [--idle-seconds S] [--run-seconds S] N...
//
// The main job runs it with small N; run it by hand with 100, 500, 1000.
#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/command_line.h"
#include "driver/line/line_type.h"
#include "driver/log/notify_code.h"
#include "driver/component/tarvo_guids.h"
#include "tests/component/driver_env.h"

namespace tarvo::test {
namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

long status_field(const char* name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(name);
    while (std::getline(status, line)) {
        if (line.compare(0, n, name) == 0) return std::stol(line.substr(n));
    }
    return 0;
}

int open_descriptors() {
    int count = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (const dirent* e = ::readdir(d)) count += e->d_name[0] != '.';
        ::closedir(d);
    }
    return count - 1;  // the directory itself
}

double cpu_seconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// One side's sink: counts round trips and keeps the next request going.
class PairSink final : public IDispatch {
public:
    PairSink(ITarvo* driver, bool host) : driver_(driver), host_(host) {}

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, DIID__ITarvoEvents)) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        if (id == DISPID_OnSecsNotify && params && params->cArgs == 1) {
            const LONG code = params->rgvarg[0].lVal;
            if (code == nHSMSConnectionActive || code == nHSMSConnectionPassivePlus) selected = true;
            if (code == nSecsErrorT3) ++timeouts;
            return S_OK;
        }
        if (id != DISPID_OnSecsRead) return S_OK;
        driver_->NextMessage();
        if (!host_) {
            static const BstrHolder reply("S1F2 <L <A 'MDL-7'> <A '1.0'>>");
            driver_->Reply(reply.get());
            return S_OK;
        }
        const auto now = Clock::now();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            latencies_us.push_back(static_cast<float>(
                std::chrono::duration<double, std::micro>(now - sent_at_).count()));
        }
        ++round_trips;
        if (running) send();
        return S_OK;
    }

    void send() {
        static const BstrHolder request("S1F1 W");
        sent_at_ = Clock::now();
        driver_->SendMessage(request.get());
    }

    std::vector<float> take_latencies() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::move(latencies_us);
    }

    std::atomic<bool> selected{false};
    std::atomic<bool> running{false};
    std::atomic<uint64_t> round_trips{0};
    std::atomic<uint64_t> timeouts{0};

private:
    ~PairSink() = default;
    std::atomic<ULONG> refs_{1};
    ITarvo* driver_;
    const bool host_;
    Clock::time_point sent_at_{};  // written and read on the host's worker (or before it runs)
    std::mutex mutex_;
    std::vector<float> latencies_us;
};

struct Side {
    ComPtr<ITarvo> driver;
    PairSink* sink = nullptr;
    DWORD cookie = 0;
    IConnectionPoint* point = nullptr;

    bool advise(bool host) {
        sink = new PairSink(driver.get(), host);
        IConnectionPointContainer* container = nullptr;
        if (FAILED(driver->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container))))
            return false;
        const HRESULT hr = container->FindConnectionPoint(DIID__ITarvoEvents, &point);
        container->Release();
        return SUCCEEDED(hr) && SUCCEEDED(point->Advise(sink, &cookie));
    }
    void release() {
        if (point) {
            point->Unadvise(cookie);
            point->Release();
        }
        driver.reset();
        if (sink) sink->Release();
    }
};

struct Pair {
    Side equipment, host;
};

struct Round {
    double rt_per_second = 0;
    double p50_ms = 0, p99_ms = 0;
    uint64_t fewest = 0, most = 0;
    uint64_t timeouts = 0;
};

Round run_round_trips(std::vector<Pair>& pairs, int mask, double run_seconds) {
    for (Pair& p : pairs) {
        p.host.driver->SetLogAdjust(mask);
        p.equipment.driver->SetLogAdjust(mask);
        p.host.sink->round_trips = 0;
        p.host.sink->take_latencies();
    }
    for (Pair& p : pairs) {
        p.host.sink->running = true;
        p.host.sink->send();
    }
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(run_seconds));
    Round r;
    std::vector<float> all;
    r.fewest = UINT64_MAX;
    uint64_t total = 0;
    for (Pair& p : pairs) {
        const uint64_t n = p.host.sink->round_trips.load();
        total += n;
        r.fewest = std::min(r.fewest, n);
        r.most = std::max(r.most, n);
    }
    const double elapsed = seconds_since(start);
    for (Pair& p : pairs) p.host.sink->running = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the last requests come back
    for (Pair& p : pairs) {
        std::vector<float> l = p.host.sink->take_latencies();
        all.insert(all.end(), l.begin(), l.end());
        r.timeouts += p.host.sink->timeouts.load();
    }
    r.rt_per_second = static_cast<double>(total) / elapsed;
    if (!all.empty()) {
        std::sort(all.begin(), all.end());
        r.p50_ms = all[all.size() / 2] / 1000.0;
        r.p99_ms = all[std::min(all.size() - 1, all.size() * 99 / 100)] / 1000.0;
    }
    return r;
}

bool measure(int n, double idle_seconds, double run_seconds) {
    const long rss0 = status_field("VmRSS:");
    const long vm0 = status_field("VmSize:");
    const long threads0 = status_field("Threads:");
    const int fds0 = open_descriptors();

    std::vector<Pair> pairs(static_cast<size_t>(n));
    const auto open_start = Clock::now();
    for (Pair& p : pairs) {
        const int port = free_port();
        for (Side* s : {&p.equipment, &p.host}) {
            s->driver = create_driver();
            if (!s->driver || !s->advise(s == &p.host)) return false;
            s->driver->SetLineType(ltHSMS);
            s->driver->SetLogAdjust(0);
            s->driver->SetPort(port);
            s->driver->SetT3(10000);
        }
        LONG stat = 0;
        p.equipment.driver->SetConnectionMode(cmPASSIVE);
        p.equipment.driver->SetActive(1, &stat);
        BstrHolder loopback("127.0.0.1");
        p.host.driver->SetConnectionMode(cmACTIVE);
        p.host.driver->SetHost(loopback.get());
        p.host.driver->SetActive(1, &stat);
        if (stat != 1) {
            std::fprintf(stderr, "pair %zu did not open (descriptors? see README)\n", &p - pairs.data());
            return false;
        }
    }
    for (Pair& p : pairs) {
        while (!p.equipment.sink->selected.load() && seconds_since(open_start) < 60) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    const double open_seconds = seconds_since(open_start);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double per = static_cast<double>(n);
    const double rss = static_cast<double>(status_field("VmRSS:") - rss0) / 1024.0 / per;
    const double vm = static_cast<double>(status_field("VmSize:") - vm0) / 1024.0 / per;
    const double threads = static_cast<double>(status_field("Threads:") - threads0) / per;
    const double fds = static_cast<double>(open_descriptors() - fds0) / per;

    const double cpu0 = cpu_seconds();
    const auto idle_start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(idle_seconds));
    const double idle_cpu = (cpu_seconds() - cpu0) / seconds_since(idle_start) * 100.0;

    const Round quiet = run_round_trips(pairs, 0, run_seconds);
    const Round logged = run_round_trips(pairs, 5199, run_seconds);

    std::printf("N=%d  open+select all %.2f s  per pair: RSS %.2f MiB, VM %.1f MiB, threads %.1f, descriptors %.1f"
                "  idle CPU %.2f %% of a core\n",
                n, open_seconds, rss, vm, threads, fds, idle_cpu);
    for (const auto& [name, r] : {std::pair<const char*, const Round&>{"mask 0   ", quiet},
                                  std::pair<const char*, const Round&>{"mask 5199", logged}}) {
        std::printf("  %s  RT/s total %.0f, per pair %.1f, p50 %.3f ms, p99 %.3f ms, fewest/most of a pair %llu/%llu"
                    ", T3 %llu\n",
                    name, r.rt_per_second, r.rt_per_second / per, r.p50_ms, r.p99_ms,
                    static_cast<unsigned long long>(r.fewest), static_cast<unsigned long long>(r.most),
                    static_cast<unsigned long long>(r.timeouts));
    }
    std::printf("  default mask / mask 0: %.0f %%\n", logged.rt_per_second / quiet.rt_per_second * 100.0);
    std::fflush(stdout);
    for (Pair& p : pairs) {
        p.host.release();
        p.equipment.release();
    }
    return true;
}

}  // namespace
}  // namespace tarvo::test

int main(int argc, char** argv) {
    namespace cli = tarvo::command_line;
    cli::help_if_asked(argc, argv,
                       "usage: many_pairs [--idle-seconds S] [--run-seconds S] N...\n"
                       "For each N (default 1 10 100 500 1000) opens N equipment and N host objects over\n"
                       "loopback HSMS and prints the time to select them all, memory, threads and\n"
                       "descriptors per pair, the CPU of an idle process over S seconds (default 10) and\n"
                       "round trips over S seconds (default 3) with log mask 0 and the default mask.\n");
    double idle_seconds = 10;
    double run_seconds = 3;
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (std::strcmp(argv[i], "--idle-seconds") == 0 && has_value) {
            idle_seconds = cli::seconds(argv[0], "--idle-seconds", argv[++i]);
        } else if (std::strcmp(argv[i], "--run-seconds") == 0 && has_value) {
            run_seconds = cli::seconds(argv[0], "--run-seconds", argv[++i]);
        } else if (argv[i][0] == '-') {
            cli::fail(argv[0], std::string("unknown option or missing value '") + argv[i] + "'");
        } else {
            counts.push_back(static_cast<int>(cli::whole_number(argv[0], "N", argv[i], 1, 100000)));
        }
    }
    if (counts.empty()) counts = {1, 10, 100, 500, 1000};
    // Five descriptors a pair: take what the hard limit allows.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    tarvo::test::register_component();
    for (int n : counts) {
        if (!tarvo::test::measure(n, idle_seconds, run_seconds)) return 1;
    }
    return 0;
}
