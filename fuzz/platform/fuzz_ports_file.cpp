// The ports file as a reader meets it: any text, read for a port number the
// input also chooses. Every entry must mean one endpoint or fail with a
// reason, never crash or read outside the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/serial/port_map.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int port = data[0] % 16;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const tarvo::serial::PortEndpoint e = tarvo::serial::parse_port_entry(text, "ports", port);
    using K = tarvo::serial::PortEndpoint::Kind;
    switch (e.kind) {
    case K::invalid:
        if (e.error.empty()) std::abort();  // a failure always says why
        break;
    case K::tty:
        if (e.path.empty()) std::abort();
        break;
    case K::tcp_connect:
        if (e.host.empty() || e.tcp_port < 1 || e.tcp_port > 65535) std::abort();
        break;
    case K::tcp_listen:
        if (e.tcp_port < 1 || e.tcp_port > 65535) std::abort();
        break;
    }
    return 0;
}
