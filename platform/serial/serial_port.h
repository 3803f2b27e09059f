// The eight serial-port operations the SECS-I line needs, by port number,
// over termios and poll. Results follow the serial library the line was
// written against: 0 for done and a negative number for failure; reads and
// writes answer a byte count (0 for a read: nothing within the read timeout).
//
// A port is opened exclusively (TIOCEXCL and an flock, which also holds
// against root), non-blocking, close-on-exec, raw, and ignoring the modem
// lines (no hang-up, no carrier needed), so a pseudo-terminal works like a
// real port. The default character format is 19200 bit/s, 8 data bits, no
// parity, 1 stop bit.
//
// Baud codes (sio_ioctl): 0 50, 1 75, 2 110, 3 134, 4 150, 5 300, 6 600,
// 7 1200, 8 1800, 9 2400, 10 4800, 11 7200, 12 9600, 13 19200, 14 38400,
// 15 57600, 16 115200, 17 230400, 18 460800, 19 921600 bit/s. A rate without
// a termios constant (7200) is set through termios2. Every rate is read back:
// one the device does not take, or takes more than 2 % off, is kBaudNotSet.
//
// Line mode (sio_ioctl), the bit layout of a UART's line control register:
//   bits 0-1  data bits: 0 five, 1 six, 2 seven, 3 eight
//   bit  2    stop bits: 0 one, 1 two
//   bits 3-5  parity: 0 none (any value with bit 3 clear), 1 odd, 3 even,
//             5 mark, 7 space
// so 3 (the default) is 8N1, 0x1B is 8E1 and 0x0B is 8O1.
//
// Flush selectors: 0 discards received bytes not yet read; 1 waits until the
// bytes written have been sent and discards nothing (neither a character the
// peer has just sent nor one of ours still on its way); 2 discards both
// received and unsent bytes.
//
// A port may also be a TCP stream (see port_map.h): a connection to a
// terminal server in raw mode, or a listening port that serves one client at
// a time. Its bytes are the same; the character format does not apply
// (sio_ioctl answers kIgnored); a lost connection reads as a port that hung
// up; a listener that has no client reports its status as negative and
// reads nothing, and stays open.
//
// Every operation may be called from any thread; one port's operations are
// serialised by the caller (the line's worker). This layer writes no log:
// why an opening failed is kept for sio_last_error, and what happened to a
// listener's clients for sio_take_reports.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tarvo::serial {

constexpr int kFailed = -1;          // any failure of open, ioctl, timeouts
constexpr int kNotOpen = -2;         // an operation on a port that is not open
constexpr int kBadParameter = -3;    // a baud code, line mode or selector out of range
constexpr int kBaudNotSet = -4;      // the device does not run at the rate of the baud code
constexpr int kNoPeer = -5;          // a listening port has no client now
constexpr int kIgnored = 1;          // sio_ioctl: a TCP port has no character format

struct OpenOptions {
    int connect_ms = 10000;       // TCP: resolving and connecting together, at most
    int user_timeout_ms = 10000;  // TCP: unacknowledged data for this long ends the connection
    // A connect gives up (within 20 ms) once this holds.
    std::function<bool()> abandon;
};

int sio_open(int port, const OpenOptions& options = {});
// Why the last opening of `port` failed ("" when it did not).
std::string sio_last_error(int port);
// Texts for the port's records since the last call, oldest first: lines of
// the ports file that were skipped, clients a listener accepted, refused or
// lost.
std::vector<std::string> sio_take_reports(int port);
int sio_ioctl(int port, int baud_code, int line_mode);
// `read_timeout_ms`: the longest a read waits for its first byte;
// `interval_ms`: after a byte, how long it waits for the next before it
// returns what it has (0: it returns at once with what is there).
int sio_SetReadTimeouts(int port, int read_timeout_ms, int interval_ms);
int sio_close(int port);
// 0 or more while the port is usable (bits of the modem lines where the
// device has them), negative when it is not (closed, hung up, gone).
int sio_lstatus(int port);
int sio_flush(int port, int selector);
int sio_read(int port, char* buffer, int count);
// Waits up to `timeout_ms` (-1: without limit) until the port has bytes to
// read or has hung up (1: a read will tell which), or until `wake_fd` (an
// eventfd or pipe; -1 for none) is readable or the time is up (0). Negative
// when the port is not open. Reads nothing.
int sio_wait(int port, int wake_fd, int timeout_ms);
int sio_write(int port, const char* buffer, int count);

// The bit rate of a baud code; 0 for a code outside 0..19.
int baud_rate_of(int baud_code);

}  // namespace tarvo::serial
