#include "driver/messages/value_text.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "driver/messages/c_locale.h"
#include "driver/messages/item_format.h"

namespace tarvo {

namespace {

template <typename T>
void append_integer(std::string& out, T value) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, r.ptr);
}

void append_printf(std::string& out, const char* format, double value) {
    // "%f" of a large double can run to some 320 characters.
    char buf[400];
    ScopedCLocale c_numbers;
    int n = std::snprintf(buf, sizeof buf, format, value);
    if (n > 0) out.append(buf, static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1);
}

}  // namespace

void append_value_text(std::string& out, unsigned type_code, const unsigned char* p) {
    using namespace item;
    switch (type_code) {
    case kI1 >> 2: append_integer(out, static_cast<int>(static_cast<int8_t>(p[0]))); break;
    case kU1 >> 2: append_integer(out, static_cast<unsigned>(p[0])); break;
    case kI2 >> 2: append_integer(out, static_cast<int16_t>(read_be(p, 2))); break;
    case kU2 >> 2: append_integer(out, static_cast<uint16_t>(read_be(p, 2))); break;
    case kI4 >> 2: append_integer(out, static_cast<int32_t>(read_be(p, 4))); break;
    case kU4 >> 2: append_integer(out, static_cast<uint32_t>(read_be(p, 4))); break;
    case kI8 >> 2: append_integer(out, static_cast<int64_t>(read_be(p, 8))); break;
    case kU8 >> 2: append_integer(out, read_be(p, 8)); break;
    case kF4 >> 2: {
        uint32_t bits = static_cast<uint32_t>(read_be(p, 4));
        float f;
        std::memcpy(&f, &bits, sizeof f);
        append_printf(out, "%f", static_cast<double>(f));
        break;
    }
    case kF8 >> 2: {
        uint64_t bits = read_be(p, 8);
        double d;
        std::memcpy(&d, &bits, sizeof d);
        append_printf(out, "%e", d);
        break;
    }
    default: break;
    }
}

}  // namespace tarvo
