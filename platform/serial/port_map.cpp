#include "platform/serial/port_map.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tarvo::serial {

std::string ports_file_path() {
    if (const char* file = std::getenv("TARVO_PORTS"); file && *file) return file;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        return std::string(config) + "/tarvo/ports";
    if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.config/tarvo/ports";
    return std::string();
}

std::string device_for_port(int port) {
    const std::string file = ports_file_path();
    if (!file.empty()) {
        std::ifstream in(file);
        std::string line;
        while (std::getline(in, line)) {
            const size_t hash = line.find('#');
            if (hash != std::string::npos) line.resize(hash);
            std::istringstream words(line);
            long number = 0;
            std::string path;
            if (!(words >> number >> path)) continue;
            if (number == port) return path;
        }
    }
    if (port < 1) return std::string();
    return "/dev/ttyS" + std::to_string(port - 1);
}

}  // namespace tarvo::serial
