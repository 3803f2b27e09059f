#include "gem/sml_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "driver/messages/quoted_text.h"

namespace tarvo::gem {

namespace {

// Appends to a string, for the shared quoting of text values.
struct StringSink {
    std::string& out;
    void add(char c) { out += c; }
    void add(const char* s) { out += s; }
    void add(const char* s, size_t n) { out.append(s, n); }
};

void write_float(std::string& out, double v, bool single) {
    if (std::isnan(v)) {
        out += "0";  // the SML of the driver has no way to write one
        return;
    }
    if (std::isinf(v)) {
        out += v < 0 ? "-1e999" : "1e999";
        return;
    }
    char buf[40];
    const auto r = single ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(v))
                          : std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

void write(std::string& out, const Item& item, SmlStyle style) {
    const Format f = item.format();
    out += '<';
    if (f == Format::Boolean && style == SmlStyle::planner)
        out += "Bool";
    else
        out += format_name(f);
    switch (f) {
    case Format::L:
        for (const Item& sub : item.items()) {
            out += ' ';
            write(out, sub, style);
        }
        break;
    case Format::A:
    case Format::J:
        out += ' ';
        {
            StringSink sink{out};
            sml::quote_into(sink, item.bytes().data(), item.bytes().size());
        }
        break;
    case Format::B: {
        char buf[8];
        for (unsigned char c : item.bytes()) {
            std::snprintf(buf, sizeof buf, " 0x%02X", c);
            out += buf;
        }
        break;
    }
    case Format::Boolean:
        for (char c : item.bytes()) {
            if (style == SmlStyle::planner)
                out += c ? " 1" : " 0";
            else
                out += c ? " T" : " F";
        }
        break;
    default:
        for (uint64_t v : item.unsigned_values()) out += ' ' + std::to_string(v);
        for (int64_t v : item.signed_values()) out += ' ' + std::to_string(v);
        for (double v : item.float_values()) {
            out += ' ';
            write_float(out, v, f == Format::F4);
        }
        break;
    }
    out += '>';
}

class Reader {
public:
    explicit Reader(std::string_view s) : s_(s) {}

    std::optional<Item> whole() {
        skip();
        auto it = item(0);
        if (!it) return std::nullopt;
        skip();
        if (pos_ != s_.size()) return fail("text after the item");
        return it;
    }

    const std::string& error() const { return error_; }

private:
    std::optional<Item> fail(std::string why) {
        if (error_.empty()) error_ = std::move(why);
        return std::nullopt;
    }
    void skip() {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t')) ++pos_;
    }
    std::string_view word() {
        const size_t start = pos_;
        while (pos_ < s_.size() && s_[pos_] != ' ' && s_[pos_] != '\t' && s_[pos_] != '>' && s_[pos_] != '<' &&
               s_[pos_] != '\'')
            ++pos_;
        return s_.substr(start, pos_ - start);
    }
    bool at(char c) const { return pos_ < s_.size() && s_[pos_] == c; }

    static std::optional<unsigned> hex_byte(std::string_view w) {
        if (w.size() != 4 || w[0] != '0' || (w[1] | 0x20) != 'x') return std::nullopt;
        unsigned v = 0;
        const auto r = std::from_chars(w.data() + 2, w.data() + 4, v, 16);
        if (r.ptr != w.data() + 4) return std::nullopt;
        return v;
    }

