// What differs between the kinds of port behind a port number: a tty, a TCP
// stream (a connection to a terminal server, or a port that takes one client
// at a time) and a port in memory (for tests and fuzzing) each fill one
// table of operations; the port operations
// of serial_port.h are written once on top of it.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/net/allow_list.h"
#include "platform/serial/port_map.h"
#include "platform/serial/serial_port.h"

namespace tarvo::serial {

struct OpenPort;

struct Transport {
    // Opens `where` into `p`: 0, or kFailed with `why` set.
    int (*open)(OpenPort& p, const PortEndpoint& where, const OpenOptions& options, std::string& why);
    void (*close)(OpenPort& p);  // every descriptor
    int (*set_format)(OpenPort& p, int baud_code, int line_mode);
    int (*status)(OpenPort& p);  // as sio_lstatus
    int (*flush)(OpenPort& p, int selector);
    // What can be read at once: bytes, 0 for none, negative when the port is gone.
    int (*read_now)(OpenPort& p, char* buffer, int count);
    // Up to `timeout_ms` (-1: no limit) for bytes or an end of the port (1),
    // or `wake_fd` or the time (0). A listener accepts clients meanwhile.
    int (*wait)(OpenPort& p, int wake_fd, int timeout_ms);
    // What can be written at once: bytes, 0 for none, negative on an error.
    int (*write_now)(OpenPort& p, const char* buffer, int count);
};

extern const Transport kTtyTransport;
extern const Transport kTcpTransport;
extern const Transport kMemoryTransport;

struct MemoryChannel;

// One open port. Its operations are serialised by the caller (the line's
// worker); it is freed when the last user lets go, so a read in progress on
// one thread keeps it whole while another closes the port.
struct OpenPort {
    OpenPort(int port_number, const Transport& t) : number(port_number), transport(t) {}
    ~OpenPort() { transport.close(*this); }
    OpenPort(const OpenPort&) = delete;
    OpenPort& operator=(const OpenPort&) = delete;

    const int number;
    const Transport& transport;
    int fd = -1;         // what bytes move on: the tty, the connection; -1 while a listener has no client
    int listen_fd = -1;  // a listener's own socket
    int tcp_port = 0;
    int user_timeout_ms = 0;
    net::AllowList allow;
    std::shared_ptr<MemoryChannel> memory;  // a memory port's bytes

    std::mutex mutex;  // guards the two timeouts
    int read_timeout = 100;
    int interval = 0;
};

// A text for the port's records (the line writes them; see sio_take_reports).
void add_report(int port, const std::string& text);

// Waits up to `ms` (-1: no limit) for `fd` to be ready for `events`: 1 ready,
// 0 not, -1 error. Restarts after signals without waiting longer.
int wait_for(int fd, short events, int ms);

}  // namespace tarvo::serial
