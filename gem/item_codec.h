// SECS-II bytes to items and back. Decoding reads the headers with the
// driver's item format; encoding writes the item's SML and lets the driver's
// planner encode it, so the bytes are those SendMessage would send.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "gem/item.h"

namespace tarvo::gem {

struct DecodedBody {
    bool ok = false;            // false: not SECS-II as E5 defines it
    std::optional<Item> item;   // none for an empty body
    std::string error;          // why not ok
};

// Lists nested deeper than this are refused.
inline constexpr int kMaxItemDepth = 64;

// Decodes a whole body: one item and nothing after it (or nothing at all).
// Refused: an unknown format code, a header without length bytes, an item
// running past the body, a numeric length that is not a whole number of
// values, lists nested deeper than kMaxItemDepth, bytes after the item.
DecodedBody decode_body(std::string_view body);

// The bytes of an item; empty when the planner refuses it (an item of 16 MiB
// or more).
std::string encode_item(const Item& item);

}  // namespace tarvo::gem
