// The serial bit rates a line can be set to, by baud code.
#include <array>
#include <cstddef>

#include "driver/line/secsi.h"

namespace tarvo {

namespace {

constexpr std::array<int32_t, 20> kBaudRates = {
    50,   75,   110,  134,  150,  300,   600,   1200,   1800,   2400,
    4800, 7200, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600,
};

constexpr int32_t kFallbackCode = 12;  // 9600 bit/s, for a rate not in the table

}  // namespace

int32_t secsi::baud_to_code(int32_t rate) {
    for (size_t code = 0; code < kBaudRates.size(); ++code) {
        if (kBaudRates[code] == rate) return static_cast<int32_t>(code);
    }
    return kFallbackCode;
}

int32_t secsi::code_to_baud(int32_t code) {
    if (code < 0 || static_cast<size_t>(code) >= kBaudRates.size()) return 0;
    return kBaudRates[static_cast<size_t>(code)];
}

}  // namespace tarvo
