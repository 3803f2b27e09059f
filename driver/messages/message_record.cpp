#include "driver/messages/message_record.h"

#include <cstdio>

namespace tarvo {

std::string message_name(int stream, int function, bool w_bit) {
    char buf[40];
    int n = std::snprintf(buf, sizeof buf, w_bit ? "S%dF%dW" : "S%dF%d", stream, function);
    return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

}  // namespace tarvo
