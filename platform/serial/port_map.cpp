#include "platform/serial/port_map.h"

#include "platform/net/config_text.h"

#include <arpa/inet.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace tarvo::serial {

namespace {

std::string where(const std::string& file, int line) { return file + ":" + std::to_string(line) + ": "; }

using net::whole_number;

bool numeric_address(const std::string& text) {
    unsigned char buffer[16];
    return ::inet_pton(AF_INET, text.c_str(), buffer) == 1 || ::inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

// "HOST:PORT" with HOST bracketed when it is an IPv6 address; false with
// `why` when it is not that.
bool split_host_port(const std::string& text, std::string& host, int& port, std::string& why) {
    std::string port_text;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            why = "an IPv6 address is written [ADDRESS]:PORT";
            return false;
        }
        host = text.substr(1, close - 1);
        unsigned char buffer[16];
        if (::inet_pton(AF_INET6, host.c_str(), buffer) != 1) {
            why = "'" + host + "' is no IPv6 address";
            return false;
        }
        port_text = text.substr(close + 2);
    } else {
        const size_t colon = text.rfind(':');
        if (colon == std::string::npos) {
            why = "no ':PORT'";
            return false;
        }
        host = text.substr(0, colon);
        port_text = text.substr(colon + 1);
        if (host.empty()) {
            why = "no host before ':PORT'";
            return false;
        }
        if (host.find(':') != std::string::npos) {
            why = "an IPv6 address must be bracketed";
            return false;
        }
    }
    long value = 0;
    if (!whole_number(port_text, 1, 65535, value)) {
        why = "'" + port_text + "' is no TCP port (1 to 65535)";
        return false;
    }
    port = static_cast<int>(value);
    return true;
}

// The meaning of one entry's text after the number.
PortEndpoint entry(const std::vector<std::string>& words) {
    PortEndpoint e;
    if (words.empty()) {
        e.error = "no device or endpoint after the port number";
        return e;
    }
    const std::string& target = words[0];
    const bool connect = target.rfind("tcp:", 0) == 0;
    const bool listen = target.rfind("tcp-listen:", 0) == 0;
    if (!connect && !listen) {
        e.kind = PortEndpoint::Kind::tty;  // further words are ignored, as they always were
        e.path = target;
        return e;
    }
    if (words.size() > 1) {
        e.error = "unexpected '" + words[1] + "' after the endpoint";
        return e;
    }
    std::string why;
    if (connect) {
        if (!split_host_port(target.substr(4), e.host, e.tcp_port, why)) {
            e.error = "tcp:HOST:PORT: " + why;
            return e;
        }
        e.kind = PortEndpoint::Kind::tcp_connect;
        return e;
    }
    const std::string rest = target.substr(11);
    long value = 0;
    if (whole_number(rest, 1, 65535, value)) {
        e.tcp_port = static_cast<int>(value);
    } else if (!split_host_port(rest, e.host, e.tcp_port, why)) {
        e.error = "tcp-listen:[ADDRESS:]PORT: " + why;
        return e;
    } else if (!numeric_address(e.host)) {
        e.error = "tcp-listen: '" + e.host + "' is no numeric address";
        return e;
    }
    e.kind = PortEndpoint::Kind::tcp_listen;
    return e;
}

}  // namespace

std::string ports_file_path() {
    if (const char* file = std::getenv("TARVO_PORTS"); file && *file) return file;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        return std::string(config) + "/tarvo/ports";
    if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.config/tarvo/ports";
    return std::string();
}

PortEndpoint parse_port_entry(const std::string& text, const std::string& file, int port) {
    std::vector<std::string> notes;
    for (const net::ConfigLine& line : net::config_lines(text)) {
        const std::string& first = line.words[0];
        const int number = line.number;
        long value = 0;
        if (!whole_number(first, 0, INT_MAX, value)) {
            notes.push_back(where(file, number) + "'" + first + "' is no port number: line skipped");
            continue;
        }
        if (value != port) continue;
        const std::vector<std::string> rest(line.words.begin() + 1, line.words.end());
        PortEndpoint e = entry(rest);
        if (e.kind == PortEndpoint::Kind::invalid) e.error = where(file, number) + e.error;
        e.notes = std::move(notes);
        return e;
    }
    PortEndpoint e;
    e.notes = std::move(notes);
    if (port < 1) {
        e.error = "port " + std::to_string(port) + " has no device (the ports file does not name it)";
        return e;
    }
    e.kind = PortEndpoint::Kind::tty;
    e.path = "/dev/ttyS" + std::to_string(port - 1);
    return e;
}

PortEndpoint endpoint_for_port(int port) {
    const std::string file = ports_file_path();
    const std::string text = net::read_config_file(file);
    return parse_port_entry(text, file, port);
}

std::string device_for_port(int port) {
    const PortEndpoint e = endpoint_for_port(port);
    return e.kind == PortEndpoint::Kind::tty ? e.path : std::string();
}

}  // namespace tarvo::serial
