// Decoding a SECS-II body into parsed elements (see secsii::decode_item).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "driver/messages/secsii.h"

namespace tarvo {

// As secsii::decode_item; `too_deep` tells whether decoding stopped at a list
// nested deeper than secsii::kMaxNestingDepth.
int decode_elements(const std::string& body, size_t& pos, const std::string& pointer, int depth,
                    std::vector<ParsedElement>& out, bool& too_deep);

}  // namespace tarvo
