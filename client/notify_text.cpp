#include "client/notify_text.h"

#include <cstdio>

namespace tarvo::client {

std::string NotifyText(int code) {
    switch (code) {
    case 1: return "An unexpected character is received";
    case 2: return "Length byte is not correct ";
    case 3: return "Check sum is abnormal";
    case 7: return "NAK is received";
    case 8: return "One more retry to send message";
    case 9: return "T4 timeout - inter-block timeout";
    case 10: return "T2 timeout - protocol timeout";
    case 11: return "T1 timeout - receive inter-character timeout";
    case 12: return "T3 timeout - Reply timeout";
    case 14: return "Error while reading from port";
    case 15: return "Error while writing to port";
    case 16: return "Error while trying to open port";
    case 17: return "Mistake in sending message syntax";
    case 18: return "Duplicate Block received ";
    case 19: return "Unexpected block or message received";
    case 20: return "Operating system has no ability to set more timers";
    case 21: return "T5 timeout - Connect Separation Timeout";
    case 22: return "T6 timeout - Control Timeout in the HSMS protocol";
    case 23: return "T7 timeout - Connection Idle Timeout";
    case 24: return "T8 timeout - Network Inter-character Timeout";
    case 25: return "Error while trying to open TCP port";
    case 26: return "Unexpected control message was received";
    case 27: return "Already active. Change OutDeviceID parameter value";
    case 28: return "Connection is not ready";
    case 29: return "Connect is exhausted";
    case 30: return "Specific reasons for select failure";
    case 31: return "Control messages Reject was received";
    case 100: return "HSMS established connection in ACTIVE mode";
    case 101: return "some equip has connected in PASSIVE mode";
    case 102: return "some equip has disconnected in PASSIVE mode";
    case 103: return "HSMS ALTERNATING: starting PASSIVE mode";
    case 104: return "HSMS ALTERNATING: starting ACTIVE mode";
    default: {
        char text[48];
        std::snprintf(text, sizeof text, "Unknown notification number %d", code);
        return text;
    }
    }
}

std::string ElemTypeName(int type) {
    static const char* const kNames[] = {"Invalid", "List",     "Binary",   "Boolean", "ASCII",  "JIS8",
                                         "Int (64)", "Int (8)", "Int (16)", "Int (32)", "Float 64", "Float 32",
                                         "UInt 64", "UInt 8",   "UInt 16",  "UInt 32"};
    return type >= 0 && type < 16 ? kNames[type] : "Unknown type";
}

}  // namespace tarvo::client
