#include "gem/clock_text.h"

#include <cstdio>
#include <ctime>

namespace tarvo::gem {

std::string clock_text(int time_format, std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto since = when.time_since_epoch();
    const time_t seconds = static_cast<time_t>(duration_cast<std::chrono::seconds>(since).count());
    const int millis = static_cast<int>(duration_cast<milliseconds>(since).count() % 1000);
    std::tm t{};
    localtime_r(&seconds, &t);
    char buf[64];
    if (time_format == 0) {
        std::snprintf(buf, sizeof buf, "%02d%02d%02d%02d%02d%02d", t.tm_year % 100, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                      t.tm_min, t.tm_sec);
    } else if (time_format == 2) {
        const long offset = t.tm_gmtoff / 60;
        if (offset == 0) {
            std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.tm_year + 1900, t.tm_mon + 1,
                          t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, millis);
        } else {
            const long a = offset < 0 ? -offset : offset;
            std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", t.tm_year + 1900,
                          t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, millis, offset < 0 ? '-' : '+',
                          a / 60, a % 60);
        }
    } else {
        std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                      t.tm_hour, t.tm_min, t.tm_sec, millis / 10);
    }
    return buf;
}

}  // namespace tarvo::gem
