#include "driver/messages/sml_planner.h"

#include <cstdio>
#include <cstring>

#include "driver/messages/item_format.h"
#include "driver/messages/sml_tokens.h"

namespace tarvo::sml {

namespace {

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_hex(char c) { return is_digit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'); }
bool is_letter(char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c | 0x20) : c; }

// Characters a value token may hold, by item kind.
bool boolean_char(char c) { return is_letter(c) || is_digit(c); }
bool binary_char(char c) { return is_hex(c) || c == 'x' || c == 'X'; }
bool signed_char(char c) { return is_digit(c) || c == ',' || c == '.' || c == '-'; }
bool unsigned_char(char c) { return is_digit(c) || c == ',' || c == '.'; }
bool float_char(char c) {
    return is_digit(c) || c == ',' || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E';
}

std::string printable(char c) {
    char buf[8];
    if (c > ' ' && c < 0x7F)
        std::snprintf(buf, sizeof buf, "'%c'", c);
    else
        std::snprintf(buf, sizeof buf, "0x%02X", static_cast<unsigned char>(c));
    return buf;
}

void append_be(std::string& out, uint64_t value, size_t size) {
    char bytes[8];
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(value >> (8 * (size - 1 - i)));
    out.append(bytes, size);
}

}  // namespace

bool Planner::refuse(std::string reason) {
    if (error_.empty()) error_ = std::move(reason);
    return false;
}

// Decimal digits of the stream or the function number.
bool Planner::number_digits(size_t& pos, int32_t& value, const char* what) {
    const size_t start = pos;
    int64_t v = 0;
    while (pos < n_ && is_digit(s_[pos])) {
        if (v <= 1000000) v = v * 10 + (s_[pos] - '0');  // saturates; too large either way
        ++pos;
    }
    if (pos - start > kMaxToken) return refuse(std::string(what) + " number of 256 or more digits");
    value = static_cast<int32_t>(v);
    return true;
}

bool Planner::plan(PlannedMessage& out) {
    size_t pos = 0;
    auto advance_to = [&](auto match) {
        while (pos < n_ && !match(s_[pos])) ++pos;
    };
    int32_t stream = 0, function = 0;

    advance_to([](char c) { return c == 's' || c == 'S'; });
    if (pos < n_) ++pos;
    if (!number_digits(pos, stream, "stream")) return false;
    advance_to([](char c) { return c == 'f' || c == 'F'; });
    if (pos < n_) ++pos;
    if (!number_digits(pos, function, "function")) return false;
    if (stream > 127) return refuse("stream number " + std::to_string(stream) + " is above 127");
    if (function > 255) return refuse("function number " + std::to_string(function) + " is above 255");

    advance_to([](char c) { return c == '<' || c == 'w' || c == 'W'; });
    uint8_t w_bit = 0;
    if (pos < n_ && s_[pos] != '<') {
        w_bit = 1;
        advance_to([](char c) { return c == '<'; });
    }
    std::string body;
    if (pos < n_) {
        ++pos;
        if (!encode(pos, body)) return false;
    }
    out.stream = stream;
    out.function = function;
    out.w_bit = w_bit;
    out.body = std::move(body);
    return true;
}

bool Planner::encode(size_t& pos, std::string& out) {
    data_.clear();
    headers_.clear();
    lists_.clear();

    Step step = item_start(pos);
    for (;;) {
        if (step == Step::kRefused) return false;
        if (step == Step::kScalar && !lists_.empty()) ++lists_.back().count;
        // Go on with the innermost open list: its next sub-item, or its end.
        step = Step::kNothing;
        bool next_item = false;
        while (!lists_.empty()) {
            while (pos < n_ && s_[pos] != '<' && s_[pos] != '>') ++pos;
            if (pos < n_ && s_[pos] == '<') {
                ++pos;
                next_item = true;
                break;
            }
            if (pos < n_) ++pos;  // the list's ">"
            const OpenList done = lists_.back();
            lists_.pop_back();
            if (done.count > item::kMaxLength) return refuse("list of 16777216 or more items");
            headers_[done.header].length = done.count;
            if (!lists_.empty()) ++lists_.back().count;
        }
        if (!next_item) break;
        step = item_start(pos);
    }
    assemble(out);
    return true;
}

void Planner::assemble(std::string& out) const {
    size_t total = data_.size();
    for (const Header& h : headers_) total += item::header_size(h.length);
    out.reserve(out.size() + total);
    size_t done = 0;
    for (const Header& h : headers_) {
        out.append(data_, done, h.offset - done);
        done = h.offset;
        item::append_header(out, h.format, h.length);
    }
    out.append(data_, done, std::string::npos);
}

// One item from just after its "<": a scalar is read whole, a list is opened.
Planner::Step Planner::item_start(size_t& pos) {
    while (pos < n_ && is_space(s_[pos])) ++pos;
    if (pos >= n_) return Step::kNothing;  // "<" at the end of the text
    if (s_[pos] == '>') {                  // "<>": no bytes, not counted
        ++pos;
        return Step::kNothing;
    }
    const char tag = s_[pos++];
    switch (lower(tag)) {
    case 'l':
        lists_.push_back(OpenList{headers_.size(), 0});
        headers_.push_back(Header{data_.size(), 0, item::kList});
        return Step::kListOpened;
    case 'a': return string_item(pos, item::kAscii);
    case 'j': return string_item(pos, item::kJis);
    case 'b':
        if (pos + 3 <= n_ && lower(s_[pos]) == 'o' && lower(s_[pos + 1]) == 'o' && lower(s_[pos + 2]) == 'l') {
            pos += 3;
            return value_item(pos, item::kBoolean, 'T', 1);
        }
        return value_item(pos, item::kBinary, 'B', 1);
    case 't': return value_item(pos, item::kBoolean, 'T', 1);
    case 'i':
    case 'u':
    case 'f': {
        const size_t start = pos;
        unsigned size = 0;
        while (pos < n_ && is_digit(s_[pos]) && size < 100) size = size * 10 + static_cast<unsigned>(s_[pos++] - '0');
        const char kind = static_cast<char>(tag & ~0x20);
        const bool f = kind == 'F';
        const bool valid = pos - start == 1 && (size == 4 || size == 8 || (!f && (size == 1 || size == 2)));
        if (!valid) {
            refuse(std::string("item ") + kind + std::string(s_ + start, pos - start) + ": size must be " +
                   (f ? "4 or 8" : "1, 2, 4 or 8"));
            return Step::kRefused;
        }
        static constexpr uint8_t kI[9] = {0, item::kI1, item::kI2, 0, item::kI4, 0, 0, 0, item::kI8};
        static constexpr uint8_t kU[9] = {0, item::kU1, item::kU2, 0, item::kU4, 0, 0, 0, item::kU8};
        const uint8_t format = kind == 'I' ? kI[size] : kind == 'U' ? kU[size] : size == 4 ? uint8_t{item::kF4} : uint8_t{item::kF8};
        return value_item(pos, format, kind, size);
    }
    default:
        refuse("unknown item type " + printable(tag));
        return Step::kRefused;
    }
}

// A or J: the characters between the first two apostrophes, taken as they
// are, extended by every further quoted piece and every "0xHH" token up to
// the item's ">" (so "<A 'Don' 0x27 't'>" is "Don't"); anything else there is
// passed over. No apostrophe before the item's ">" means an empty string.
// A "0xHH" token at `pos`: "0x" (or "0X") and exactly two hexadecimal
// digits, standing on its own.
bool Planner::hex_byte_at(size_t pos) const {
    if (pos + 4 > n_ || s_[pos] != '0' || (s_[pos + 1] | 0x20) != 'x') return false;
    if (!is_hex(s_[pos + 2]) || !is_hex(s_[pos + 3])) return false;
    if (pos + 4 < n_ && !is_space(s_[pos + 4]) && s_[pos + 4] != '\'' && s_[pos + 4] != '>') return false;
    return pos == 0 || is_space(s_[pos - 1]) || s_[pos - 1] == '\'';
}

Planner::Step Planner::string_item(size_t& pos, uint8_t format) {
    while (pos < n_ && s_[pos] != '\'' && s_[pos] != '>') ++pos;
    const size_t header = headers_.size();
    headers_.push_back(Header{data_.size(), 0, format});
    const size_t first = data_.size();
    auto too_long = [&] { return data_.size() - first > item::kMaxLength; };
    if (pos < n_ && s_[pos] == '\'') {
        while (pos < n_ && s_[pos] != '>') {
            if (s_[pos] == '\'') {
                const size_t start = ++pos;
                const void* close = std::memchr(s_ + start, '\'', n_ - start);
                const size_t end = close ? static_cast<size_t>(static_cast<const char*>(close) - s_) : n_;
                if (end - start > item::kMaxLength) {
                    refuse("text item of 16777216 or more characters");
                    return Step::kRefused;
                }
                data_.append(s_ + start, end - start);
                pos = end < n_ ? end + 1 : n_;
            } else if (hex_byte_at(pos)) {
                data_.push_back(static_cast<char>(hex_prefix(s_ + pos + 2, 2, 2)));
                pos += 4;
            } else {
                ++pos;
            }
            if (too_long()) {
                refuse("text item of 16777216 or more characters");
                return Step::kRefused;
            }
        }
        headers_[header].length = static_cast<uint32_t>(data_.size() - first);
    }
    const void* gt = pos < n_ ? std::memchr(s_ + pos, '>', n_ - pos) : nullptr;
    pos = gt ? static_cast<size_t>(static_cast<const char*>(gt) - s_) + 1 : n_;
    return Step::kScalar;
}

// B, Bool/T, I, U and F: whitespace-separated value tokens up to the ">".
Planner::Step Planner::value_item(size_t& pos, uint8_t format, char kind, size_t size) {
    const size_t header = headers_.size();
    headers_.push_back(Header{data_.size(), 0, format});
    size_t count = 0;
    char token[kMaxToken + 1];
    const size_t max_count = item::kMaxLength / size;

    while (pos < n_ && s_[pos] != '>') {
        while (pos < n_ && is_space(s_[pos])) ++pos;
        const size_t start = pos;
        switch (kind) {
        case 'T': while (pos < n_ && boolean_char(s_[pos])) ++pos; break;
        case 'B': while (pos < n_ && binary_char(s_[pos])) ++pos; break;
        case 'I': while (pos < n_ && signed_char(s_[pos])) ++pos; break;
        case 'U':
            if (pos < n_ && s_[pos] == '-') ++pos;
            while (pos < n_ && unsigned_char(s_[pos])) ++pos;
            break;
        default: while (pos < n_ && float_char(s_[pos])) ++pos; break;
        }
        const size_t len = pos - start;
        if (len > kMaxToken) {
            refuse("value token of 256 or more characters");
            return Step::kRefused;
        }
        if (len > 0) {
            if (++count > max_count) {
                refuse("item of 16777216 or more bytes");
                return Step::kRefused;
            }
            const char* t = s_ + start;
            switch (kind) {
            case 'T':
                for (size_t i = 0; i < len; ++i) token[i] = lower(t[i]);
                data_.push_back(static_cast<char>(atobool(token, len)));
                break;
            case 'B': data_.push_back(static_cast<char>(atobyte(t, len))); break;
            case 'I':
            case 'U': append_be(data_, integer_token(t, len), size); break;
            default: {
                const double d = float_token(t, len);
                uint64_t bits;
                if (size == 4) {
                    const float f = static_cast<float>(d);
                    uint32_t b32;
                    std::memcpy(&b32, &f, sizeof b32);
                    bits = b32;
                } else {
                    std::memcpy(&bits, &d, sizeof bits);
                }
                append_be(data_, bits, size);
                break;
            }
            }
        } else if (pos < n_ && s_[pos] != '>' && !is_space(s_[pos])) {
            ++pos;  // a character that cannot start a value: passed over
        }
        while (pos < n_ && is_space(s_[pos])) ++pos;
    }
    if (pos < n_) ++pos;  // the item's ">"
    headers_[header].length = static_cast<uint32_t>(count * size);
    return Step::kScalar;
}

}  // namespace tarvo::sml
