// Who may connect to a listening TCP port: the allow file, one rule a line,
//   PORT ADDRESS[/PREFIX] ...
// where PORT is a TCP port number or '*', and each ADDRESS is a numeric IPv4
// or IPv6 address with an optional prefix length ('#' starts a comment). A
// port admits the union of its own lines and every '*' line; a port with
// neither admits everyone, and so does a missing file. An IPv4-mapped IPv6
// client (::ffff:a.b.c.d) matches IPv4 rules.
//
// A malformed line allows nobody, but still counts: a typo never opens a port
// to everyone. A line whose PORT cannot be read counts as a '*' line.
//
// The file is $TARVO_ALLOW, else $XDG_CONFIG_HOME/tarvo/allow, else
// ~/.config/tarvo/allow; it is read when a line opens.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tarvo::net {

class AllowList {
public:
    // Everyone may connect.
    AllowList() = default;

    static std::string file_path();
    // The rules of TCP port `port` in `text`; each malformed line becomes
    // "FILE:LINE: what" in `problems`.
    static AllowList parse(const std::string& text, const std::string& file, int port,
                           std::vector<std::string>& problems);
    // The same from the allow file.
    static AllowList load(int port, std::vector<std::string>& problems);

    bool restricted() const { return restricted_; }
    bool admits(const sockaddr* address, socklen_t length) const;

private:
    struct Network {
        uint8_t bytes[16] = {};
        int prefix = 0;     // bits that must match
        bool v4 = false;    // bytes[0..3] hold an IPv4 address
    };
    bool restricted_ = false;
    std::vector<Network> networks_;
};

// A client address as text: "127.0.0.1", "::1"; an IPv4-mapped one as IPv4.
std::string address_text(const sockaddr* address, socklen_t length);

}  // namespace tarvo::net
