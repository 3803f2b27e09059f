// Conversions of SML value tokens into item values. Tokens hold at most 255
// characters (the planner refuses longer ones before converting).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvo::sml {

constexpr size_t kMaxToken = 255;

// A signed decimal integer as the C conversions read it: an optional sign,
// then digits up to the first other character (none: 0). The digits are
// accumulated modulo 2^64, so every narrower width wraps as well.
uint64_t integer_token(const char* token, size_t size);

// A floating-point token as the C conversion to double reads it in the "C"
// locale (stops at the first character that cannot continue the number).
double float_token(const char* token, size_t size);

// True when the signed decimal integer at the start of `token` is not zero.
bool nonzero_integer(const char* token, size_t size);

// Value of up to `max_digits` hexadecimal digits at the start of `token`.
unsigned hex_prefix(const char* token, size_t size, size_t max_digits);

// A Boolean token (already in lower case) as 0 or 1: "true..." 1,
// "false..." 0, "0x" with one or two hexadecimal digits, else a decimal
// integer; anything not zero gives 1.
int atobool(const char* token, size_t size);

// A Binary token as one byte: exactly "0x" and two hexadecimal digits, else
// the low 8 bits of the decimal integer.
uint8_t atobyte(const char* token, size_t size);

}  // namespace tarvo::sml
