// Planning, decoding and rendering speed of the message layer for three
// typical messages: a short S1F1, an S6F11 event report of a few hundred items
// and a 64 KiB Binary item.
#include <benchmark/benchmark.h>

#include "bench/command_line.h"

#include <cstdio>
#include <string>
#include <vector>

#include "driver/messages/secsii.h"

namespace {

std::string s1f1_text() { return "S1F1 W <L>"; }

// An event report: 40 reports of 6 variables each, about 330 items.
std::string s6f11_text() {
    std::string t = "S6F11 W\n<L [3]\n  <U4 1>\n  <U4 4000>\n  <L [40]\n";
    for (int r = 0; r < 40; ++r) {
        t += "    <L [2]\n      <U4 " + std::to_string(100 + r) + ">\n      <L [6]\n";
        t += "        <A 'LOT-" + std::to_string(r) + "-WAFER'>\n";
        t += "        <U2 " + std::to_string(r * 7) + ">\n";
        t += "        <F4 " + std::to_string(r) + ".25>\n";
        t += "        <Bool TRUE>\n";
        t += "        <I4 -" + std::to_string(r * 1000) + ">\n";
        t += "        <B 0x0A 0x1F>\n";
        t += "      >\n    >\n";
    }
    return t + "  >\n>\n";
}

std::string binary_text() {
    std::string t = "S7F3 W <B";
    char buf[8];
    for (int i = 0; i < 65536; ++i) {
        std::snprintf(buf, sizeof buf, " 0x%02X", i & 0xFF);
        t += buf;
    }
    return t + ">";
}

const std::string& text_of(int which) {
    static const std::string texts[] = {s1f1_text(), s6f11_text(), binary_text()};
    return texts[which];
}

std::string body_of(int which) {
    tarvo::secsii s;
    s.SetList(text_of(which));
    return s.prepared_copy().body;
}

void BM_Plan(benchmark::State& state) {
    const std::string& text = text_of(static_cast<int>(state.range(0)));
    tarvo::secsii s;
    for (auto _ : state) {
        bool ok = s.SetList(text);
        benchmark::DoNotOptimize(ok);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_Decode(benchmark::State& state) {
    const std::string body = body_of(static_cast<int>(state.range(0)));
    size_t elements = 0;
    for (auto _ : state) {
        std::vector<tarvo::ParsedElement> out;
        size_t pos = 0;
        tarvo::secsii::decode_item(body, pos, "0", 0, out);
        elements = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * elements));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
    state.counters["elements"] = static_cast<double>(elements);
}

// The whole caller path: a received message taken by NextMessage.
void BM_NextMessage(benchmark::State& state) {
    const std::string body = body_of(static_cast<int>(state.range(0)));
    tarvo::secsii s;
    tarvo::MessageRecord m;
    m.stream = 6;
    m.function = 11;
    m.body = body;
    for (auto _ : state) {
        s.add_received(m);
        benchmark::DoNotOptimize(s.NextMessage());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * s.GetElemGnrlQuan());
}

void BM_Render(benchmark::State& state) {
    const std::string body = body_of(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::string text = tarvo::secsii::render_sml(body);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

void names(benchmark::internal::Benchmark* b) {
    b->ArgName("msg")->Arg(0)->Arg(1)->Arg(2);  // 0: S1F1, 1: S6F11, 2: 64 KiB Binary
}

}  // namespace

BENCHMARK(BM_Plan)->Apply(names);
BENCHMARK(BM_Decode)->Apply(names);
BENCHMARK(BM_NextMessage)->Apply(names);
BENCHMARK(BM_Render)->Apply(names);

int main(int argc, char** argv) {
    tarvo::command_line::init_benchmark(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
