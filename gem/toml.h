// toml++ as this room uses it: header-only, without exceptions (a parse
// reports its error in its result).
#pragma once

#define TOML_HEADER_ONLY 1
#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>