    std::optional<Item> item(int depth) {
        if (depth > 64) return fail("lists nested more than 64 deep");
        if (!at('<')) return fail("'<' expected");
        ++pos_;
        skip();
        const std::string_view name = word();
        const auto format = format_from_name(name);
        if (!format) return fail("unknown item format '" + std::string(name) + "'");
        std::vector<Item> items;
        std::string bytes;
        std::vector<std::string_view> words;
        bool quoted = false;
        for (;;) {
            skip();
            if (pos_ >= s_.size()) return fail("'>' missing");
            if (at('>')) {
                ++pos_;
                break;
            }
            if (*format == Format::L) {
                auto sub = item(depth + 1);
                if (!sub) return std::nullopt;
                items.push_back(std::move(*sub));
                continue;
            }
            if (is_text(*format)) {
                if (at('\'')) {
                    const size_t close = s_.find('\'', pos_ + 1);
                    if (close == std::string_view::npos) return fail("closing apostrophe missing");
                    bytes.append(s_.substr(pos_ + 1, close - pos_ - 1));
                    pos_ = close + 1;
                    quoted = true;
                    continue;
                }
                const std::string_view w = word();
                const auto b = hex_byte(w);
                if (!quoted || !b) return fail("a quoted piece or 0xHH expected, not '" + std::string(w) + "'");
                bytes += static_cast<char>(*b);
                continue;
            }
            const std::string_view w = word();
            if (w.empty()) return fail("unexpected character '" + std::string(1, s_[pos_]) + "'");
            words.push_back(w);
        }
        switch (*format) {
        case Format::L: return Item::list(std::move(items));
        case Format::A:
        case Format::J: return Item::text(std::move(bytes), *format);
        case Format::B: {
            std::string out;
            for (std::string_view w : words) {
                auto b = hex_byte(w);
                unsigned d = 0;
                if (!b) {
                    const auto r = std::from_chars(w.data(), w.data() + w.size(), d);
                    if (r.ptr != w.data() + w.size() || d > 255) return fail("bad B value '" + std::string(w) + "'");
                    b = d;
                }
                out += static_cast<char>(*b);
            }
            return Item::binary(std::move(out));
        }
        case Format::Boolean: {
            std::vector<bool> v;
            for (std::string_view w : words) {
                std::string l(w);
                for (char& c : l) c = static_cast<char>(c | 0x20);
                if (l == "t" || l == "true" || l == "1")
                    v.push_back(true);
                else if (l == "f" || l == "false" || l == "0")
                    v.push_back(false);
                else
                    return fail("bad Boolean value '" + std::string(w) + "'");
            }
            return Item::boolean(std::move(v));
        }
        default: break;
        }
        if (is_float(*format)) {
            std::vector<double> v;
            for (std::string_view w : words) {
                std::string t(w);
                char* end = nullptr;
                const double d = std::strtod(t.c_str(), &end);
                if (t.empty() || *end != '\0') return fail("bad " + std::string(format_name(*format)) + " value '" + t + "'");
                if (!fits(*format, d)) return fail("value '" + t + "' does not fit " + format_name(*format));
                v.push_back(d);
            }
            return Item::floats(*format, std::move(v));
        }
        std::vector<uint64_t> uv;
        std::vector<int64_t> iv;
        for (std::string_view w : words) {
            const std::string t(w);
            if (!w.empty() && w[0] == '-') {
                int64_t x = 0;
                const auto r = std::from_chars(w.data(), w.data() + w.size(), x);
                if (r.ec != std::errc() || r.ptr != w.data() + w.size() || !fits_signed(*format, x))
                    return fail("value '" + t + "' does not fit " + format_name(*format));
                iv.push_back(x);
                uv.push_back(static_cast<uint64_t>(x));
            } else {
                uint64_t x = 0;
                const auto r = std::from_chars(w.data(), w.data() + w.size(), x);
                if (r.ec != std::errc() || r.ptr != w.data() + w.size() || !fits_unsigned(*format, x))
                    return fail("value '" + t + "' does not fit " + format_name(*format));
                iv.push_back(static_cast<int64_t>(x));
                uv.push_back(x);
            }
        }
        return is_signed(*format) ? Item::signeds(*format, std::move(iv)) : Item::unsigneds(*format, std::move(uv));
    }

    std::string_view s_;
    size_t pos_ = 0;
    std::string error_;
};

}  // namespace

std::string write_sml(const Item& item, SmlStyle style) {
    std::string out;
    write(out, item, style);
    return out;
}

std::optional<Item> read_sml(std::string_view text, std::string* error) {
    Reader r(text);
    auto item = r.whole();
    if (!item && error) *error = r.error();
    return item;
}

}  // namespace tarvo::gem
