// Where a serial port number leads. Port N is /dev/ttyS<N-1> unless the ports
// file names something else for it, one entry a line ('#' starts a comment):
//   N PATH                     a device: /dev/ttyUSB0, a pseudo-terminal...
//   N tcp:HOST:PORT            a TCP connection to a terminal server; HOST is a
//                              name, an IPv4 address or a bracketed IPv6 one
//   N tcp-listen:PORT          a TCP port this side listens on (all addresses),
//   N tcp-listen:ADDRESS:PORT  or on one numeric address, one client at a time
// The ports file is $TARVO_PORTS, else $XDG_CONFIG_HOME/tarvo/ports, else
// ~/.config/tarvo/ports; a missing or unreadable file means the defaults. The
// first entry for a number counts. A line whose number cannot be read is
// skipped with a note; a malformed entry for a number makes that port fail
// to open, with the reason, rather than mean something else.
#pragma once

#include <string>
#include <vector>

namespace tarvo::serial {

struct PortEndpoint {
    enum class Kind { tty, tcp_connect, tcp_listen, invalid };
    Kind kind = Kind::invalid;
    std::string path;    // tty: the device
    std::string host;    // tcp_connect: the name or address; tcp_listen: the address ("" for all)
    int tcp_port = 0;    // tcp_*: 1 to 65535
    std::string error;   // invalid: "FILE:LINE: what is wrong" (or why there is no device)
    std::vector<std::string> notes;  // lines that were skipped, as "FILE:LINE: why"
};

// The ports file in use (which may not exist).
std::string ports_file_path();

// The endpoint of `port` given the ports file's text (`file` names it in
// errors and notes).
PortEndpoint parse_port_entry(const std::string& text, const std::string& file, int port);

// The endpoint of `port` from the ports file, read anew on every call so it
// may change while a program runs.
PortEndpoint endpoint_for_port(int port);

// The device path of a tty port; "" for any other (or a port below 1 that the
// file does not name).
std::string device_for_port(int port);

}  // namespace tarvo::serial
