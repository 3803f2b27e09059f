// Arbitrary bodies through NextMessage and the element getters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "driver/messages/secsii.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarvo::secsii s;
    tarvo::MessageRecord m;
    m.stream = 6;
    m.function = 11;
    m.body.assign(reinterpret_cast<const char*>(data), size);
    s.add_received(m);
    const int r = s.NextMessage();
    if (r != 0 && r != -1) std::abort();
    const int n = s.GetElemGnrlQuan();
    // Every element's pointer selects an element of a known type.
    for (int i = 0; i < n && i < 64; ++i) {
        s.SetElemPointer(s.GetElemGnrlPointer(i));
        if (s.GetElemType() < 1 || s.GetElemType() > 15 || s.GetElemQuantity() < 0) std::abort();
        if (s.GetElemType() == 4 && static_cast<size_t>(s.GetElemQuantity()) != s.GetElemValue().size()) std::abort();
    }
    if (!s.GetElemGnrlPointer(n).empty()) std::abort();
    return 0;
}
