// One connection's incoming message while it arrives: the 14 bytes of length
// and header, then the body. The worker reads whatever a socket has without
// waiting, so a slow peer holds only its own frame, never the line.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "driver/hsms/hsms_header.h"

namespace tarvo::hsms {

class FrameReader {
public:
    using Clock = std::chrono::steady_clock;

    enum class Status {
        incomplete,  // the socket has nothing more now; the frame waits for the rest
        complete,    // one whole message: header() and take_body()
        closed,      // the peer ended the connection
        failed,      // the receive failed; `error` holds errno
        bad_length,  // the length field is below 10 or above kMaxMessageLength
    };

    // Reads at most `budget` bytes of the current message from `fd` without
    // blocking, and never past its end, so the next message stays in the
    // socket. The body grows as its bytes arrive (at most twice what has
    // come), so a length field alone cannot make the line allocate it.
    Status read_some(int fd, size_t budget, int& error);

    // Some bytes of a message have come, not all of them.
    bool partial() const { return got_ > 0; }
    // The header is not complete yet (for the record of a T8 expiry).
    bool in_header() const { return got_ < kHeaderSize; }
    // When the last bytes came; T8 counts from here while partial().
    Clock::time_point last_byte() const { return last_byte_; }

    const Header& header() const { return header_; }
    // The body of a complete message; the reader is then ready for the next.
    std::string take_body();

private:
    Header header_{};
    std::string body_;
    size_t got_ = 0;          // bytes of header and body so far
    size_t body_length_ = 0;  // known once the header is complete
    Clock::time_point last_byte_{};
};

}  // namespace tarvo::hsms
