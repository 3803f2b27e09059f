#include "platform/net/allow_list.h"

#include "platform/net/config_text.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdlib>
#include <cstring>

namespace tarvo::net {

namespace {

bool prefix_matches(const uint8_t* a, const uint8_t* b, int bits) {
    const int whole = bits / 8;
    if (std::memcmp(a, b, static_cast<size_t>(whole)) != 0) return false;
    const int rest = bits % 8;
    if (rest == 0) return true;
    const uint8_t mask = static_cast<uint8_t>(0xFF << (8 - rest));
    return (a[whole] & mask) == (b[whole] & mask);
}

}  // namespace

std::string AllowList::file_path() {
    if (const char* file = std::getenv("TARVO_ALLOW"); file && *file) return file;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        return std::string(config) + "/tarvo/allow";
    if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.config/tarvo/allow";
    return std::string();
}

AllowList AllowList::parse(const std::string& text, const std::string& file, int port,
                           std::vector<std::string>& problems) {
    AllowList list;
    for (const ConfigLine& line : config_lines(text)) {
        const std::string& first = line.words[0];
        const std::string at = file + ":" + std::to_string(line.number) + ": ";
        long value = 0;
        bool ours;
        if (first == "*") {
            ours = true;
        } else if (whole_number(first, 1, 65535, value)) {
            ours = value == port;
        } else {
            // Counts for every port, and allows nobody.
            problems.push_back(at + "'" + first + "' is no TCP port or '*': the line allows nobody");
            list.restricted_ = true;
            continue;
        }
        std::vector<Network> networks;
        std::string problem;
        for (size_t w = 1; w < line.words.size() && problem.empty(); ++w) {
            const std::string& word = line.words[w];
            Network n;
            std::string address = word;
            long prefix = -1;
            if (const size_t slash = word.find('/'); slash != std::string::npos) {
                address = word.substr(0, slash);
                if (!whole_number(word.substr(slash + 1), 0, 128, prefix)) {
                    problem = "'" + word + "' has no prefix length";
                    break;
                }
            }
            if (::inet_pton(AF_INET, address.c_str(), n.bytes) == 1) {
                n.v4 = true;
                if (prefix > 32) problem = "'" + word + "': an IPv4 prefix is at most 32";
                n.prefix = prefix < 0 ? 32 : static_cast<int>(prefix);
            } else if (::inet_pton(AF_INET6, address.c_str(), n.bytes) == 1) {
                n.prefix = prefix < 0 ? 128 : static_cast<int>(prefix);
            } else {
                problem = "'" + address + "' is no numeric address";
            }
            networks.push_back(n);
        }
        if (networks.empty() && problem.empty()) problem = "no address after the port";
        if (!problem.empty()) {
            problems.push_back(at + problem + ": the line allows nobody");
            networks.clear();
        }
        if (!ours) continue;
        list.restricted_ = true;
        list.networks_.insert(list.networks_.end(), networks.begin(), networks.end());
    }
    return list;
}

AllowList AllowList::load(int port, std::vector<std::string>& problems) {
    const std::string file = file_path();
    const std::string text = read_config_file(file);
    if (text.empty()) return AllowList();
    return parse(text, file, port, problems);
}

bool AllowList::admits(const sockaddr* address, socklen_t length) const {
    if (!restricted_) return true;
    uint8_t v4[4];
    const uint8_t* v6 = nullptr;
    bool is_v4 = false;
    if (address->sa_family == AF_INET && length >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
        std::memcpy(v4, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, 4);
        is_v4 = true;
    } else if (address->sa_family == AF_INET6 && length >= static_cast<socklen_t>(sizeof(sockaddr_in6))) {
        v6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr.s6_addr;
        static const uint8_t mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
        if (std::memcmp(v6, mapped, 12) == 0) {
            std::memcpy(v4, v6 + 12, 4);
            is_v4 = true;
        }
    } else {
        return false;
    }
    for (const Network& n : networks_) {
        if (n.v4 != is_v4) continue;
        if (prefix_matches(is_v4 ? v4 : v6, n.bytes, n.prefix)) return true;
    }
    return false;
}

std::string address_text(const sockaddr* address, socklen_t length) {
    char text[INET6_ADDRSTRLEN] = "?";
    if (address->sa_family == AF_INET && length >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    } else if (address->sa_family == AF_INET6 && length >= static_cast<socklen_t>(sizeof(sockaddr_in6))) {
        const in6_addr& a = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&a)) {
            ::inet_ntop(AF_INET, a.s6_addr + 12, text, sizeof text);  // an IPv4 client of a dual-stack port
        } else {
            ::inet_ntop(AF_INET6, &a, text, sizeof text);
        }
    }
    return text;
}

}  // namespace tarvo::net
