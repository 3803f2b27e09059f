// The codes GEM messages carry, named as SEMI E5 and E30 name them.
#pragma once

#include <cstdint>

namespace tarvo::gem {

enum class Commack : uint8_t { accepted = 0, denied = 1 };                       // S1F14
enum class Oflack : uint8_t { acknowledged = 0 };                                // S1F16
enum class Onlack : uint8_t { accepted = 0, not_allowed = 1, already_online = 2 };  // S1F18
enum class Eac : uint8_t { ok = 0, no_such_constant = 1, busy = 2, out_of_range = 3 };  // S2F16
enum class Drack : uint8_t {                                                      // S2F34
    ok = 0, no_space = 1, bad_format = 2, rptid_defined = 3, vid_unknown = 4,
};
enum class Lrack : uint8_t {                                                      // S2F36
    ok = 0, no_space = 1, bad_format = 2, ceid_linked = 3, ceid_unknown = 4, rptid_unknown = 5,
};
enum class Erack : uint8_t { ok = 0, ceid_unknown = 1 };                         // S2F38
enum class Ackc6 : uint8_t { ok = 0 };                                           // S6F12
enum class Grant6 : uint8_t { granted = 0, busy = 1, not_interested = 2 };       // S6F6

// Stream 9 functions: the equipment's reports of a message it could not take.
enum class S9 : uint8_t {
    unknown_device = 1,      // S9F1
    unknown_stream = 3,      // S9F3
    unknown_function = 5,    // S9F5
    illegal_data = 7,        // S9F7
    transaction_timeout = 9, // S9F9
    data_too_long = 11,      // S9F11
};

}  // namespace tarvo::gem
