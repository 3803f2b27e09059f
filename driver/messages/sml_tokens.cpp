// Value token conversions of the planner, and the two public converters of
// Boolean and Binary tokens.
#include "driver/messages/sml_tokens.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/messages/c_locale.h"

namespace tarvo::sml {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Skips the optional sign; returns the index of the first digit.
size_t after_sign(const char* token, size_t size, bool& negative) {
    negative = size > 0 && token[0] == '-';
    return size > 0 && (token[0] == '-' || token[0] == '+') ? 1 : 0;
}

}  // namespace

uint64_t integer_token(const char* token, size_t size) {
    bool negative;
    uint64_t value = 0;
    for (size_t i = after_sign(token, size, negative); i < size && is_digit(token[i]); ++i)
        value = value * 10 + static_cast<uint64_t>(token[i] - '0');
    return negative ? 0 - value : value;
}

double float_token(const char* token, size_t size) {
    char buf[kMaxToken + 1];
    if (size > kMaxToken) size = kMaxToken;
    std::memcpy(buf, token, size);
    buf[size] = '\0';
    return strtod_l(buf, nullptr, c_locale());
}

bool nonzero_integer(const char* token, size_t size) {
    bool negative;
    for (size_t i = after_sign(token, size, negative); i < size && is_digit(token[i]); ++i)
        if (token[i] != '0') return true;
    return false;
}

unsigned hex_prefix(const char* token, size_t size, size_t max_digits) {
    unsigned value = 0;
    for (size_t i = 0; i < size && i < max_digits; ++i) {
        int h = hex_value(token[i]);
        if (h < 0) break;
        value = value * 16 + static_cast<unsigned>(h);
    }
    return value;
}

int atobool(const char* t, size_t n) {
    if (n >= 4 && std::memcmp(t, "true", 4) == 0) return 1;
    if (n >= 5 && std::memcmp(t, "false", 5) == 0) return 0;
    // "0x" with one or two hexadecimal digits; a single digit is read alone.
    if (n > 2 && t[0] == '0' && t[1] == 'x') return hex_prefix(t + 2, n - 2, 2) != 0 ? 1 : 0;
    return nonzero_integer(t, n) ? 1 : 0;
}

uint8_t atobyte(const char* t, size_t n) {
    if (n == 4 && t[0] == '0' && t[1] == 'x') return static_cast<uint8_t>(hex_prefix(t + 2, 2, 2));
    return static_cast<uint8_t>(integer_token(t, n));
}

}  // namespace tarvo::sml

