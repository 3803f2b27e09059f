// Rendering received messages as SML text (the display dialect) or raw bytes.
//
// Choices where the wire leaves room:
//   - a JIS item is shown like an ASCII one, "<J '...'>", so it reads back;
//   - bytes after the root item are not shown (they are not decoded either);
//   - an item whose length runs past the body is cut at the end of the body,
//     and a numeric item drops an incomplete last value;
//   - indentation stops growing at secsii::kMaxNestingDepth tabs, so a deeply
//     nested body cannot make the text grow with the square of its size.
#include <cstdint>
#include <cstring>

#include "driver/log/streams_logger.h"
#include "driver/messages/item_format.h"
#include "driver/messages/quoted_text.h"
#include "driver/log/log_mask.h"
#include "driver/messages/secsii.h"
#include "driver/messages/value_text.h"

namespace tarvo {

namespace {

const char* type_word(unsigned type_code) {
    switch (type_code) {
    case item::kI8 >> 2: return "I8 ";
    case item::kI1 >> 2: return "I1 ";
    case item::kI2 >> 2: return "I2 ";
    case item::kI4 >> 2: return "I4 ";
    case item::kF8 >> 2: return "F8 ";
    case item::kF4 >> 2: return "F4 ";
    case item::kU8 >> 2: return "U8 ";
    case item::kU1 >> 2: return "U1 ";
    case item::kU2 >> 2: return "U2 ";
    case item::kU4 >> 2: return "U4 ";
    default: return "";
    }
}

// Where rendered text goes: into a string, or only counted.
struct TextSink {
    std::string& text;
    void add(char c) { text += c; }
    void add(const char* s) { text += s; }
    void add(size_t n, char c) { text.append(n, c); }
    void add(const char* s, size_t n) { text.append(s, n); }
    void quoted(const char* data, size_t size) { sml::quote_into(*this, data, size); }
    void binary(const char* data, size_t size) {
        static const char kHex[] = "0123456789ABCDEF";
        size_t at = text.size();
        text.resize(at + 5 * size);
        char* out = text.data();
        for (size_t i = 0; i < size; ++i, at += 5) {
            const auto c = static_cast<unsigned char>(data[i]);
            out[at] = ' ';
            out[at + 1] = '0';
            out[at + 2] = 'x';
            out[at + 3] = kHex[c >> 4];
            out[at + 4] = kHex[c & 15];
        }
    }
    void number(unsigned type_code, const unsigned char* p) { append_value_text(text, type_code, p); }
    size_t size() const { return text.size(); }
};

struct CountSink {
    size_t count = 0;
    std::string scratch;
    void add(char) { ++count; }
    void add(const char* s) { count += std::strlen(s); }
    void add(size_t n, char) { count += n; }
    void add(const char*, size_t n) { count += n; }
    void quoted(const char* data, size_t size) { sml::quote_into(*this, data, size); }
    void binary(const char*, size_t size) { count += 5 * size; }
    void number(unsigned type_code, const unsigned char* p) {
        scratch.clear();
        append_value_text(scratch, type_code, p);
        count += scratch.size();
    }
    size_t size() const { return count; }
};

template <class Sink>
void indent(Sink& out, size_t depth) {
    const size_t limit = secsii::kMaxNestingDepth;
    out.add(depth < limit ? depth : limit, '\t');
}

// Renders `body`; false for a malformed item header (the text is then to be
// dropped), or as soon as the text exceeds `max_length`.
template <class Sink>
bool render(const std::string& body, Sink& out, size_t max_length) {
    const size_t n = body.size();
    const auto* b = reinterpret_cast<const unsigned char*>(body.data());
    std::vector<uint32_t> lists;  // sub-items still to come, per open list
    size_t pos = 0;

    while (pos < n) {
        indent(out, lists.size());
        out.add('<');
        item::Header h;
        if (!item::read_header(b, n, pos, h)) return false;
        const unsigned type_code = h.type_code;
        const uint32_t length = h.length;
        pos += h.size;

        if (type_code == 0) {
            out.add("L \n");
            lists.push_back(length);
        } else {
            const size_t size = length <= n - pos ? length : n - pos;
            const char* data = reinterpret_cast<const char*>(b + pos);
            switch (type_code) {
            case item::kBinary >> 2:
                out.add("B ");
                out.binary(data, size);
                break;
            case item::kBoolean >> 2:
                out.add("Bool ");
                for (size_t i = 0; i < size; ++i) out.add(data[i] != 0 ? "1 " : "0 ");
                break;
            case item::kAscii >> 2:
                out.add("A ");
                out.quoted(data, size);
                break;
            case item::kJis >> 2:
                out.add("J ");
                out.quoted(data, size);
                break;
            default:
                if (const size_t value_size = item::numeric_size(type_code)) {
                    out.add(type_word(type_code));
                    for (size_t i = 0; i + value_size <= size; i += value_size) {
                        out.add(' ');
                        out.number(type_code, b + pos + i);
                    }
                }
                break;
            }
            pos += size;
            out.add(">\n");
            if (!lists.empty()) --lists.back();
        }
        // Close every list that has no sub-items left; closing one counts it
        // off its parent.
        while (!lists.empty() && lists.back() == 0) {
            lists.pop_back();
            indent(out, lists.size());
            out.add(">\n");
            if (!lists.empty()) --lists.back();
        }
        if (out.size() > max_length) return false;
        if (lists.empty()) break;  // the root item is complete
    }
    return true;
}

// The most text one body byte can render to: an empty list (2 bytes) with
// both its lines at the deepest indentation.
constexpr size_t kMostTextPerByte = secsii::kMaxNestingDepth + 6;

}  // namespace

std::string secsii::render_sml(const std::string& body) {
    std::string text;
    text.reserve(body.size() * 5 + 16);
    TextSink sink{text};
    if (!render(body, sink, SIZE_MAX)) return std::string();
    return text;
}

size_t secsii::sml_length(const std::string& body) {
    CountSink sink;
    return render(body, sink, SIZE_MAX) ? sink.count : 0;
}

bool secsii::sml_text(const MessageRecord& record, size_t max_length, std::string& text) {
    text = message_name(record);
    text += '\n';
    const std::string& body = record.body;
    if (body.size() > (max_length - text.size()) / kMostTextPerByte) {
        // It might not fit: measure first, and allocate only what is needed.
        const size_t length = sml_length(body);
        if (length > max_length - text.size()) return false;
        text.reserve(text.size() + length);
    } else {
        text.reserve(text.size() + body.size() * 5 + 16);
    }
    const size_t head = text.size();
    TextSink sink{text};
    if (!render(body, sink, max_length)) {
        if (text.size() > max_length) return false;
        text.resize(head);  // a malformed body shows as its name alone
    }
    return true;
}

void secsii::log_sml(const std::string& text) const {
    if (log_enabled(lmFullMsgReceived)) process_log_text(true, "Received message in SML format:\n" + text);
}

std::string secsii::NextMessageSML() {
    std::string taken;
    NextMessageSML(SIZE_MAX, [&](const std::string& text) {
        taken = text;
        return true;
    });
    return taken;
}

std::string secsii::NextMessageByte() {
    MessageRecord record;
    uint64_t take_number = 0;
    ElementArray discarded;
    if (!take(record, take_number, discarded)) return "no more messages";
    return std::move(record.body);
}

}  // namespace tarvo
