#include "gem/item_codec.h"

#include <algorithm>

#include "driver/messages/item_format.h"
#include "driver/messages/sml_planner.h"
#include "gem/sml_text.h"

namespace tarvo::gem {

namespace {

class Decoder {
public:
    explicit Decoder(std::string_view body)
        : b_(reinterpret_cast<const unsigned char*>(body.data())), n_(body.size()) {}

    bool item(Item& out, int depth) {
        if (depth > kMaxItemDepth) return fail("lists nested more than 64 deep");
        item::Header h;
        if (!item::read_header(b_, n_, pos_, h)) return fail("item header incomplete at byte " + std::to_string(pos_));
        const auto format = format_from_code(h.type_code);
        if (!format) return fail("unknown item format at byte " + std::to_string(pos_));
        pos_ += h.size;
        if (*format == Format::L) {
            std::vector<Item> items;
            // Each sub-item takes at least two bytes: a bound for the reservation.
            items.reserve(std::min<size_t>(h.length, (n_ - pos_) / 2));
            for (uint32_t i = 0; i < h.length; ++i) {
                Item sub;
                if (!item(sub, depth + 1)) return false;
                items.push_back(std::move(sub));
            }
            out = Item::list(std::move(items));
            return true;
        }
        if (h.length > n_ - pos_) return fail("item runs past the end of the body");
        const char* data = reinterpret_cast<const char*>(b_ + pos_);
        const size_t size = value_size(*format);
        if (size > 1 && h.length % size != 0) return fail("numeric item length not a whole number of values");
        pos_ += h.length;
        switch (*format) {
        case Format::A:
        case Format::J: out = Item::text(std::string(data, h.length), *format); return true;
        case Format::B: out = Item::binary(std::string(data, h.length)); return true;
        case Format::Boolean: {
            std::vector<bool> v;
            for (uint32_t i = 0; i < h.length; ++i) v.push_back(data[i] != 0);
            out = Item::boolean(std::move(v));
            return true;
        }
        default: break;
        }
        const auto* p = reinterpret_cast<const unsigned char*>(data);
        const size_t count = h.length / size;
        if (is_unsigned(*format)) {
            std::vector<uint64_t> v(count);
            for (size_t i = 0; i < count; ++i) v[i] = item::read_be(p + i * size, size);
            out = Item::unsigneds(*format, std::move(v));
        } else if (is_signed(*format)) {
            std::vector<int64_t> v(count);
            for (size_t i = 0; i < count; ++i) v[i] = static_cast<int64_t>(item::read_be(p + i * size, size));
            out = Item::signeds(*format, std::move(v));
        } else {
            std::vector<double> v(count);
            for (size_t i = 0; i < count; ++i) {
                const uint64_t raw = item::read_be(p + i * size, size);
                if (size == 4) {
                    const auto r = static_cast<uint32_t>(raw);
                    float f;
                    static_assert(sizeof f == 4);
                    __builtin_memcpy(&f, &r, 4);
                    v[i] = f;
                } else {
                    double d;
                    __builtin_memcpy(&d, &raw, 8);
                    v[i] = d;
                }
            }
            out = Item::floats(*format, std::move(v));
        }
        return true;
    }

    size_t pos() const { return pos_; }
    const std::string& error() const { return error_; }

private:
    bool fail(std::string why) {
        error_ = std::move(why);
        return false;
    }

    const unsigned char* b_;
    size_t n_;
    size_t pos_ = 0;
    std::string error_;
};

}  // namespace

DecodedBody decode_body(std::string_view body) {
    DecodedBody out;
    if (body.empty()) {
        out.ok = true;
        return out;
    }
    Decoder d(body);
    Item item;
    if (!d.item(item, 0)) {
        out.error = d.error();
        return out;
    }
    if (d.pos() != body.size()) {
        out.error = "bytes after the item";
        return out;
    }
    out.ok = true;
    out.item = std::move(item);
    return out;
}

std::string encode_item(const Item& item) {
    const std::string text = write_sml(item, SmlStyle::planner);
    sml::Planner planner(text.data(), text.size());
    std::string bytes;
    size_t pos = 1;  // just after the "<"
    if (!planner.encode(pos, bytes)) return std::string();
    return bytes;
}

}  // namespace tarvo::gem
