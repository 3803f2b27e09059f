// Socket helpers of the HSMS line. Every socket is created close-on-exec and
// non-blocking; waiting is done with poll and explicit time limits, and no
// send can raise SIGPIPE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace tarvo::hsms {

// How a bounded read ended.
enum class ReadResult {
    done,       // every byte asked for has arrived
    closed,     // the peer closed the connection (a receive gave 0 bytes)
    timed_out,  // no further bytes within the limit
    failed,     // the receive failed; `error` holds errno
    abandoned,  // the caller gave up waiting (see Abandon)
};

// Asked while a call waits, at least every kAbandonSliceMs: true makes the
// call give up at once (reads answer `abandoned`, connects and sends ECANCELED).
// Lets a line that is being closed or destroyed stop waiting for a peer.
using Abandon = std::function<bool()>;
constexpr int kAbandonSliceMs = 50;

// A TCP/IPv4 stream socket, close-on-exec and non-blocking; -1 with errno set.
int open_stream_socket();

// Connects `fd` to the dotted IPv4 address `host` and `port`, waiting at most
// `limit_ms`. 0, or the errno of the failure (ETIMEDOUT when the wait ran out,
// EINVAL when `host` is no dotted IPv4 address).
int connect_within(int fd, const std::string& host, int port, int limit_ms, const Abandon& abandon = {});

// Turns off Nagle's algorithm: a message goes out at once.
void set_no_delay(int fd);

// Reads exactly `n` bytes into `buffer`. Each wait for further bytes (the
// first ones included) lasts at most `limit_ms`: an inter-character limit,
// not a limit on the whole read. `got` tells how many bytes have arrived.
ReadResult read_exact(int fd, void* buffer, size_t n, int limit_ms, size_t& got, int& error,
                      const Abandon& abandon = {});


// Sends `first` then `second` as one stream. Each wait for room in the send
// buffer lasts at most `limit_ms`. Returns the number of bytes sent; fewer
// than `first_n + second_n` means failure, with `error` holding errno.
// The bytes that fit go out before `abandon` is first asked.
size_t send_all(int fd, const void* first, size_t first_n, const void* second, size_t second_n,
                int limit_ms, int& error, const Abandon& abandon = {});

// Shuts the connection down in both directions and closes the descriptor.
// Does nothing for -1.
void close_socket(int fd);

}  // namespace tarvo::hsms
