// Test tools for the SECS-I line: a pseudo-terminal pair whose terminal side
// is a numbered port (through a ports file) and whose other side a test
// drives byte by byte as the peer, plus blocks encoded independently of the
// line's own code.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/serial/memory_port.h"
#include "tests/line/line_probe.h"

namespace tarvo::secs1_test {

using Bytes = std::vector<uint8_t>;
using line_test::Clock;
using line_test::eventually;
using line_test::kWait;
using line_test::LogCapture;
using line_test::ms_since;
using line_test::on_time;
using line_test::RecordingOwner;
using line_test::Worker;

constexpr uint8_t kENQ = 0x05, kEOT = 0x04, kACK = 0x06, kNAK = 0x15;

// Header fields of one block.
struct BlockHeader {
    bool r = false;
    int device = 0;
    bool w = false;
    int stream = 1;
    int function = 1;
    bool e = true;
    int number = 1;
    int source = 0;
    int transaction = 0;
};

// Length byte, header, data and checksum as they go over the wire.
Bytes wire_block(const BlockHeader& h, const Bytes& data = {});

// The peer of a SECS-I line, scripted by a test: what it sends and what it
// reads, over whichever port stands between it and the line.
class ScriptedPeer {
public:
    explicit ScriptedPeer(int port) : port_(port) {}
    virtual ~ScriptedPeer() = default;
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    int port() const { return port_; }

    virtual bool send(const Bytes& bytes) = 0;
    bool send_byte(uint8_t b) { return send(Bytes{b}); }
    // Exactly `n` bytes the line writes, within `ms`.
    virtual std::optional<Bytes> read_bytes(size_t n, int ms = kWait) = 0;
    // The peer goes away: the line's port hangs up.
    virtual void hang_up() = 0;

    // The next byte the line writes, within `ms`.
    std::optional<uint8_t> read_byte(int ms = kWait);
    // A whole block the line sends after our EOT: length byte, L + 2 bytes.
    std::optional<Bytes> read_block(int ms = kWait);
    // Nothing arrives for `ms`.
    bool quiet(int ms);
    // Serves one whole message of the line's: answers its ENQ with EOT and
    // each block with ACK; the blocks' bytes in order.
    std::optional<std::vector<Bytes>> receive_message(int ms = kWait);
    // Sends one block with the handshake: ENQ, waits for EOT, the block,
    // waits for ACK. False when either did not come.
    bool deliver(const Bytes& block, int ms = kWait);

protected:
    int port_;
};

// A pty pair: ports `port` (and, with a second pair, `port + 1`) name its
// terminal sides in a ports file that TARVO_PORTS points to for the life of
// the object. For what needs a real terminal.
class PtyPeer final : public ScriptedPeer {
public:
    explicit PtyPeer(int port = 5);
    ~PtyPeer() override;

    const std::string& device() const { return device_; }
    bool send(const Bytes& bytes) override;
    std::optional<Bytes> read_bytes(size_t n, int ms = kWait) override;
    void hang_up() override;

private:
    int master_ = -1;
    std::string device_;
    std::string ports_file_;
};

// A port in memory with waits of their real length: the line runs exactly
// as on a terminal, without one. For tests where the port only stands in
// for a peer.
class MemoryPeer final : public ScriptedPeer {
public:
    explicit MemoryPeer(int port = 5);
    ~MemoryPeer() override;

    bool send(const Bytes& bytes) override;
    std::optional<Bytes> read_bytes(size_t n, int ms = kWait) override;
    void hang_up() override;

private:
    std::unique_ptr<serial::MemoryPort> memory_;
    std::string written_;  // taken from the port, not yet read
};

}  // namespace tarvo::secs1_test
