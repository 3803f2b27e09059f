// What the readers of our small configuration files (the ports file, the
// allow file) share: a bounded read of the file and strict whole numbers.
#pragma once

#include <string>
#include <vector>

namespace tarvo::net {

// The text of `path`, at most 1 MiB of it; "" when it cannot be read.
std::string read_config_file(const std::string& path);

// One line that says something: its number (from 1) and its words, with
// '#' and what follows it dropped. Blank and comment lines are left out.
struct ConfigLine {
    int number = 0;
    std::vector<std::string> words;  // never empty
};
std::vector<ConfigLine> config_lines(const std::string& text);

// A whole decimal number from `low` to `high` (no sign, no blanks, at most
// 10 digits); false for anything else.
bool whole_number(const std::string& text, long low, long high, long& value);

}  // namespace tarvo::net
