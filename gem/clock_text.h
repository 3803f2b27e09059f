// The equipment's clock as GEM writes it, in the format TimeFormat selects:
//   0  A12 "YYMMDDhhmmss"
//   1  A16 "YYYYMMDDhhmmsscc" (cc: hundredths)
//   2  extended, "YYYY-MM-DDThh:mm:ss.sss+hh:mm" (local time and its offset)
#pragma once

#include <chrono>
#include <string>

namespace tarvo::gem {

std::string clock_text(int time_format, std::chrono::system_clock::time_point when);

}  // namespace tarvo::gem
