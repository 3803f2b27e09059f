// The SECS-I link protocol against a scripted peer on a pty pair: every
// failure row of sending and receiving one block, seen on the wire, in the
// records and in the notifications; contention both ways; the port's life.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "driver/log/notify_code.h"
#include "driver/secs1/secsicomm.h"
#include "platform/sanitizers.h"
#include "platform/serial/memory_port.h"
#include "tests/secs1/secs1_fixture.h"

namespace tarvo::secs1_test {
namespace {

struct SendRow {
    const char* name;
    std::function<void(PtyPeer&)> peer;     // what the peer does once the line has a message to send
    int written;                             // the outcome
    std::vector<int> notes;                  // in order
    std::vector<const char*> records;
};

class SendingOneBlock : public SerialLineTest, public ::testing::WithParamInterface<SendRow> {};

// Answers ENQ with EOT and returns the block the line then sends.
Bytes take_block(PtyPeer& p) {
    EXPECT_EQ(p.read_byte(), kENQ);
    p.send_byte(kEOT);
    auto b = p.read_block();
    EXPECT_TRUE(b.has_value());
    return b.value_or(Bytes{});
}

const SendRow kSendRows[] = {
    {"AckedAtOnce", [](PtyPeer& p) { take_block(p); p.send_byte(kACK); }, 1, {}, {"Received ACK: '0x06'", "Message was sent. Name: 'S1F1'"}},
    {"PeerSilent",
     [](PtyPeer& p) {
         EXPECT_EQ(p.read_byte(), kENQ);
         const auto first = Clock::now();
         EXPECT_EQ(p.read_byte(), kENQ);  // the second attempt, after T2
         EXPECT_TRUE(on_time(ms_since(first), kT2, 60));
     },
     0, {nSecsErrorT2, nSecsErrorRetry, nSecsErrorT2},
     {"ERROR: T2 timeout - while receiving EOT or ENQ", "ERROR sending. try number 2",
      "Messages were not sent. Clearing Outbox"}},
    {"NakThenAckResendsTheSameBlock",
     [](PtyPeer& p) {
         const Bytes first = take_block(p);
         p.send_byte(kNAK);
         EXPECT_EQ(take_block(p), first);
         p.send_byte(kACK);
     },
     1, {nSecsErrorUnexpectedChar, nSecsErrorRetry}, {"ERROR: Received unexpected char", "ERROR sending. try number 2"}},
    {"NoAckThenAck",
     [](PtyPeer& p) {
         take_block(p);
         const auto first = Clock::now();
         take_block(p);  // nothing answered the first: T2, then the second attempt
         EXPECT_TRUE(on_time(ms_since(first), kT2, 60));
         p.send_byte(kACK);
     },
     1, {nSecsErrorT2, nSecsErrorRetry}, {"ERROR: T2 timeout - while waiting for ACK"}},
    {"NoiseBeforeEotIsIgnored",
     [](PtyPeer& p) {
         EXPECT_EQ(p.read_byte(), kENQ);
         p.send(Bytes{'x', 0xFF, kEOT});
         EXPECT_TRUE(p.read_block().has_value());
         p.send_byte(kACK);
     },
     1, {}, {"Sending  block. Length: '0',\nheader: '0x00 0x00 0x01 0x01 0x80 0x01 0x00 0x00 0x00 0x00 '"}},
    {"NoAckInAnyAttempt",
     [](PtyPeer& p) {
         take_block(p);
         take_block(p);
     },
     0, {nSecsErrorT2, nSecsErrorRetry, nSecsErrorT2}, {"ERROR: T2 timeout - while waiting for ACK"}},
};

TEST_P(SendingOneBlock, EndsAsThePeerAnswers) {
    const SendRow& row = GetParam();
    start();
    ASSERT_EQ(line.SendMessage("S1F1"), 0);
    row.peer(peer);
    ASSERT_TRUE(owner.wait_written(row.written));
    EXPECT_EQ(owner.written(1 - row.written), 0);
    EXPECT_EQ(owner.notifications(), row.notes);
    for (const char* r : row.records) EXPECT_TRUE(log.wait_contains(r)) << r;
}

INSTANTIATE_TEST_SUITE_P(Rows, SendingOneBlock, ::testing::ValuesIn(kSendRows),
                         [](const auto& info) { return std::string(info.param.name); });

struct ReceiveRow {
    const char* name;
    Bytes bytes;                  // what the peer sends after the line's EOT
    int notes;                    // the one notification
    const char* record;
    int t1s, t2s;                 // the NAK comes after t1s x T1 + t2s x T2
};

class ReceivingOneBlock : public SerialLineTest, public ::testing::WithParamInterface<ReceiveRow> {};

Bytes bad_checksum() {
    Bytes b = wire_block({});
    b.back() ^= 0x01;
    return b;
}

Bytes cut_short() {
    Bytes b = wire_block({}, Bytes(20, 0x41));
    b.resize(8);
    return b;
}

const ReceiveRow kReceiveRows[] = {
    {"NoLength", {}, nSecsErrorT2, "ERROR: T2 timeout - while waiting for receiving block length", 0, 1},
    {"LengthNine", {9, 1, 2, 3}, nSecsErrorBadLength, "ERROR: Received bad length", 1, 0},
    {"Length255", {255, 1, 2, 3}, nSecsErrorBadLength, "ERROR: Received bad length", 1, 0},
    {"WrongChecksum", bad_checksum(), nSecsErrorSum, "ERROR: Received incorrect checksum", 1, 0},
    // T1 for the gap, then a quiet T1 before the NAK.
    {"GapInsideTheBlock", cut_short(), nSecsErrorT1, "ERROR: T1 timeout - while receiving block", 2, 0},
};

TEST_P(ReceivingOneBlock, IsAnsweredWithNakAfterAQuietT1) {
    const ReceiveRow& row = GetParam();
    start();
    peer.send_byte(kENQ);
    ASSERT_EQ(peer.read_byte(), kEOT);
    const auto sent = Clock::now();
    peer.send(row.bytes);
    EXPECT_EQ(peer.read_byte(), kNAK);
    // Never before the peer has been quiet for T1 (T2, without a length), and
    // not on another timer's value.
    EXPECT_TRUE(on_time(ms_since(sent), row.t1s * line.T1 + row.t2s * line.T2, 60));
    EXPECT_TRUE(owner.wait_notify(row.notes));
    EXPECT_EQ(owner.notifications(), std::vector<int>{row.notes});
    EXPECT_TRUE(log.wait_contains(row.record)) << row.record;
    EXPECT_EQ(owner.reads(), 0);
    // The line is ready for the next block.
    EXPECT_TRUE(peer.deliver(wire_block({})));
    EXPECT_TRUE(owner.wait_reads(1));
}

INSTANTIATE_TEST_SUITE_P(Rows, ReceivingOneBlock, ::testing::ValuesIn(kReceiveRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SerialLineTest, AnUnknownCharacterWhileIdleIsDroppedAndABlockIsAcked) {
    start();
    peer.send_byte('A');
    EXPECT_TRUE(owner.wait_notify(nSecsErrorUnexpectedChar));
    EXPECT_TRUE(log.wait_contains("Received unknown char: 0x41"));
    EXPECT_TRUE(peer.quiet(3 * line.read_timeout));  // no answer to it
    ASSERT_TRUE(peer.deliver(wire_block({.w = true, .stream = 1, .function = 1, .transaction = 9})));
    EXPECT_TRUE(owner.wait_reads(1));
    EXPECT_TRUE(log.wait_contains("Received block. Length: '0',\nheader: '0x00 0x00 0x81 0x01 0x80 0x01 0x00 0x00 0x00 0x09 '"));
    EXPECT_TRUE(log.wait_contains("Received message. Name: 'S1F1W'"));
}

// Both sides want to send at once: the host yields and receives first; the
// equipment keeps waiting for EOT.
TEST_F(SerialLineTest, ContentionTheHostYieldsTheEquipmentInsists) {
    for (const bool is_master : {false, true}) {
        SCOPED_TRACE(is_master ? "equipment" : "host");
        line.master = is_master;
        start();
        ASSERT_EQ(line.SendMessage("S1F1"), 0);
        ASSERT_EQ(peer.read_byte(), kENQ);
        peer.send_byte(kENQ);
        if (is_master) {
            EXPECT_TRUE(peer.quiet(3 * line.read_timeout));  // no EOT from the equipment
            peer.send_byte(kEOT);
            ASSERT_TRUE(peer.read_block().has_value());
            peer.send_byte(kACK);
            ASSERT_TRUE(owner.wait_written(1));
            EXPECT_EQ(owner.reads(), 0);
        } else {
            ASSERT_EQ(peer.read_byte(), kEOT);
            peer.send(wire_block({.stream = 2, .function = 17}));
            ASSERT_EQ(peer.read_byte(), kACK) << log.text();
            ASSERT_TRUE(owner.wait_reads(1));
            // Then its own block, with fresh attempts.
            ASSERT_EQ(peer.read_byte(), kENQ);
            peer.send_byte(kEOT);
            ASSERT_TRUE(peer.read_block().has_value());
            peer.send_byte(kACK);
            ASSERT_TRUE(owner.wait_written(1)) << log.text();
        }
        EXPECT_TRUE(owner.notifications().empty());
        stop();
        owner.reset();
    }
}

// An idle line's wait is no read timeout: a queued message starts its
// handshake at once, however long one read may wait.
TEST_F(SerialLineTest, AQueuedMessageStartsAtOnceOnAnIdleLine) {
    line.read_timeout = 2000;
    line.T2 = 6000;
    start();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the worker is asleep now
    const auto t0 = Clock::now();
    ASSERT_EQ(line.SendMessage("S1F1"), 0);
    ASSERT_EQ(peer.read_byte(), kENQ);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count(), 500);
    peer.send_byte(kEOT);
    ASSERT_TRUE(peer.read_block().has_value());
    peer.send_byte(kACK);
    EXPECT_TRUE(owner.wait_written(1));
}

// A stop or a deactivation does not wait out Retry x T2.
TEST_F(SerialLineTest, DeactivatingEndsALongSendAtOnceAndEverySendEndsOnce) {
    line.T2 = 10000;
    line.retry = 3;
    start();
    ASSERT_EQ(line.SendMessage("S1F1"), 0);
    ASSERT_EQ(line.SendMessage("S1F3"), 0);
    ASSERT_EQ(line.SendMessage("S1F5"), 0);
    ASSERT_EQ(peer.read_byte(), kENQ);
    const auto t0 = Clock::now();
    line.active_wanted = false;
    line.wake();
    ASSERT_TRUE(owner.wait_written(0, 3));
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count(),
              1000 * (kUnderSanitizer ? 4 : 1));
    EXPECT_TRUE(eventually([&] { return !line.port_opened.load(); }));
    EXPECT_EQ(owner.written(1), 0);
    EXPECT_TRUE(owner.notifications().empty());  // a stop is no timeout
    // Queued while the port is closed: ends at once too.
    ASSERT_EQ(line.SendMessage("S1F1"), 0);
    EXPECT_TRUE(owner.wait_written(0, 4));
    EXPECT_TRUE(owner.wait_notify(nSecsErrorPortWriteFailed));
}

TEST_F(SerialLineTest, AReadErrorClosesThePortOnceAndTheLineReopensIt) {
    start();
    ASSERT_TRUE(peer.deliver(wire_block({})));
    peer.hang_up();
    ASSERT_TRUE(owner.wait_notify(nSecsErrorPortReadFailed));
    EXPECT_TRUE(eventually([&] { return !line.port_opened.load(); }));
    EXPECT_TRUE(log.wait_contains("Port 5 was closed"));
    // The device is gone with its peer: every later opening fails, paced by
    // the reopen delay, and the port is closed only once.
    EXPECT_TRUE(log.wait_contains("Port 5 could not be opened"));
    std::this_thread::sleep_for(std::chrono::milliseconds(5 * line.reopen_delay));
    const std::string text = log.text();
    size_t closed = 0, failed = 0;
    for (size_t at = 0; (at = text.find("Port 5 was closed", at)) != std::string::npos; ++at) ++closed;
    for (size_t at = 0; (at = text.find("Port 5 could not be opened", at)) != std::string::npos; ++at) ++failed;
    EXPECT_EQ(closed, 1u);
    EXPECT_GE(failed, 2u);
    EXPECT_LE(failed, 8u);
    EXPECT_EQ(owner.notify_count(nSecsErrorPortReadFailed), 1);
    EXPECT_TRUE(line.active_wanted.load());
}

// A peer that never falls silent (noise, a device stuck in a loop) keeps the
// line in completion's quiet-period wait; a deactivation and a stop still end
// it within 250 ms.
TEST_F(SerialLineTest, AStopIsPromptUnderContinuousInput) {
    line.T1 = 500;
    line.read_timeout = 100;
    for (const bool stop_worker : {false, true}) {
        SCOPED_TRACE(stop_worker ? "stop" : "deactivate");
        start();
        peer.send_byte(kENQ);
        ASSERT_EQ(peer.read_byte(), kEOT);
        peer.send_byte(5);  // a bad length: completion waits for a quiet T1
        std::atomic<bool> quiet{false};
        std::thread noise([&] {
            for (int i = 0; i < 1000 && !quiet.load(); ++i) {
                peer.send_byte('x');
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        ASSERT_TRUE(owner.wait_notify(nSecsErrorBadLength));
        std::this_thread::sleep_for(std::chrono::milliseconds(2 * line.T1));  // well past one quiet period
        const auto t0 = Clock::now();
        if (stop_worker) {
            worker.reset();
        } else {
            line.active_wanted = false;
            line.wake();
            EXPECT_TRUE(eventually([&] { return !line.port_opened.load(); }));
        }
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
        std::printf("%s under continuous input took %lld ms\n", stop_worker ? "stop" : "deactivation",
                    static_cast<long long>(took));
        EXPECT_LT(took, 250 * (kUnderSanitizer ? 2 : 1));
        EXPECT_EQ(owner.notify_count(nSecsErrorT1), 0) << "no NAK while the peer is still sending";
        quiet = true;
        noise.join();
        stop();
        owner.reset();
    }
}

// A caller learns of a failed opening through an event too, once per call.
TEST_F(SerialLineTest, AFailedOpeningIsNotifiedOnce) {
    line.port = 99;  // no device behind it
    EXPECT_EQ(line.port_open(), -1);
    EXPECT_TRUE(log.wait_contains("Port 99 could not be opened"));
    EXPECT_EQ(owner.notifications(), std::vector<int>{nSecsErrorPortOpenFailed});
    line.port = peer.port();
    line.baud_code = 11;  // 7200 bit/s: no termios constant, set all the same
    EXPECT_EQ(line.port_open(), 0);
    EXPECT_EQ(owner.notifications(), std::vector<int>{nSecsErrorPortOpenFailed});
}

// A deactivation that wakes the worker from its wait for the reopen delay
// reaches the worker's loop: the step ends, it does not wait again.
TEST_F(SerialLineTest, ADeactivationEndsTheWaitForAReopening) {
    line.reopen_delay = 3000;
    start();
    peer.hang_up();
    ASSERT_TRUE(eventually([&] { return !line.port_opened.load(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the worker waits out the reopen delay
    const long cycles = worker->cycles();
    line.active_wanted = false;
    line.wake();
    EXPECT_TRUE(eventually([&] { return worker->cycles() > cycles; }, 500));
}

// The same link protocol on a port in memory, Step by Step with no waiting:
// what tests and the fuzzer use where timing is not the point.
TEST(MemoryPortLine, TheHandshakeBothWaysWithoutWaiting) {
    serial::MemoryPort port(40, true);
    RecordingOwner owner;
    secsicomm line;
    line.SetCQuill1(&owner);
    line.msg.set_log_mask(0);
    line.port = 40;
    line.T2 = 200;  // counted in read timeouts, each of which costs nothing here
    ASSERT_EQ(line.port_open(), 0);
    const auto t0 = Clock::now();
    port.feed("\x05");  // ENQ
    line.Step();
    EXPECT_EQ(port.take_written(), "\x04\x15") << "EOT, then NAK once T2 passed without a length";
    const Bytes block = wire_block({.w = true, .stream = 1, .function = 1, .transaction = 3});
    port.feed("\x05" + std::string(block.begin(), block.end()));
    line.Step();
    EXPECT_EQ(port.take_written(), "\x04\x06");  // EOT, ACK
    EXPECT_EQ(owner.reads(), 1);
    // The peer answers as the line writes: EOT to its ENQ, ACK to its block.
    port.answer_with([&port](std::string_view written) {
        if (written == "\x05") port.feed("\x04");
        if (written.size() > 2) port.feed("\x06");
    });
    ASSERT_EQ(line.SendMessage("S1F2"), 0);
    line.Step();
    const std::string sent = port.take_written();
    ASSERT_EQ(sent.size(), 1u + 1 + 10 + 2);
    EXPECT_EQ(static_cast<uint8_t>(sent[0]), kENQ);
    EXPECT_EQ(static_cast<uint8_t>(sent[1]), 10);
    EXPECT_EQ(owner.written(1), 1);
    port.hang_up();
    line.Step();
    EXPECT_EQ(owner.notify_count(nSecsErrorPortReadFailed), 1);
    EXPECT_FALSE(line.port_opened.load());
    EXPECT_LT(ms_since(t0), 1000) << "no real waiting";
    line.active_wanted = false;
    line.port_disconnect();
}

}  // namespace
}  // namespace tarvo::secs1_test
