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

enum class Ackc5 : uint8_t { accepted = 0, error = 1 };                          // S5F2, S5F4
enum class Aled : uint8_t { disable = 0, enable = 0x80 };                        // S5F3 (bit 8)
inline constexpr uint8_t kAlarmSet = 0x80;                                       // ALCD bit 8
enum class Hcack : uint8_t {                                                      // S2F42, S2F50
    done = 0, invalid_command = 1, cannot_perform_now = 2, parameter_invalid = 3, finishes_later = 4,
    rejected = 5, no_such_object = 6,
};
enum class Cpack : uint8_t { no_such_name = 1, illegal_value = 2, illegal_format = 3 };  // S2F42
enum class Tiack : uint8_t { ok = 0, error = 1 };                                // S2F32
enum class Ackc10 : uint8_t { accepted = 0, not_displayed = 1, not_available = 2 };  // S10F2/4/6
enum class Ackc7 : uint8_t {                                                      // S7F4, S7F18
    accepted = 0, permission_not_granted = 1, length_error = 2, matrix_overflow = 3, ppid_not_found = 4,
    mode_unsupported = 5, other = 6,
};
enum class Ppgnt : uint8_t {                                                      // S7F2
    ok = 0, already_have = 1, no_space = 2, invalid_ppid = 3, busy = 4, will_not_accept = 5, other = 6,
};

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
