// Items as one-line SML text, and back.
//
// The one-line form: single spaces, no length counts, e.g.
//   <L <U4 1001> <A 'Don' 0x27 't'> <B 0x01 0xFF> <Boolean T F> <F4 21.5>>
// A and J values are quoted pieces, with any byte that cannot stand between
// apostrophes (the apostrophe, control characters) as a "0xHH" token after
// them; an empty value is ''.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "gem/item.h"

namespace tarvo::gem {

enum class SmlStyle {
    display,   // the one-line form above
    planner,   // what the driver's SendMessage reads: Boolean as "<Bool 1 0>"
};

std::string write_sml(const Item& item, SmlStyle style = SmlStyle::display);

// Reads one item in the one-line form (Boolean values T, F, true, false, 1
// or 0; B values 0xHH or decimal; "Bool" for "Boolean"). Surrounding blanks
// are allowed, anything else after the item is not. Nullopt with a reason
// when the text is not one well-formed item whose values fit its format.
std::optional<Item> read_sml(std::string_view text, std::string* error);

}  // namespace tarvo::gem
