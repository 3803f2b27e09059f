// A port that lives in memory, beside the tty and TCP transports: the test or
// fuzzer in the peer's place feeds the bytes the line reads and takes what
// the line wrote, and the line's own code runs unchanged. With `instant`, a
// wait that finds no byte ends at once, so read timeouts, T1, T2 and pauses
// cost nothing; without it, waits take their real time (a worker can sleep
// on the port).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tarvo::serial {

struct MemoryChannel;

class MemoryPort {
public:
    // Port `number` is this memory port (sio_open finds it before the ports
    // file) until the object goes.
    MemoryPort(int number, bool instant);
    ~MemoryPort();
    MemoryPort(const MemoryPort&) = delete;
    MemoryPort& operator=(const MemoryPort&) = delete;

    // The peer's bytes, in order after those fed before.
    void feed(const uint8_t* data, size_t size);
    void feed(const std::string& bytes) { feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()); }
    // What the line has written since the last call (at most the last MiB).
    std::string take_written();
    // Forgets what the line has written (a peer that does not look at it).
    void drop_written();
    // Bytes fed and not yet read by the line.
    size_t unread() const;
    // The peer goes away: once the fed bytes are read, the port reads as
    // hung up.
    void hang_up();
    // Called on the line's thread with each write of the line, after it was
    // kept for take_written: the peer may answer at once (an EOT to an ENQ,
    // an ACK to a block) by feeding bytes. Set it before the line runs.
    void answer_with(std::function<void(std::string_view written)> answer);

private:
    int number_;
    std::shared_ptr<MemoryChannel> channel_;
};

// The memory port registered for `number`, if any (for the transport).
std::shared_ptr<MemoryChannel> memory_channel(int number);

}  // namespace tarvo::serial
