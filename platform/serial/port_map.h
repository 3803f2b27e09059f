// Which device a serial port number stands for. Port N is /dev/ttyS<N-1>
// unless the ports file names another device for it, one "N PATH" a line
// ('#' starts a comment), so port 3 can be /dev/ttyUSB0 or a pseudo-terminal.
// The ports file is $TARVO_PORTS, else $XDG_CONFIG_HOME/tarvo/ports, else
// ~/.config/tarvo/ports; a missing or unreadable file means the default.
#pragma once

#include <string>

namespace tarvo::serial {

// The ports file in use (which may not exist).
std::string ports_file_path();

// The device path of port `port`; "" for a port below 1 that the file does
// not name. The file is read anew on every call, so it may change while a
// program runs.
std::string device_for_port(int port);

}  // namespace tarvo::serial
