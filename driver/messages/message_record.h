// One whole SECS message as it passes between the message layer and a line.
#pragma once

#include <cstdint>
#include <string>

namespace tarvo {

struct MessageRecord {
    uint8_t r_bit = 0;            // 1 from equipment, 0 from host
    uint8_t w_bit = 0;            // a reply is wanted
    int32_t device_id = 0;        // 15-bit device ID (HSMS: 16-bit session ID)
    int32_t function = 0;         // 0-255
    int32_t stream = 0;           // 0-127
    int32_t source_id = 0;        // first two system bytes
    int32_t transaction_id = 0;   // last two system bytes
    std::string body;             // encoded SECS-II item bytes, may be empty
    // The line's own number of the connection a received message came from,
    // and that a reply must go back to; 0 when it is not tied to one. Never
    // on the wire.
    uint64_t connection = 0;
};

// "S%dF%dW" when the W-bit is set, else "S%dF%d".
std::string message_name(int stream, int function, bool w_bit);
inline std::string message_name(const MessageRecord& m) {
    return message_name(m.stream, m.function, m.w_bit != 0);
}

}  // namespace tarvo
