// The element array of a decoded message, kept compact: each element is a few
// numbers that point into the message body (20 bytes an element, whatever the
// body holds), and its pointer text ("0", "2", "1/3", "2[0]") and value text
// are made when they are asked for. The body is kept with the array.
//
// Elements come in the order the body holds them, depth first; the values of
// a Boolean or numeric item come first ("p[0]", "p[1]", ...), the item itself
// ("p", the values joined by blanks) after them.
//
// Decoding: lists are walked with an explicit stack, so a deeply nested body
// cannot exhaust the thread's stack. An item whose length runs past the end of
// the body is cut at the end of the body (its quantity counts what is there);
// a numeric item whose length is not a multiple of its value size drops the
// incomplete last value. The content of a list nested deeper than
// kMaxNestingDepth is walked over without being listed, and decoding goes on
// after it. Counting comes first, so the array is allocated once, exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvo {

class ElementArray {
public:
    static constexpr int kMaxNestingDepth = 64;
    static constexpr size_t npos = static_cast<size_t>(-1);

    // Decodes the item at `pos` of `body` (kept by the array) with the root
    // pointer text `root` at nesting depth `depth`; `pos` ends after what
    // was decoded. -1 when the first item's header does not fit. `too_deep`
    // tells whether some list was nested too deeply to be listed.
    int decode(std::string body, size_t& pos, const std::string& root, int depth, bool& too_deep);

    size_t size() const { return slots_.size(); }
    bool empty() const { return slots_.empty(); }
    void clear();

    int32_t type(size_t i) const { return slots_[i].type; }
    int32_t quantity(size_t i) const { return slots_[i].quantity; }
    std::string pointer(size_t i) const;
    // Raw bytes for B, A and J; "1"/"0" or decimal texts for Boolean and
    // numeric values, joined by blanks for a whole item; "" for a list.
    std::string value(size_t i) const;
    // The first element whose pointer text is `pointer`, or npos.
    size_t find(const std::string& pointer) const;

    // Bytes the array itself holds (without the body), for tests of its cost.
    size_t slot_bytes() const { return slots_.capacity() * sizeof(Slot); }

private:
    enum Kind : uint8_t { root_item, list_item, array_value };
    struct Slot {
        uint32_t offset;    // where the item's data (a value: its bytes) starts in the body
        uint32_t parent;    // the enclosing list, or the item a value belongs to
        uint32_t number;    // a list item's number (from 1), or a value's index (from 0)
        int32_t quantity;
        uint8_t type;       // enum_SECS_ELEM_TYPE
        uint8_t code;       // item type code (format byte >> 2)
        Kind kind;
    };
    static_assert(sizeof(Slot) <= 24, "an element costs at most 24 bytes");

    template <class Out>
    int walk(const std::string& body, size_t& pos, int depth, bool& too_deep, Out& out) const;
    void append_pointer(std::string& out, size_t i) const;

    std::string body_;
    std::string root_;
    int depth_ = 0;
    std::vector<Slot> slots_;
};

}  // namespace tarvo
