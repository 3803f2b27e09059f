// How records show the header bytes of a message or block: "0x%02x " for
// each byte, so the text ends with a blank.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvo {

std::string header_text(const uint8_t* bytes, size_t count);

}  // namespace tarvo
