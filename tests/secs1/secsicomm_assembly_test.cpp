// SECS-I message assembly against a scripted pty peer: messages split into
// blocks and collected from them, duplicates and extra blocks, T3 and T4,
// replies matched only by secondaries, and every send ending once.
#include <gtest/gtest.h>

#include <string>
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

class Assembly : public SerialLineTest {
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
    ASSERT_TRUE(owner.wait_notify(nSecsErrorT4));
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
    ASSERT_TRUE(sent.has_value());
    ASSERT_TRUE(owner.wait_notify(nSecsErrorT3));
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

}  // namespace
}  // namespace tarvo::secs1_test
