#include "driver/messages/element_array.h"

#include <charconv>
#include <utility>

#include "driver/messages/item_format.h"
#include "driver/messages/value_text.h"

namespace tarvo {

namespace {

constexpr uint32_t kNone = UINT32_MAX;

struct OpenList {
    uint32_t remaining;  // sub-items still to decode
    uint32_t decoded;    // sub-items taken so far
    uint32_t index;      // the list's own element
    int depth;
};

void append_number(std::string& out, uint64_t n) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, n);
    out.append(buf, r.ptr);
}

// Walks past `count` items without listing them (lists add their sub-items
// to the count). False when an item header does not fit in the body: the
// position then stays at that header.
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

// `Out` takes the elements: size() and add(slot). A counting Out lets decode
// allocate the array once.
template <class Out>
int ElementArray::walk(const std::string& body, size_t& pos, int depth, bool& too_deep, Out& out) const {
    too_deep = false;
    const size_t n = body.size();
    if (n == 0) return 0;
    const auto* b = reinterpret_cast<const unsigned char*>(body.data());
    std::vector<OpenList> lists;

    // One item at `pos`; a list only gets its own element and is pushed.
    // -1 when its header does not fit in the body.
    auto one = [&](Kind kind, uint32_t parent, uint32_t number, int item_depth) -> int {
        if (pos >= n || n - pos < 2) return -1;
        const unsigned format = b[pos];
        const unsigned code = format >> 2;
        const size_t length_bytes = format & 3;
        if (pos + length_bytes >= n) return -1;
        if (length_bytes == 0) {
            if (code == 0) out.add(Slot{static_cast<uint32_t>(pos + 1), parent, number, 0, etSecsL, 0, kind});
            pos += 1;
            return 0;
        }
        const uint32_t length = static_cast<uint32_t>(item::read_be(b + pos + 1, length_bytes));
        pos += 1 + length_bytes;
        const auto type = static_cast<uint8_t>(item::elem_type(code));
        const auto data = static_cast<uint32_t>(pos);
        if (type == etSecsL) {
            const auto index = static_cast<uint32_t>(out.size());
            out.add(Slot{data, parent, number, static_cast<int32_t>(length), type, static_cast<uint8_t>(code), kind});
            if (length > 0) lists.push_back(OpenList{length, 0, index, item_depth});
            return 0;
        }
        const size_t size = length <= n - pos ? length : n - pos;  // cut at the end of the body
        const auto c = static_cast<uint8_t>(code);
        switch (type) {
        case etSecsB:
        case etSecsA:
        case etSecsJ:
            out.add(Slot{data, parent, number, static_cast<int32_t>(size), type, c, kind});
            break;
        case etSecsInv:
            break;
        default: {  // Boolean and numeric: the values first, then the item
            const size_t value_size = type == etSecsBool ? 1 : item::numeric_size(code);
            const size_t count = size / value_size;
            const auto whole = static_cast<uint32_t>(out.size() + count);
            for (size_t j = 0; j < count; ++j) {
                out.add(Slot{static_cast<uint32_t>(pos + j * value_size), whole, static_cast<uint32_t>(j), 1, type, c,
                             array_value});
            }
            out.add(Slot{data, parent, number, static_cast<int32_t>(count), type, c, kind});
            break;
        }
        }
        pos += size;
        return 0;
    };

    if (one(root_item, kNone, 0, depth) < 0) return -1;
    while (!lists.empty()) {
        OpenList& list = lists.back();
        if (list.remaining == 0) {
            lists.pop_back();
            continue;
        }
        if (list.depth >= kMaxNestingDepth) {
            // Its content would make pointers longer than the limit: walk
            // over it unlisted and go on with the enclosing lists.
            too_deep = true;
            const uint64_t remaining = list.remaining;
            lists.pop_back();
            if (!skip_items(b, n, pos, remaining)) break;
            continue;
        }
        --list.remaining;
        const uint32_t number = ++list.decoded;
        // A sub-item whose header does not fit leaves the position where it
        // is, so every later sub-item would fail the same way: stop here.
        if (one(list_item, list.index, number, list.depth + 1) < 0) break;
    }
    return 0;
}

