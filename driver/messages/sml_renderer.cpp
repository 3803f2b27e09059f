// Rendering received messages as SML text (the display dialect) or raw bytes.
//
// Choices where the wire leaves room:
//   - a JIS item is shown like an ASCII one, "<J '...'>", so it reads back;
//   - bytes after the root item are not shown (they are not decoded either);
//   - an item whose length runs past the body is cut at the end of the body,
//     and a numeric item drops an incomplete last value;
//   - indentation stops growing at secsii::kMaxNestingDepth tabs, so a deeply
//     nested body cannot make the text grow with the square of its size.
#include "driver/component/streams_logger.h"
#include "driver/messages/item_format.h"
#include "driver/messages/log_mask.h"
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

void indent(std::string& text, size_t depth) {
    const size_t limit = secsii::kMaxNestingDepth;
    text.append(depth < limit ? depth : limit, '\t');
}

void append_quoted(std::string& out, const char* data, size_t size) {
    out += '\'';
    for (size_t i = 0; i < size; ++i)
        if (data[i] != '\0') out += data[i];  // a zero byte adds nothing
    out += '\'';
}

}  // namespace

std::string secsii::render_sml(const std::string& body) {
    static const char kHex[] = "0123456789ABCDEF";
    const size_t n = body.size();
    const auto* b = reinterpret_cast<const unsigned char*>(body.data());
    std::string text;
    text.reserve(n * 5 + 16);
    std::vector<uint32_t> lists;  // sub-items still to come, per open list
    size_t pos = 0;

    while (pos < n) {
        indent(text, lists.size());
        text += '<';
        const unsigned type_code = b[pos] >> 2;
        const size_t length_bytes = b[pos] & 3;
        if (length_bytes == 0 || n - pos - 1 < length_bytes) return std::string();
        const uint32_t length = static_cast<uint32_t>(item::read_be(b + pos + 1, length_bytes));
        pos += 1 + length_bytes;

        if (type_code == 0) {
            text += "L \n";
            lists.push_back(length);
        } else {
            const size_t size = length <= n - pos ? length : n - pos;
            const char* data = reinterpret_cast<const char*>(b + pos);
            switch (type_code) {
            case item::kBinary >> 2:
            {
                text += "B ";
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
                break;
            }
            case item::kBoolean >> 2:
                text += "Bool ";
                for (size_t i = 0; i < size; ++i) text += data[i] != 0 ? "1 " : "0 ";
                break;
            case item::kAscii >> 2:
                text += "A ";
                append_quoted(text, data, size);
                break;
            case item::kJis >> 2:
                text += "J ";
                append_quoted(text, data, size);
                break;
            default:
                if (const size_t value_size = item::numeric_size(type_code)) {
                    text += type_word(type_code);
                    for (size_t i = 0; i + value_size <= size; i += value_size) {
                        text += ' ';
                        append_value_text(text, type_code, b + pos + i);
                    }
                }
                break;
            }
            pos += size;
            text += ">\n";
            if (!lists.empty()) --lists.back();
        }
        // Close every list that has no sub-items left; closing one counts it
        // off its parent.
        while (!lists.empty() && lists.back() == 0) {
            lists.pop_back();
            indent(text, lists.size());
            text += ">\n";
            if (!lists.empty()) --lists.back();
        }
        if (lists.empty()) break;  // the root item is complete
    }
    return text;
}

std::string secsii::NextMessageSML() {
    MessageRecord record;
    uint64_t take_number = 0;
    std::vector<ParsedElement> discarded;
    std::string text;
    if (take(record, take_number, discarded)) {
        text = message_name(record);
        text += '\n';
        text += render_sml(record.body);
    } else {
        text = "no more messages";
    }
    if (log_enabled(lmFullMsgReceived)) process_log_text(true, "Received message in SML format:\n" + text);
    return text;
}

std::string secsii::NextMessageByte() {
    MessageRecord record;
    uint64_t take_number = 0;
    std::vector<ParsedElement> discarded;
    if (!take(record, take_number, discarded)) return "no more messages";
    return std::move(record.body);
}

}  // namespace tarvo
