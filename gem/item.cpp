#include "gem/item.h"

#include <cmath>
#include <limits>

namespace tarvo::gem {

namespace {

struct Name {
    Format format;
    const char* name;
};
constexpr Name kNames[] = {
    {Format::L, "L"},   {Format::B, "B"},   {Format::Boolean, "Boolean"}, {Format::A, "A"},   {Format::J, "J"},
    {Format::I8, "I8"}, {Format::I1, "I1"}, {Format::I2, "I2"},           {Format::I4, "I4"}, {Format::F8, "F8"},
    {Format::F4, "F4"}, {Format::U8, "U8"}, {Format::U1, "U1"},           {Format::U2, "U2"}, {Format::U4, "U4"},
};

bool same_letters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

uint64_t unsigned_mask(Format f) {
    const size_t n = value_size(f);
    return n >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * n)) - 1;
}

}  // namespace

const char* format_name(Format f) {
    for (const Name& n : kNames)
        if (n.format == f) return n.name;
    return "?";
}

std::optional<Format> format_from_name(std::string_view name) {
    if (same_letters(name, "Bool")) return Format::Boolean;
    for (const Name& n : kNames)
        if (same_letters(name, n.name)) return n.format;
    return std::nullopt;
}

std::optional<Format> format_from_code(unsigned type_code) {
    for (const Name& n : kNames)
        if (static_cast<unsigned>(n.format) >> 2 == type_code) return n.format;
    return std::nullopt;
}

bool is_unsigned(Format f) { return f == Format::U1 || f == Format::U2 || f == Format::U4 || f == Format::U8; }
bool is_signed(Format f) { return f == Format::I1 || f == Format::I2 || f == Format::I4 || f == Format::I8; }
bool is_float(Format f) { return f == Format::F4 || f == Format::F8; }

size_t value_size(Format f) {
    switch (f) {
    case Format::B: case Format::Boolean: case Format::U1: case Format::I1: return 1;
    case Format::U2: case Format::I2: return 2;
    case Format::U4: case Format::I4: case Format::F4: return 4;
    case Format::U8: case Format::I8: case Format::F8: return 8;
    default: return 0;
    }
}

Item Item::list(std::vector<Item> items) {
    Item it;
    it.items_ = std::move(items);
    return it;
}

Item Item::text(std::string bytes, Format f) {
    Item it;
    it.format_ = f == Format::J ? Format::J : Format::A;
    it.bytes_ = std::move(bytes);
    return it;
}

Item Item::binary(std::string bytes) {
    Item it;
    it.format_ = Format::B;
    it.bytes_ = std::move(bytes);
    return it;
}

Item Item::boolean(std::vector<bool> values) {
    Item it;
    it.format_ = Format::Boolean;
    for (bool v : values) it.bytes_ += v ? '\1' : '\0';
    return it;
}

Item Item::unsigneds(Format f, std::vector<uint64_t> values) {
    if (is_signed(f)) {
        std::vector<int64_t> s(values.begin(), values.end());
        return signeds(f, std::move(s));
    }
    if (is_float(f)) return floats(f, std::vector<double>(values.begin(), values.end()));
    Item it;
    it.format_ = is_unsigned(f) ? f : Format::U4;
    for (uint64_t& v : values) v &= unsigned_mask(it.format_);
    it.u_ = std::move(values);
    return it;
}

Item Item::signeds(Format f, std::vector<int64_t> values) {
    if (is_unsigned(f)) return unsigneds(f, std::vector<uint64_t>(values.begin(), values.end()));
    if (is_float(f)) return floats(f, std::vector<double>(values.begin(), values.end()));
    Item it;
    it.format_ = is_signed(f) ? f : Format::I4;
    const size_t bits = 8 * value_size(it.format_);
    for (int64_t& v : values) {
        if (bits < 64) {
            const uint64_t m = (uint64_t{1} << bits) - 1, sign = uint64_t{1} << (bits - 1);
            const uint64_t u = static_cast<uint64_t>(v) & m;
            v = static_cast<int64_t>((u ^ sign) - sign);
        }
    }
    it.i_ = std::move(values);
    return it;
}

Item Item::floats(Format f, std::vector<double> values) {
    Item it;
    it.format_ = f == Format::F4 ? Format::F4 : Format::F8;
    if (it.format_ == Format::F4)
        for (double& v : values) v = static_cast<double>(static_cast<float>(v));
    it.f_ = std::move(values);
    return it;
}

size_t Item::size() const {
    if (format_ == Format::L) return items_.size();
    if (is_unsigned(format_)) return u_.size();
    if (is_signed(format_)) return i_.size();
    if (is_float(format_)) return f_.size();
    return bytes_.size();
}

std::optional<uint64_t> Item::as_id() const {
    if (is_unsigned(format_) && u_.size() == 1) return u_[0];
    if (is_signed(format_) && i_.size() == 1 && i_[0] >= 0) return static_cast<uint64_t>(i_[0]);
    return std::nullopt;
}

std::optional<double> Item::as_number() const {
    if (is_unsigned(format_) && u_.size() == 1) return static_cast<double>(u_[0]);
    if (is_signed(format_) && i_.size() == 1) return static_cast<double>(i_[0]);
    if (is_float(format_) && f_.size() == 1) return f_[0];
    return std::nullopt;
}

Item empty_item(Format f) {
    if (f == Format::L) return Item();
    if (is_text(f)) return Item::text("", f);
    if (f == Format::B) return Item::binary("");
    if (f == Format::Boolean) return Item::boolean(std::vector<bool>{});
    if (is_float(f)) return Item::floats(f, {});
    if (is_signed(f)) return Item::signeds(f, {});
    return Item::unsigneds(f, {});
}

bool fits_unsigned(Format f, uint64_t value) {
    if (is_unsigned(f)) return (value & ~unsigned_mask(f)) == 0;
    if (is_signed(f)) {
        const size_t bits = 8 * value_size(f);
        return value <= (uint64_t{1} << (bits - 1)) - 1;
    }
    if (is_float(f)) return true;
    return false;
}

bool fits_signed(Format f, int64_t value) {
    if (value >= 0) return fits_unsigned(f, static_cast<uint64_t>(value));
    if (is_signed(f)) {
        const size_t bits = 8 * value_size(f);
        return bits == 64 || value >= -(int64_t{1} << (bits - 1));
    }
    return is_float(f);
}

bool fits(Format f, double value) {
    if (std::isnan(value)) return is_float(f);
    if (is_float(f)) {
        if (f == Format::F8 || std::isinf(value)) return true;
        // Everything that rounds to a finite float: up to half a step above the largest.
        const double limit = static_cast<double>(std::numeric_limits<float>::max()) + std::ldexp(1.0, 103);
        return std::fabs(value) < limit;
    }
    if (value != std::floor(value)) return false;
    if (value >= 0) return value < 18446744073709551616.0 && fits_unsigned(f, static_cast<uint64_t>(value));
    return value >= -9223372036854775808.0 && fits_signed(f, static_cast<int64_t>(value));
}

}  // namespace tarvo::gem
