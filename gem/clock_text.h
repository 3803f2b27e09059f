// The equipment's clock as GEM writes it, in the format TimeFormat selects:
//   0  A12 "YYMMDDhhmmss"
//   1  A16 "YYYYMMDDhhmmsscc" (cc: hundredths)
//   2  extended, "YYYY-MM-DDThh:mm:ss.sss+hh:mm" (local time and its offset)
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace tarvo::gem {

std::string clock_text(int time_format, std::chrono::system_clock::time_point when);

}  // namespace tarvo::gem

namespace tarvo::gem {

// A time the host sent (S2F31) in any of the three forms; nullopt when it is
// malformed or impossible (month 13, 30 February, 24:00...). A12 years
// 00..69 are 2000..2069, 70..99 1970..1999.
std::optional<std::chrono::system_clock::time_point> parse_clock_text(const std::string& text);

}  // namespace tarvo::gem
