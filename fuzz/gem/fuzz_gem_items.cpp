// The item decoder on any bytes: a body it takes encodes back to an item
// equal to it, and the one-line SML of that item reads back equal too
// (floats that are not numbers aside: the SML has no way to write them).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "gem/item_codec.h"
#include "gem/sml_text.h"

namespace {

bool has_nan(const tarvo::gem::Item& item) {
    for (double v : item.float_values())
        if (std::isnan(v)) return true;
    for (const auto& sub : item.items())
        if (has_nan(sub)) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarvo::gem;
    const DecodedBody d = decode_body(std::string(reinterpret_cast<const char*>(data), size));
    if (!d.ok) {
        if (d.error.empty()) std::abort();  // a refusal says why
        return 0;
    }
    if (!d.item) {
        if (size != 0) std::abort();
        return 0;
    }
    const std::string bytes = encode_item(*d.item);
    const DecodedBody again = decode_body(bytes);
    if (!again.ok || !again.item) std::abort();
    if (!has_nan(*d.item)) {
        if (!(*again.item == *d.item)) std::abort();
        std::string why;
        const auto back = read_sml(write_sml(*d.item), &why);
        if (!back || !(*back == *d.item)) std::abort();
    }
    return 0;
}
