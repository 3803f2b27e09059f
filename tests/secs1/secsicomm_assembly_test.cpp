// SECS-I message assembly against a scripted peer on a port in memory: messages split into
// blocks and collected from them, duplicates and extra blocks, T3 and T4,
// replies matched only by secondaries, and every send ending once.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "driver/log/notify_code.h"
#include "driver/secs1/secsicomm.h"
#include "tests/secs1/secs1_fixture.h"

namespace tarvo::secs1_test {
namespace {

// A body of `n` bytes: one binary item whose content counts up.
std::string binary_text(size_t n, Bytes& body) {
    std::string text = "S6F11 <B";
    body.clear();
    const size_t header = n < 256 + 2 ? 2 : (n < 65536 + 3 ? 3 : 4);
    const size_t content = n - header;
    body.push_back(static_cast<uint8_t>(0x20 | (header - 1)));
    for (size_t i = header - 1; i > 0; --i) body.push_back(static_cast<uint8_t>(content >> (8 * (i - 1))));
    for (size_t i = 0; i < content; ++i) {
        const uint8_t b = static_cast<uint8_t>(i * 7);
        body.push_back(b);
        text += " " + std::to_string(b);
    }
    return text + ">";
}

Bytes data_of(const Bytes& block) { return Bytes(block.begin() + 11, block.end() - 2); }

class Assembly : public MemoryLineTest {
protected:
    void SetUp() override { start(); }
};

TEST_F(Assembly, ABodySplitsIntoFullBlocksAndTheRest) {
    for (const size_t size : {size_t{0}, size_t{244}, size_t{245}, size_t{600}}) {
        SCOPED_TRACE(size);
        owner.reset();
        Bytes body;
        ASSERT_EQ(line.SendMessage(size == 0 ? "S1F1" : binary_text(size, body)), 0);
        const auto blocks = peer.receive_message();
        ASSERT_TRUE(blocks.has_value());
        const size_t count = size == 0 ? 1 : (size + 243) / 244;
        ASSERT_EQ(blocks->size(), count);
        Bytes joined;
        for (size_t i = 0; i < count; ++i) {
            const Bytes& b = (*blocks)[i];
            const bool last = i + 1 == count;
            EXPECT_EQ(b[0], last ? 10 + size - 244 * i : 254u);
            EXPECT_EQ(((b[5] & 0x7F) << 8) | b[6], static_cast<int>(i + 1)) << "block number";
            EXPECT_EQ((b[5] & 0x80) != 0, last) << "E-bit";
            const Bytes d = data_of(b);
            joined.insert(joined.end(), d.begin(), d.end());
        }
        EXPECT_EQ(joined, body);
        ASSERT_TRUE(owner.wait_written(1));
        EXPECT_EQ(owner.written(1), 1);  // once, after the last ACK
    }
}

TEST_F(Assembly, AMultiBlockPrimaryIsCollectedAndItsDuplicateDropped) {
    const Bytes d1(244, 0x11), d2(3, 0x22);
    ASSERT_TRUE(peer.deliver(wire_block({.w = true, .stream = 6, .function = 11, .e = false, .number = 1, .transaction = 5}, d1)));
    EXPECT_TRUE(peer.deliver(wire_block({.w = true, .stream = 6, .function = 11, .e = true, .number = 2, .transaction = 5}, d2)));
    ASSERT_TRUE(owner.wait_reads(1));
    // The peer missed our ACK and sends block 2 again.
    EXPECT_TRUE(peer.deliver(wire_block({.w = true, .stream = 6, .function = 11, .e = true, .number = 2, .transaction = 5}, d2)));
    EXPECT_TRUE(owner.wait_notify(nSecsErrorBlockDuplication));
    EXPECT_TRUE(log.wait_contains("ERROR: Received block duplication"));
    EXPECT_EQ(owner.reads(), 1);
    std::string expected(d1.begin(), d1.end());
    expected.append(d2.begin(), d2.end());
    EXPECT_EQ(line.msg.NextMessageByte(), expected);
    EXPECT_EQ(line.msg.GetInStreamID(), 6);
    EXPECT_EQ(line.msg.GetInFunctionID(), 11);
    EXPECT_EQ(line.msg.GetInWBit(), 1);
    EXPECT_EQ(line.msg.GetInTransactionID(), 5);
    EXPECT_TRUE(log.wait_contains("Received message. Name: 'S6F11W'"));
}

struct StrayRow {
    const char* name;
    BlockHeader header;
    const char* record;
};

// Blocks nobody expects: reported as extra, never delivered.
TEST_F(Assembly, ExtraBlocksAreReportedAndDropped) {
    const StrayRow rows[] = {
        {"primary, not first", {.stream = 1, .function = 3, .number = 2, .transaction = 40}, "ERROR: extra block received"},
        {"reply nobody asked for", {.stream = 1, .function = 2, .transaction = 41}, "ERROR: Received extra block"},
    };
    int n = 0;
    for (const StrayRow& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(peer.deliver(wire_block(row.header)));
        EXPECT_TRUE(owner.wait_notify(nSecsErrorExtraBlock, ++n));
        EXPECT_TRUE(log.wait_contains(row.record));
    }
    EXPECT_EQ(owner.reads(), 0);
}

TEST_F(Assembly, T4DiscardsTheMessageInProgress) {
    ASSERT_TRUE(peer.deliver(wire_block({.stream = 6, .function = 11, .e = false, .number = 1, .transaction = 8}, Bytes(244, 1))));
    const auto acked = Clock::now();
    ASSERT_TRUE(owner.wait_notify(nSecsErrorT4));
    EXPECT_TRUE(on_time(ms_since(acked), kT4));
    EXPECT_TRUE(log.wait_contains("ERROR: T4 timeout - waiting continuation of 'S6F11'"));
    EXPECT_TRUE(log.wait_contains("ERROR: incomplete message discarded. Name: 'S6F11'"));
    // Its last block comes too late: it continues nothing.
    ASSERT_TRUE(peer.deliver(wire_block({.stream = 6, .function = 11, .e = true, .number = 2, .transaction = 8}, Bytes(1, 2))));
    EXPECT_TRUE(owner.wait_notify(nSecsErrorExtraBlock));
    EXPECT_EQ(owner.reads(), 0);
    EXPECT_EQ(owner.notify_count(nSecsErrorT3), 0);
}

// Our S1F1W goes out with system bytes 0; the peer's own S1F1W with the same
// system bytes is a message of its own and leaves our T3 running; the real
// S1F2 then answers it.
TEST_F(Assembly, OnlyASecondaryAnswersAnExpectedReply) {
    ASSERT_EQ(line.SendMessage("S1F1W"), 0);
    const auto sent = peer.receive_message();
    ASSERT_TRUE(sent.has_value());
    ASSERT_TRUE(owner.wait_written(1));
    const int transaction = ((*sent)[0][9] << 8) | (*sent)[0][10];
    ASSERT_TRUE(peer.deliver(wire_block({.w = true, .stream = 1, .function = 1, .transaction = transaction})));
    ASSERT_TRUE(owner.wait_reads(1));
    ASSERT_TRUE(peer.deliver(wire_block({.stream = 1, .function = 2, .transaction = transaction})));
    ASSERT_TRUE(owner.wait_reads(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(line.T3 + 100));
    EXPECT_EQ(owner.notify_count(nSecsErrorT3), 0);
    EXPECT_EQ(owner.notify_count(nSecsErrorExtraBlock), 0);
}

TEST_F(Assembly, AReplyAfterT3IsAnExtraBlock) {
    ASSERT_EQ(line.SendMessage("S1F1W"), 0);
    const auto sent = peer.receive_message();
    const auto acked = Clock::now();
    ASSERT_TRUE(sent.has_value());
    ASSERT_TRUE(owner.wait_notify(nSecsErrorT3));
    EXPECT_TRUE(on_time(ms_since(acked), kT3));
    EXPECT_TRUE(log.wait_contains("ERROR: T3 timeout - waiting for reply to 'S1F1W'"));
    const int transaction = ((*sent)[0][9] << 8) | (*sent)[0][10];
    ASSERT_TRUE(peer.deliver(wire_block({.stream = 1, .function = 2, .transaction = transaction})));
    EXPECT_TRUE(owner.wait_notify(nSecsErrorExtraBlock));
    EXPECT_EQ(owner.reads(), 0);
}

TEST_F(Assembly, MessagesGoOutInQueueOrderAndEachFailureEndsOnce) {
    for (const char* text : {"S1F1", "S1F3", "S1F5"}) ASSERT_EQ(line.SendMessage(text), 0);
    for (const int function : {1, 3, 5}) {
        const auto blocks = peer.receive_message();
        ASSERT_TRUE(blocks.has_value());
        EXPECT_EQ((*blocks)[0][4], function);
    }
    ASSERT_TRUE(owner.wait_written(1, 3));
    // Now the peer stops answering: the first fails after its attempts, and
    // the two behind it end with it, each with its own outcome.
    for (const char* text : {"S2F1", "S2F3", "S2F5"}) ASSERT_EQ(line.SendMessage(text), 0);
    ASSERT_TRUE(owner.wait_written(0, 3));
    EXPECT_TRUE(log.wait_contains("Messages were not sent. Clearing Outbox"));
    EXPECT_EQ(owner.written(1), 3);
}

TEST_F(Assembly, AMessageOfMoreThan32767BlocksIsRefused) {
    MessageRecord huge;
    huge.stream = 6;
    huge.function = 11;
    huge.body.assign(32767 * 244 + 1, '\0');
    EXPECT_EQ(line.queue_message(huge), -1);
    EXPECT_EQ(owner.written(0), 1);
    EXPECT_EQ(owner.notifications(), std::vector<int>{nSecsErrorListIncorrect});
    EXPECT_TRUE(peer.quiet(5 * line.read_timeout));
    huge.body.resize(32767 * 244 - 100);  // the most that fits is queued
    EXPECT_EQ(line.queue_message(huge), 0);
    EXPECT_EQ(peer.read_byte(), kENQ);
}

// ---- blocks that continue, restart or interleave messages ---------------------

constexpr int kOurs = -1;  // stands for the system bytes of our own S1F1W

struct Arrival {
    BlockHeader header;
    uint8_t fill;     // every data byte
    size_t size;      // data bytes
};

struct AssemblyRow {
    const char* name;
    bool ask;                               // we send S1F1W first and await its reply
    std::vector<Arrival> blocks;            // what the peer delivers, in order
    std::vector<std::pair<int, Bytes>> delivered;  // function and body of each message, in order
    int extra;                              // blocks reported as extra (19)
    bool discarded;                         // a message in progress was given up for a restart
};

Bytes filled(std::initializer_list<std::pair<uint8_t, size_t>> parts) {
    Bytes out;
    for (const auto& [fill, size] : parts) out.insert(out.end(), size, fill);
    return out;
}

BlockHeader block(int stream, int function, int number, bool last, int transaction) {
    return {.w = false, .stream = stream, .function = function, .e = last, .number = number, .transaction = transaction};
}

const AssemblyRow kAssemblyRows[] = {
    {"AReplyNumberedFromZero", true,
     {{block(1, 2, 0, false, kOurs), 0x10, 244}, {block(1, 2, 1, false, kOurs), 0x11, 244}, {block(1, 2, 2, true, kOurs), 0x12, 3}},
     {{2, filled({{0x10, 244}, {0x11, 244}, {0x12, 3}})}}, 0, false},
    {"APrimaryRestartedWithTheSameSystemBytes", false,
     {{block(6, 11, 1, false, 9), 0x21, 244}, {block(6, 11, 2, false, 9), 0x22, 244},
      {block(6, 11, 1, false, 9), 0x31, 244}, {block(6, 11, 2, false, 9), 0x32, 244}, {block(6, 11, 3, true, 9), 0x33, 5}},
     {{11, filled({{0x31, 244}, {0x32, 244}, {0x33, 5}})}}, 0, true},
    {"ARestartNumberedFromZero", false,
     {{block(6, 11, 0, false, 9), 0x21, 244}, {block(6, 11, 1, false, 9), 0x22, 244},
      {block(6, 11, 0, false, 9), 0x31, 244}, {block(6, 11, 1, true, 9), 0x32, 5}},
     {{11, filled({{0x31, 244}, {0x32, 5}})}}, 0, true},
    {"TwoMessagesInterleaved", false,
     {{block(6, 11, 1, false, 1), 0x41, 244}, {block(6, 11, 1, false, 2), 0x51, 244},
      {block(6, 11, 2, true, 1), 0x42, 7}, {block(6, 11, 2, true, 2), 0x52, 8}},
     {{11, filled({{0x41, 244}, {0x42, 7}})}, {11, filled({{0x51, 244}, {0x52, 8}})}}, 0, false},
    {"APeerPrimaryBetweenTheBlocksOfAReply", true,
     {{block(1, 2, 1, false, kOurs), 0x61, 244}, {block(1, 3, 1, true, 70), 0x71, 2}, {block(1, 2, 2, true, kOurs), 0x62, 4}},
     {{3, filled({{0x71, 2}})}, {2, filled({{0x61, 244}, {0x62, 4}})}}, 0, false},
    // A block that carries the reply's identity but not a first block
    // number is no reply: the reply entry stays for the real one.
    {"ANonFirstSecondaryLeavesTheReplyAwaited", true,
     {{block(1, 2, 2, true, kOurs), 0x81, 1}, {block(1, 2, 1, true, kOurs), 0x82, 2}},
     {{2, filled({{0x82, 2}})}}, 1, false},
    // Next block number and system bytes, but another function: it joins
    // nothing, and the message it seemed to continue keeps waiting for its
    // own next block.
    {"AForeignBlockLeavesTheContinuationAwaited", false,
     {{block(6, 11, 1, false, 9), 0x91, 244}, {block(6, 13, 2, true, 9), 0x92, 1}, {block(6, 11, 2, true, 9), 0x93, 1}},
     {{11, filled({{0x91, 244}, {0x93, 1}})}}, 1, false},
};

class Assembling : public MemoryLineTest, public ::testing::WithParamInterface<AssemblyRow> {};

TEST_P(Assembling, EachDeliveredBodyIsExactlyTheBodySent) {
    const AssemblyRow& row = GetParam();
    start();
    int ours = 0;
    if (row.ask) {
        ASSERT_EQ(line.SendMessage("S1F1W"), 0);
        const auto sent = peer.receive_message();
        ASSERT_TRUE(sent.has_value());
        ours = ((*sent)[0][9] << 8) | (*sent)[0][10];
        ASSERT_TRUE(owner.wait_written(1));
    }
    for (const Arrival& a : row.blocks) {
        BlockHeader h = a.header;
        if (h.transaction == kOurs) h.transaction = ours;
        ASSERT_TRUE(peer.deliver(wire_block(h, Bytes(a.size, a.fill))));
    }
    ASSERT_TRUE(owner.wait_reads(static_cast<int>(row.delivered.size())));
    for (const auto& [function, body] : row.delivered) {
        const std::string got = line.msg.NextMessageByte();
        EXPECT_EQ(line.msg.GetInFunctionID(), function);
        EXPECT_EQ(Bytes(got.begin(), got.end()), body) << "function " << function;
    }
    EXPECT_EQ(log.contains("ERROR: incomplete message discarded. Name: 'S6F11'"), row.discarded);
    // Nothing is left half done: no T4 and no T3 come after the last block.
    std::this_thread::sleep_for(std::chrono::milliseconds(std::max(line.T3.load(), line.T4.load()) + 100));
    EXPECT_EQ(owner.reads(), static_cast<int>(row.delivered.size()));
    EXPECT_EQ(owner.notify_count(nSecsErrorExtraBlock), row.extra);
    EXPECT_EQ(owner.notify_count(nSecsErrorT4), 0);
    EXPECT_EQ(owner.notify_count(nSecsErrorT3), 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, Assembling, ::testing::ValuesIn(kAssemblyRows),
                         [](const auto& info) { return std::string(info.param.name); });

// A block that used nothing up leaves the timers running: the message it
// seemed to continue is discarded when its own T4 runs out.
TEST_F(Assembly, AForeignBlockLeavesT4Running) {
    ASSERT_TRUE(peer.deliver(wire_block(block(6, 11, 1, false, 12), Bytes(244, 1))));
    const auto acked = Clock::now();
    ASSERT_TRUE(peer.deliver(wire_block(block(6, 13, 2, true, 12), Bytes(1, 2))));
    ASSERT_TRUE(owner.wait_notify(nSecsErrorT4));
    EXPECT_TRUE(on_time(ms_since(acked), kT4));
    EXPECT_TRUE(log.wait_contains("ERROR: incomplete message discarded. Name: 'S6F11'"));
}

}  // namespace
}  // namespace tarvo::secs1_test
