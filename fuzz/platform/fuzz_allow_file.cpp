// The allow file as a listener meets it: any text, a port, and a client
// address (IPv4 or IPv6) taken from the input. The answer must not crash,
// and a text with any line for the port, or any malformed line, restricts.
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/net/allow_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 18) return 0;
    const int port = 5000 + data[0] % 4;
    sockaddr_storage client{};
    socklen_t length;
    if (data[1] & 1) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&client);
        v6->sin6_family = AF_INET6;
        std::memcpy(&v6->sin6_addr, data + 2, 16);
        length = sizeof *v6;
    } else {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&client);
        v4->sin_family = AF_INET;
        std::memcpy(&v4->sin_addr, data + 2, 4);
        length = sizeof *v4;
    }
    const std::string text(reinterpret_cast<const char*>(data + 18), size - 18);
    std::vector<std::string> problems;
    const tarvo::net::AllowList list = tarvo::net::AllowList::parse(text, "allow", port, problems);
    const bool admitted = list.admits(reinterpret_cast<const sockaddr*>(&client), length);
    // Open to everyone only when nothing restricts the port.
    if (!list.restricted() && !admitted) std::abort();
    (void)tarvo::net::address_text(reinterpret_cast<const sockaddr*>(&client), length);
    return 0;
}
