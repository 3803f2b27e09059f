// Arbitrary SML text into SetList. A planned body must be well formed: it
// decodes with result 0 and renders to a non-empty text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "driver/messages/secsii.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    tarvo::secsii s;
    if (!s.SetList(text)) {
        if (s.last_error().empty()) std::abort();
        return 0;
    }
    const tarvo::MessageRecord m = s.prepared_copy();
    if (m.stream < 0 || m.stream > 127 || m.function < 0 || m.function > 255) std::abort();
    if (m.body.empty()) return 0;
    if (tarvo::secsii::render_sml(m.body).empty()) std::abort();
    s.add_received(m);
    if (s.NextMessage() != 0) std::abort();
    return 0;
}
