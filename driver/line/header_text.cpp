#include "driver/line/header_text.h"

namespace tarvo {

std::string header_text(const uint8_t* bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 5);
    for (size_t i = 0; i < count; ++i) {
        text += "0x";
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
        text += ' ';
    }
    return text;
}

}  // namespace tarvo
