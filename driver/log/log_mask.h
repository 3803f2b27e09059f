// Bits of the line's log mask: which records reach the driver log.
#pragma once

#include <cstdint>

namespace tarvo {

enum enum_SECS_LOG_MASK : uint32_t {
    lmTimeout = 1,              // timeouts other than T5
    lmTimeoutT5 = 2,            // T5 (connect separation)
    lmMsgNameSend = 4,          // planned, sent and unsent message names
    lmMsgNameReceived = 8,      // names of received messages
    lmMsgHeaderSend = 16,       // control characters and headers sent
    lmMsgHeaderReceived = 32,   // control characters and headers received
    lmLine = 64,                // line service records
    lmFullMsgSend = 128,        // full SML text of planned messages
    lmFullMsgReceived = 256,    // full SML text and element array of received messages
    lmMsgGeneral = 512,         // message-level errors and events
    lmPortGeneral = 1024,       // port opened, closed, connected
    lmPortDetailed = 2048,      // port read/write errors, socket call failures
    lmReserved4096 = 4096,      // governs no record
};

constexpr int32_t kDefaultLogMask = 5199;  // 0x144F

}  // namespace tarvo
