// A SECS-II item as a value: its format and its content (a list's items, the
// bytes of an A, J, B or Boolean item, or the numbers of a numeric item).
// Items are built once and then only read; copies are independent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::gem {

// Format codes as the format byte holds them (length-byte bits clear).
enum class Format : uint8_t {
    L = 0x00, B = 0x20, Boolean = 0x24, A = 0x40, J = 0x44,
    I8 = 0x60, I1 = 0x64, I2 = 0x68, I4 = 0x70,
    F8 = 0x80, F4 = 0x90,
    U8 = 0xA0, U1 = 0xA4, U2 = 0xA8, U4 = 0xB0,
};

// "L", "A", "U4", "Boolean"...; the name for configuration files and SML.
const char* format_name(Format f);
// The format a name gives ("Bool" and "BOOLEAN" too); nullopt for none.
std::optional<Format> format_from_name(std::string_view name);
// A code read from a format byte (>> 2 already applied); nullopt for none.
std::optional<Format> format_from_code(unsigned type_code);

bool is_unsigned(Format f);
bool is_signed(Format f);
bool is_float(Format f);
inline bool is_integer(Format f) { return is_unsigned(f) || is_signed(f); }
inline bool is_numeric(Format f) { return is_integer(f) || is_float(f); }
inline bool is_text(Format f) { return f == Format::A || f == Format::J; }
// Bytes of one value: 1 for B and Boolean, 1 to 8 for numbers, 0 for L, A, J.
size_t value_size(Format f);

class Item {
public:
    Item() = default;  // an empty list

    static Item list(std::vector<Item> items);
    static Item text(std::string bytes, Format f = Format::A);
    static Item binary(std::string bytes);
    static Item boolean(std::vector<bool> values);
    static Item boolean(bool value) { return boolean(std::vector<bool>{value}); }
    // Numbers in any numeric format; each is converted to that format as a
    // cast would (callers check the range with fits() first where it matters).
    static Item unsigneds(Format f, std::vector<uint64_t> values);
    static Item signeds(Format f, std::vector<int64_t> values);
    static Item floats(Format f, std::vector<double> values);
    static Item u1(uint64_t v) { return unsigneds(Format::U1, {v}); }
    static Item u4(uint64_t v) { return unsigneds(Format::U4, {v}); }
    static Item a(std::string s) { return text(std::move(s)); }
    static Item b(uint8_t v) { return binary(std::string(1, static_cast<char>(v))); }

    Format format() const { return format_; }
    // Sub-items of a list, values of a numeric, B or Boolean item, bytes of a text.
    size_t size() const;
    const std::vector<Item>& items() const { return items_; }
    // A, J, B and Boolean content (Boolean: one byte 0 or 1 a value).
    const std::string& bytes() const { return bytes_; }
    const std::vector<uint64_t>& unsigned_values() const { return u_; }
    const std::vector<int64_t>& signed_values() const { return i_; }
    const std::vector<double>& float_values() const { return f_; }

    // The one value of a single-value integer item that is not negative
    // (an ID, a code); nullopt for anything else.
    std::optional<uint64_t> as_id() const;
    // The one value of a single-value numeric item as a double.
    std::optional<double> as_number() const;

    bool operator==(const Item& o) const = default;

private:
    Format format_ = Format::L;
    std::vector<Item> items_;
    std::string bytes_;
    std::vector<uint64_t> u_;
    std::vector<int64_t> i_;
    std::vector<double> f_;
};

// A zero-length item of a format.
Item empty_item(Format f);

// True when `value` can be held by format `f` without change.
bool fits(Format f, double value);
bool fits_unsigned(Format f, uint64_t value);
bool fits_signed(Format f, int64_t value);

}  // namespace tarvo::gem
