#include "driver/hsms/hsms_frame.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace tarvo::hsms {

namespace {

constexpr size_t kFirstBodyChunk = 64 * 1024;

}  // namespace

FrameReader::Status FrameReader::read_some(int fd, size_t budget, int& error) {
    while (budget > 0) {
        uint8_t* into;
        size_t want;
        if (got_ < kHeaderSize) {
            into = header_.data() + got_;
            want = kHeaderSize - got_;
        } else {
            const size_t have = got_ - kHeaderSize;
            if (body_.size() == have) {
                // Grow geometrically: at most twice what has really arrived.
                body_.resize(std::min(body_length_, std::max(kFirstBodyChunk, have * 2)));
            }
            into = reinterpret_cast<uint8_t*>(body_.data()) + have;
            want = body_.size() - have;
        }
        want = std::min(want, budget);
        const ssize_t r = ::recv(fd, into, want, MSG_DONTWAIT);
        if (r == 0) return Status::closed;
        if (r < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return Status::incomplete;
            error = errno;
            return Status::failed;
        }
        const bool header_was_open = got_ < kHeaderSize;
        got_ += static_cast<size_t>(r);
        budget -= static_cast<size_t>(r);
        last_byte_ = Clock::now();
        if (header_was_open && got_ == kHeaderSize) {
            const uint32_t length = message_length(header_);
            if (!length_acceptable(length)) return Status::bad_length;
            body_length_ = length - kControlLength;
            body_.clear();
        }
        if (got_ >= kHeaderSize && got_ - kHeaderSize == body_length_) return Status::complete;
    }
    return Status::incomplete;
}

std::string FrameReader::take_body() {
    std::string body = std::move(body_);
    body.resize(body_length_);
    body_ = std::string();
    got_ = 0;
    body_length_ = 0;
    return body;
}

}  // namespace tarvo::hsms
