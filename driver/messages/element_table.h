// The element table of a decoded message, as the log shows it: a heading line,
// then one line per element with its type, quantity, pointer and value (a
// Binary value is shown as "_").
#pragma once

#include <string>

#include "driver/messages/element_array.h"

namespace tarvo {

std::string element_table(const ElementArray& elements);

}  // namespace tarvo
