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

namespace tarvo::gem {

namespace {

bool digits(const std::string& t, size_t at, size_t n, int& out) {
    if (at + n > t.size()) return false;
    out = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (t[i] < '0' || t[i] > '9') return false;
        out = out * 10 + (t[i] - '0');
    }
    return true;
}

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool possible(int y, int mo, int d, int h, int mi, int s) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (mo < 1 || mo > 12 || d < 1 || h > 23 || mi > 59 || s > 59 || y < 1970) return false;
    return d <= kDays[mo - 1] + (mo == 2 && leap(y) ? 1 : 0);
}

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
int64_t days_from_civil(int y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

}  // namespace

std::optional<std::chrono::system_clock::time_point> parse_clock_text(const std::string& t) {
    using namespace std::chrono;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, cc = 0;
    if (t.size() == 12 || t.size() == 16) {
        size_t at = 0;
        if (t.size() == 12) {
            if (!digits(t, 0, 2, y)) return std::nullopt;
            y += y < 70 ? 2000 : 1900;
            at = 2;
        } else {
            if (!digits(t, 0, 4, y)) return std::nullopt;
            at = 4;
        }
        if (!digits(t, at, 2, mo) || !digits(t, at + 2, 2, d) || !digits(t, at + 4, 2, h) ||
            !digits(t, at + 6, 2, mi) || !digits(t, at + 8, 2, s))
            return std::nullopt;
        if (t.size() == 16 && !digits(t, 14, 2, cc)) return std::nullopt;
        if (!possible(y, mo, d, h, mi, s)) return std::nullopt;
        std::tm tm{};
        tm.tm_year = y - 1900;
        tm.tm_mon = mo - 1;
        tm.tm_mday = d;
        tm.tm_hour = h;
        tm.tm_min = mi;
        tm.tm_sec = s;
        tm.tm_isdst = -1;
        const time_t when = mktime(&tm);
        if (when == static_cast<time_t>(-1)) return std::nullopt;
        return system_clock::time_point(seconds(when)) + milliseconds(cc * 10);
    }
    // YYYY-MM-DDThh:mm:ss[.s...](Z|+hh:mm|-hh:mm), at most 32 characters
    if (t.size() < 20 || t.size() > 32) return std::nullopt;
    if (!digits(t, 0, 4, y) || t[4] != '-' || !digits(t, 5, 2, mo) || t[7] != '-' || !digits(t, 8, 2, d) ||
        t[10] != 'T' || !digits(t, 11, 2, h) || t[13] != ':' || !digits(t, 14, 2, mi) || t[16] != ':' ||
        !digits(t, 17, 2, s))
        return std::nullopt;
    size_t at = 19;
    int64_t micros = 0;
    if (at < t.size() && t[at] == '.') {
        ++at;
        int64_t scale = 100000;
        const size_t start = at;
        while (at < t.size() && t[at] >= '0' && t[at] <= '9') {
            micros += (t[at] - '0') * scale;
            scale /= 10;
            ++at;
        }
        if (at == start) return std::nullopt;
    }
    int offset_minutes = 0;
    if (at < t.size() && t[at] == 'Z') {
        ++at;
    } else if (at < t.size() && (t[at] == '+' || t[at] == '-')) {
        int oh = 0, om = 0;
        if (!digits(t, at + 1, 2, oh) || t.size() <= at + 3 || t[at + 3] != ':' || !digits(t, at + 4, 2, om) || oh > 23 ||
            om > 59)
            return std::nullopt;
        offset_minutes = (t[at] == '-' ? -1 : 1) * (oh * 60 + om);
        at += 6;
    } else {
        return std::nullopt;
    }
    if (at != t.size() || !possible(y, mo, d, h, mi, s)) return std::nullopt;
    const int64_t secs = days_from_civil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s - offset_minutes * 60;
    return system_clock::time_point(seconds(secs)) + microseconds(micros);
}

}  // namespace tarvo::gem
