// Arbitrary bodies through NextMessageSML and NextMessageByte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "driver/messages/secsii.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarvo::secsii s;
    tarvo::MessageRecord m;
    m.stream = 1;
    m.function = 3;
    m.w_bit = 1;
    m.body.assign(reinterpret_cast<const char*>(data), size);
    s.add_received(m);
    s.add_received(m);
    const std::string sml = s.NextMessageSML();
    if (sml.compare(0, 6, "S1F3W\n") != 0) std::abort();
    if (s.NextMessageByte() != m.body) std::abort();
    // Whatever the renderer shows, the planner can read without failing on
    // anything but what it refuses by design.
    s.SetList(sml);
    return 0;
}
