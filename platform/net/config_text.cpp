#include "platform/net/config_text.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

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

std::vector<ConfigLine> config_lines(const std::string& text) {
    std::vector<ConfigLine> lines;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const size_t hash = line.find('#');
        if (hash != std::string::npos) line.resize(hash);
        std::istringstream words(line);
        ConfigLine l{number, {}};
        for (std::string w; words >> w;) l.words.push_back(w);
        if (!l.words.empty()) lines.push_back(std::move(l));
    }
    return lines;
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
