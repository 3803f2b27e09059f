// SECS-II item formats: format codes, value sizes, element type numbers and
// the item header (format byte plus one to three length bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "driver/messages/elem_type.h"

namespace tarvo::item {

// Format codes (format byte with the two length-count bits clear).
enum FormatCode : uint8_t {
    kList = 0x00, kBinary = 0x20, kBoolean = 0x24, kAscii = 0x40, kJis = 0x44,
    kI8 = 0x60, kI1 = 0x64, kI2 = 0x68, kI4 = 0x70,
    kF8 = 0x80, kF4 = 0x90,
    kU8 = 0xA0, kU1 = 0xA4, kU2 = 0xA8, kU4 = 0xB0,
};

// Lengths from this value on cannot be written with three length bytes.
constexpr uint32_t kMaxLength = 16777215;

// Type code (format byte >> 2) -> element type; etSecsInv for unknown codes.
constexpr int32_t elem_type(unsigned type_code) {
    switch (type_code) {
    case kList >> 2: return etSecsL;
    case kBinary >> 2: return etSecsB;
    case kBoolean >> 2: return etSecsBool;
    case kAscii >> 2: return etSecsA;
    case kJis >> 2: return etSecsJ;
    case kI8 >> 2: return etSecsI8;
    case kI1 >> 2: return etSecsI1;
    case kI2 >> 2: return etSecsI2;
    case kI4 >> 2: return etSecsI4;
    case kF8 >> 2: return etSecsF8;
    case kF4 >> 2: return etSecsF4;
    case kU8 >> 2: return etSecsU8;
    case kU1 >> 2: return etSecsU1;
    case kU2 >> 2: return etSecsU2;
    case kU4 >> 2: return etSecsU4;
    default: return etSecsInv;
    }
}

// Size of one value of a numeric type code; 0 for the non-numeric ones.
constexpr size_t numeric_size(unsigned type_code) {
    switch (type_code) {
    case kI1 >> 2: case kU1 >> 2: return 1;
    case kI2 >> 2: case kU2 >> 2: return 2;
    case kI4 >> 2: case kU4 >> 2: case kF4 >> 2: return 4;
    case kI8 >> 2: case kU8 >> 2: case kF8 >> 2: return 8;
    default: return 0;
    }
}

// Number of bytes of the header for a length (the smallest form).
constexpr size_t header_size(uint32_t length) {
    return length <= 0xFF ? 2 : length <= 0xFFFF ? 3 : 4;
}

// Appends the header of an item; `length` must not exceed kMaxLength.
inline void append_header(std::string& out, uint8_t format_code, uint32_t length) {
    if (length <= 0xFF) {
        const char h[2] = {static_cast<char>(format_code | 1), static_cast<char>(length)};
        out.append(h, 2);
    } else if (length <= 0xFFFF) {
        const char h[3] = {static_cast<char>(format_code | 2), static_cast<char>(length >> 8),
                           static_cast<char>(length & 0xFF)};
        out.append(h, 3);
    } else {
        const char h[4] = {static_cast<char>(format_code | 3), static_cast<char>(length >> 16),
                           static_cast<char>((length >> 8) & 0xFF), static_cast<char>(length & 0xFF)};
        out.append(h, 4);
    }
}

// Reads `size` bytes (1 to 8) most significant first.
inline uint64_t read_be(const unsigned char* p, size_t size) {
    uint64_t v = 0;
    for (size_t i = 0; i < size; ++i) v = (v << 8) | p[i];
    return v;
}

// An item header as read from a body.
struct Header {
    unsigned type_code;   // format byte >> 2
    uint32_t length;      // bytes of data, or a list's number of items
    size_t size;          // bytes of the header itself (2 to 4)
};

// Reads the header at `pos` of `n` body bytes; false when the format byte
// says no length bytes or the length bytes run past the body.
inline bool read_header(const unsigned char* b, size_t n, size_t pos, Header& h) {
    if (pos >= n) return false;
    const size_t length_bytes = b[pos] & 3;
    if (length_bytes == 0 || n - pos - 1 < length_bytes) return false;
    h.type_code = b[pos] >> 2;
    h.length = static_cast<uint32_t>(read_be(b + pos + 1, length_bytes));
    h.size = 1 + length_bytes;
    return true;
}

}  // namespace tarvo::item
