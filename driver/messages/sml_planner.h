// The SML planner: reads a message name and one item from SML text and
// encodes the item into SECS-II bytes, in one pass over the text.
//
// The dialect is forgiving: anything the grammar does not look for is
// skipped, a missing ">" ends at the end of the text, a stray character in a
// value list is passed over. A text is refused (nothing is planned) when it
// holds something that cannot be encoded faithfully:
//   - an item type letter that is not L, A, J, B, Bool, T, I, U or F;
//   - an I or U size other than 1, 2, 4, 8, an F size other than 4, 8;
//   - an item of 16 777 216 or more bytes (list: items);
//   - a value token, or a stream or function number, of 256+ characters;
//   - a stream number above 127 or a function number above 255, which do not
//     fit the message header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvo::sml {

struct PlannedMessage {
    int32_t stream = 0;
    int32_t function = 0;
    uint8_t w_bit = 0;
    std::string body;
};

class Planner {
public:
    Planner(const char* text, size_t size) : s_(text), n_(size) {}

    // Plans a whole message. False when the text is refused; error() says why.
    bool plan(PlannedMessage& out);

    // Encodes the item whose "<" is just before `pos` and appends its bytes
    // to `out`; `pos` ends just after the item's ">" (or at the end of the
    // text). An empty item "<>" appends nothing. False when refused.
    bool encode(size_t& pos, std::string& out);

    const std::string& error() const { return error_; }

private:
    struct Header {
        size_t offset;     // where the item's data starts in data_
        uint32_t length;
        uint8_t format;
    };
    struct OpenList {
        size_t header;     // index into headers_
        uint32_t count;
    };
    enum class Step { kRefused, kNothing, kScalar, kListOpened };

    Step item_start(size_t& pos);
    Step string_item(size_t& pos, uint8_t format);
    bool hex_byte_at(size_t pos) const;
    Step value_item(size_t& pos, uint8_t format, char kind, size_t size);
    bool number_digits(size_t& pos, int32_t& value, const char* what);
    bool refuse(std::string reason);
    void assemble(std::string& out) const;

    const char* s_;
    size_t n_;
    std::string data_;              // item data without headers
    std::vector<Header> headers_;   // in the order they precede the data
    std::vector<OpenList> lists_;
    std::string error_;
};

}  // namespace tarvo::sml
