// Peak memory of taking the worst bodies a peer can send (64 MiB message
// bound): `peak_memory elements` decodes a 64 MiB body of Boolean items into
// the element array (NextMessage); `peak_memory sml` renders a 40 MB body of
// 20 million nested lists as SML for an interface string (NextMessageSML).
// Prints the growth of the peak resident set over the start, and the time.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "bench/command_line.h"
#include "driver/messages/secsii.h"
#include "platform/com/bstr.h"

namespace {

long peak_kib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

std::string boolean_body() {
    // A list of four Boolean items of 16 777 215 values each.
    std::string body = {0x01, 0x04};
    for (int i = 0; i < 4; ++i) {
        body += {0x27, '\xFF', '\xFF', '\xFF'};
        body.append(16777215, '\x01');
    }
    return body;
}

std::string nested_body() {
    std::string body;
    body.reserve(40000000 + 2);
    for (int i = 0; i < 20000000; ++i) body += {0x01, 0x01};
    body += {0x01, 0x00};
    return body;
}

}  // namespace

int main(int argc, char** argv) {
    namespace cli = tarvo::command_line;
    cli::help_if_asked(argc, argv,
                       "usage: peak_memory [elements | sml]\n"
                       "elements (the default): decodes a 64 MiB body of Boolean items (NextMessage);\n"
                       "sml: renders a 40 MB body of nested lists as SML (NextMessageSML).\n"
                       "Prints the growth of the peak resident set and the time.\n");
    if (argc > 2) cli::fail(argv[0], std::string("unexpected argument '") + argv[2] + "'");
    if (argc > 1 && std::strcmp(argv[1], "sml") != 0 && std::strcmp(argv[1], "elements") != 0)
        cli::fail(argv[0], std::string("unknown mode '") + argv[1] + "'");
    const bool sml = argc > 1 && std::strcmp(argv[1], "sml") == 0;
    tarvo::secsii m;
    m.set_log_mask(0);
    {
        tarvo::MessageRecord record;
        record.stream = 6;
        record.function = 11;
        record.body = sml ? nested_body() : boolean_body();
        std::printf("body: %zu bytes\n", record.body.size());
        m.add_received(std::move(record));
    }
    const long before = peak_kib();
    const auto start = std::chrono::steady_clock::now();
    if (sml) {
        size_t length = 0;
        const auto taken = m.NextMessageSML(kMaxBstrLength, [&](const std::string& text) {
            BSTR made = BstrFromBytes(text);
            length = text.size();
            const bool ok = made != nullptr;
            SysFreeString(made);
            return ok;
        });
        std::printf("taken: %s, text: %zu characters, left in inbox: %zu\n",
                    taken == tarvo::secsii::SmlTake::taken ? "yes" : "no", length, m.inbox_count());
    } else {
        m.NextMessage();
        std::printf("elements: %d\n", m.GetElemGnrlQuan());
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("peak growth: %.0f MiB, %.2f s\n", (peak_kib() - before) / 1024.0, seconds);
}
