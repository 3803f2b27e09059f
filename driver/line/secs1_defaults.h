// The SECS-I line's parameter defaults, in one place: the line fields start
// from them and the serial line's set_defaults returns to them.
#pragma once

#include <cstdint>

namespace tarvo::secs1_defaults {

constexpr int32_t kPort = 1;
constexpr int32_t kT1 = 500;             // inter-character, ms
constexpr int32_t kT2 = 10000;           // protocol, ms
constexpr int32_t kT3 = 45000;           // reply, ms
constexpr int32_t kT4 = 45000;           // inter-block, ms
constexpr int32_t kRetry = 3;
constexpr bool kMaster = false;
constexpr int32_t kOutDeviceId = 0;
constexpr int32_t kOutSourceId = 0;
constexpr int32_t kOutTransactionId = 0;
constexpr int32_t kIdleSleep = 200;      // ms
constexpr int32_t kBaudCode = 13;        // 19200 bit/s
constexpr int32_t kLineMode = 3;         // 8 data bits, no parity, 1 stop bit
constexpr int32_t kReadTimeout = 100;    // ms; the unit of every SECS-I wait
constexpr int32_t kReadInterval = 0;
constexpr int32_t kReopenDelay = 1000;   // ms

}  // namespace tarvo::secs1_defaults
