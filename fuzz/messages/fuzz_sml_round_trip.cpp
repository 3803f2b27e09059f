// Round trip: a body planned from arbitrary SML, rendered and planned again,
// encodes to the same bytes and the same message name, unless it holds an
// item whose text is not exact (F4, F8). A and J values come back whatever
// bytes they hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "driver/messages/secsii.h"

namespace {

// Walks a well-formed body item by item (list headers included).
bool exact_text(const std::string& body) {
    const auto* b = reinterpret_cast<const unsigned char*>(body.data());
    size_t pos = 0;
    while (pos < body.size()) {
        const unsigned type_code = b[pos] >> 2;
        const size_t n = b[pos] & 3;
        if (n == 0 || pos + n >= body.size()) std::abort();  // planner output is well formed
        size_t length = 0;
        for (size_t i = 1; i <= n; ++i) length = (length << 8) | b[pos + i];
        pos += 1 + n;
        if (type_code == 0) continue;
        if (pos + length > body.size()) std::abort();
        if (type_code == 32 || type_code == 36) return false;
        pos += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarvo::secsii s;
    tarvo::MessageRecord first;
    if (!s.SetList(std::string(reinterpret_cast<const char*>(data), size), first)) return 0;
    if (!exact_text(first.body)) return 0;
    s.add_received(first);
    const std::string sml = s.NextMessageSML();
    tarvo::MessageRecord second;
    if (!s.SetList(sml, second)) std::abort();
    if (second.body != first.body || second.stream != first.stream || second.function != first.function ||
        second.w_bit != first.w_bit)
        std::abort();
    return 0;
}
