#include "platform/net/config_text.h"

#include <cstdlib>
#include <fstream>

namespace tarvo::net {

std::string read_config_file(const std::string& path) {
    std::string text;
    if (path.empty()) return text;
    std::ifstream in(path);
    // Bounded: these files are a few lines, never megabytes.
    constexpr size_t kMaxFile = size_t{1} << 20;
    char buffer[4096];
    while (in && text.size() < kMaxFile) {
        in.read(buffer, sizeof buffer);
        text.append(buffer, static_cast<size_t>(in.gcount()));
    }
    return text;
}

bool whole_number(const std::string& text, long low, long high, long& value) {
    if (text.empty() || text.size() > 10) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    value = std::strtol(text.c_str(), nullptr, 10);
    return value >= low && value <= high;
}

}  // namespace tarvo::net
