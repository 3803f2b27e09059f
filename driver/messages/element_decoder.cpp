// Decoding a SECS-II body into the parsed element array.
//
// Lists are walked with an explicit stack, so a deeply nested body cannot
// exhaust the thread's stack. An item whose length runs past the end of the
// body is cut at the end of the body (its quantity counts what is there); a
// numeric item whose length is not a multiple of its value size drops the
// incomplete last value. The content of a list nested deeper than
// secsii::kMaxNestingDepth is walked over without being listed, and decoding
// goes on after it.
#include "driver/messages/element_decoder.h"

#include <charconv>


#include "driver/messages/item_format.h"
#include "driver/messages/secsii.h"
#include "driver/messages/value_text.h"

namespace tarvo {

namespace {

struct OpenList {
    uint32_t remaining;   // sub-items still to decode
    uint32_t decoded;     // sub-items taken so far
    std::string pointer;
    int depth;
};

void append_number(std::string& out, uint64_t n) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, n);
    out.append(buf, r.ptr);
}

// Pointer of the value number j of an array whose pointer is `base` + "[".
std::string value_pointer(const std::string& base, size_t j) {
    std::string p;
    p.reserve(base.size() + 12);
    p = base;
    append_number(p, j);
    p.push_back(']');
    return p;
}

// Decodes the one item at `pos` (a list only gets its own element and is
// pushed onto `lists`). -1 when its header does not fit in the body.
int decode_one(const unsigned char* b, size_t n, size_t& pos, const std::string& pointer, int depth,
               std::vector<ParsedElement>& out, std::vector<OpenList>& lists) {
    if (pos >= n || n - pos < 2) return -1;
    const unsigned format = b[pos];
    const unsigned type_code = format >> 2;
    const size_t length_bytes = format & 3;
    if (pos + length_bytes >= n) return -1;
    if (length_bytes == 0) {
        if (type_code == 0) out.push_back(ParsedElement{etSecsL, 0, pointer, std::string()});
        pos += 1;
        return 0;
    }
    const uint32_t length = static_cast<uint32_t>(item::read_be(b + pos + 1, length_bytes));
    pos += 1 + length_bytes;
    const int32_t type = item::elem_type(type_code);

    if (type == etSecsL) {
        out.push_back(ParsedElement{etSecsL, static_cast<int32_t>(length), pointer, std::string()});
        if (length > 0) lists.push_back(OpenList{length, 0, pointer, depth});
        return 0;
    }

    const size_t size = length <= n - pos ? length : n - pos;  // cut at the end of the body
    const char* data = reinterpret_cast<const char*>(b + pos);
    switch (type) {
    case etSecsB:
    case etSecsA:
    case etSecsJ:
        out.push_back(ParsedElement{type, static_cast<int32_t>(size), pointer, std::string(data, size)});
        break;
    case etSecsBool: {
        const std::string base = pointer + "[";
        std::string whole;
        whole.reserve(size * 2);
        for (size_t j = 0; j < size; ++j) {
            const char* v = b[pos + j] != 0 ? "1" : "0";
            out.push_back(ParsedElement{etSecsBool, 1, value_pointer(base, j), std::string(v, 1)});
            if (j > 0) whole.push_back(' ');
            whole.push_back(*v);
        }
        out.push_back(ParsedElement{etSecsBool, static_cast<int32_t>(size), pointer, std::move(whole)});
        break;
    }
    case etSecsInv:
        break;
    default: {  // numeric
        const size_t value_size = item::numeric_size(type_code);
        const size_t count = size / value_size;
        const std::string base = pointer + "[";
        std::string whole;
        whole.reserve(count * (value_size * 3 + 1));
        std::string text;
        for (size_t j = 0; j < count; ++j) {
            text.clear();
            append_value_text(text, type_code, b + pos + j * value_size);
            if (j > 0) whole.push_back(' ');
            whole.append(text);
            out.push_back(ParsedElement{type, 1, value_pointer(base, j), text});
        }
        out.push_back(ParsedElement{type, static_cast<int32_t>(count), pointer, std::move(whole)});
        break;
    }
    }
    pos += size;
    return 0;
}

// Walks past `count` items without listing them (lists add their sub-items
// to the count). False when an item header does not fit in the body: like a
// failing decode_one, the position then stays at that header.
bool skip_items(const unsigned char* b, size_t n, size_t& pos, uint64_t count) {
    while (count > 0) {
        if (pos >= n || n - pos < 2) return false;
        const unsigned format = b[pos];
        const size_t length_bytes = format & 3;
        if (pos + length_bytes >= n) return false;
        --count;
        if (length_bytes == 0) {
            pos += 1;
            continue;
        }
        const uint32_t length = static_cast<uint32_t>(item::read_be(b + pos + 1, length_bytes));
        pos += 1 + length_bytes;
        if ((format >> 2) == 0)
            count += length;
        else
            pos += length <= n - pos ? length : n - pos;
    }
    return true;
}

}  // namespace

int secsii::decode_item(const std::string& body, size_t& pos, const std::string& pointer, int depth,
                        std::vector<ParsedElement>& out) {
    bool too_deep = false;
    return decode_elements(body, pos, pointer, depth, out, too_deep);
}

int decode_elements(const std::string& body, size_t& pos, const std::string& pointer, int depth,
                    std::vector<ParsedElement>& out, bool& too_deep) {
    too_deep = false;
    const size_t n = body.size();
    if (n == 0) return 0;
    const auto* b = reinterpret_cast<const unsigned char*>(body.data());
    std::vector<OpenList> lists;

    if (decode_one(b, n, pos, pointer, depth, out, lists) < 0) return -1;
    std::string sub_pointer;
    while (!lists.empty()) {
        OpenList& list = lists.back();
        if (list.remaining == 0) {
            lists.pop_back();
            continue;
        }
        if (list.depth >= secsii::kMaxNestingDepth) {
            // Its content would make pointers longer than the limit: walk
            // over it unlisted and go on with the enclosing lists.
            too_deep = true;
            const uint64_t remaining = list.remaining;
            lists.pop_back();
            if (!skip_items(b, n, pos, remaining)) break;
            continue;
        }
        --list.remaining;
        const uint32_t i = ++list.decoded;
        if (list.depth == 0) {
            sub_pointer.clear();
        } else {
            sub_pointer = list.pointer;
            sub_pointer.push_back('/');
        }
        append_number(sub_pointer, i);
        // A sub-item whose header does not fit leaves the position where it
        // is, so every later sub-item would fail the same way: stop here.
        if (decode_one(b, n, pos, sub_pointer, list.depth + 1, out, lists) < 0) break;
    }
    return 0;
}

}  // namespace tarvo