namespace {

struct Counter {
    size_t count = 0;
    size_t size() const { return count; }
    template <class S>
    void add(const S&) { ++count; }
};

template <class S>
struct Filler {
    std::vector<S>& slots;
    size_t size() const { return slots.size(); }
    void add(const S& s) { slots.push_back(s); }
};

}  // namespace

int ElementArray::decode(std::string body, size_t& pos, const std::string& root, int depth, bool& too_deep) {
    clear();
    body_ = std::move(body);
    // Offsets are 32-bit; no line takes a body anywhere near that long.
    if (body_.size() > UINT32_MAX) body_.resize(UINT32_MAX);
    root_ = root;
    depth_ = depth;
    size_t counting_pos = pos;
    Counter counter;
    walk(body_, counting_pos, depth, too_deep, counter);
    slots_.reserve(counter.count);
    Filler<Slot> filler{slots_};
    return walk(body_, pos, depth, too_deep, filler);
}

void ElementArray::clear() {
    body_ = std::string();
    slots_ = std::vector<Slot>();
}

void ElementArray::append_pointer(std::string& out, size_t i) const {
    const Slot& s = slots_[i];
    switch (s.kind) {
    case root_item:
        out += root_;
        return;
    case list_item:
        // The items of a root list at depth 0 are "1", "2", ...; deeper ones
        // carry their list's pointer and a slash.
        if (!(slots_[s.parent].kind == root_item && depth_ == 0)) {
            append_pointer(out, s.parent);
            out += '/';
        }
        append_number(out, s.number);
        return;
    case array_value:
        append_pointer(out, s.parent);
        out += '[';
        append_number(out, s.number);
        out += ']';
        return;
    }
}

std::string ElementArray::pointer(size_t i) const {
    std::string out;
    append_pointer(out, i);
    return out;
}

std::string ElementArray::value(size_t i) const {
    const Slot& s = slots_[i];
    const auto* data = reinterpret_cast<const unsigned char*>(body_.data()) + s.offset;
    switch (s.type) {
    case etSecsL:
        return std::string();
    case etSecsB:
    case etSecsA:
    case etSecsJ:
        return std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(s.quantity));
    default:
        break;
    }
    const size_t count = s.kind == array_value ? 1 : static_cast<size_t>(s.quantity);
    const size_t value_size = s.type == etSecsBool ? 1 : item::numeric_size(s.code);
    std::string text;
    text.reserve(count * (s.type == etSecsBool ? 2 : value_size * 3 + 1));
    for (size_t j = 0; j < count; ++j) {
        if (j > 0) text.push_back(' ');
        if (s.type == etSecsBool)
            text.push_back(data[j] != 0 ? '1' : '0');
        else
            append_value_text(text, s.code, data + j * value_size);
    }
    return text;
}

size_t ElementArray::find(const std::string& pointer) const {
    // Only elements whose own number ends the text can match; the rest are
    // passed over without making their pointer texts.
    uint64_t last = 0;
    bool numbered = false;
    size_t end = pointer.size();
    if (end > 0 && pointer[end - 1] == ']') --end;
    size_t start = end;
    while (start > 0 && pointer[start - 1] >= '0' && pointer[start - 1] <= '9') --start;
    if (start < end && end - start <= 9) {
        numbered = true;
        std::from_chars(pointer.data() + start, pointer.data() + end, last);
    }
    std::string text;
    for (size_t i = 0; i < slots_.size(); ++i) {
        const Slot& s = slots_[i];
        if (s.kind != root_item && (!numbered || s.number != last)) continue;
        text.clear();
        append_pointer(text, i);
        if (text == pointer) return i;
    }
    return npos;
}

}  // namespace tarvo
