// Texts of single numeric values, shared by the decoder and the renderer:
// integers in decimal, F4 as "%f" of the value widened to double, F8 as "%e".
// Independent of the process locale.
#pragma once

#include <cstddef>
#include <string>

namespace tarvo {

// Appends the text of the value of type code `type_code` (a numeric one) whose
// bytes, most significant first, start at `p`.
void append_value_text(std::string& out, unsigned type_code, const unsigned char* p);

}  // namespace tarvo
