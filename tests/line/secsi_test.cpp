#include "driver/line/secsi.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "driver/log/streams_logger.h"
#include "driver/log/notify_code.h"
#include "driver/log/log_mask.h"
#include "tests/line/test_line.h"

namespace tarvo {
namespace {

using testing::RecordingOwner;
using testing::TestLine;

struct SecsiTest : ::testing::Test {
    SecsiTest() { line.SetCQuill1(&owner); }

    // Sends the process log to a fresh temporary file until read_log().
    void start_log() {
        const int fd = mkstemp(log_path);
        ASSERT_GE(fd, 0);
        close(fd);
        create_process_logger(log_path);
    }

    // Stops the process log and returns what it wrote.
    std::string read_log() {
        destroy_process_logger();
        std::ifstream file(log_path);
        std::stringstream content;
        content << file.rdbuf();
        std::remove(log_path);
        return content.str();
    }

    RecordingOwner owner;
    TestLine line;
    char log_path[sizeof "/tmp/tarvo_secsi_test_XXXXXX"] = "/tmp/tarvo_secsi_test_XXXXXX";
};

// Makes `record` the line's current message, as NextMessage would.
void take_as_current(secsi& line, const MessageRecord& record) {
    line.msg.add_received(record);
    line.msg.NextMessage();
}

// An S1F1 W primary message with an empty list.
MessageRecord s1f1_primary() {
    MessageRecord primary;
    primary.stream = 1;
    primary.function = 1;
    primary.w_bit = 1;
    primary.body = std::string("\x01\x00", 2);
    return primary;
}

TEST_F(SecsiTest, NewLineHoldsTheDeclaredValues) {
    EXPECT_EQ(line.line_type.load(), ltSECSI);
    EXPECT_FALSE(line.active_wanted.load());
    EXPECT_FALSE(line.port_opened.load());
    EXPECT_EQ(line.port_in_use.load(), -1);
    EXPECT_EQ(line.conn_mode_new.load(), -1);
    EXPECT_EQ(line.conn_mode_cur.load(), -1);
    EXPECT_EQ(line.hsms_state.load(), 1);
    EXPECT_EQ(line.T1.load(), 500);
    EXPECT_EQ(line.T3.load(), 45000);
    EXPECT_EQ(line.retry.load(), 3);
    EXPECT_EQ(secsi::code_to_baud(line.baud_code.load()), 19200);
    EXPECT_EQ(line.msg.log_mask(), kDefaultLogMask);
    EXPECT_EQ(line.host(), "");
    EXPECT_EQ(line.host_in_use(), "");
    EXPECT_EQ(line.GetPassvSelectedQuan(), 0);
    EXPECT_EQ(line.GetPassvSelectedSession(0), 0);
    EXPECT_EQ(line.msg.owner(), &owner);
}

TEST_F(SecsiTest, SendMessageQueuesThePlannedMessageWithTheOutIdentifiers) {
    EXPECT_TRUE(line.set_out_device_id(5));
    line.set_master(true);
    line.set_out_source_id(7);
    line.set_out_transaction_id(9);

    ASSERT_EQ(line.SendMessage("S2F41 W <L <A 'STOP'> <L>>"), 0);
    const auto queued = line.queued();
    ASSERT_EQ(queued.size(), 1u);
    const MessageRecord& m = queued[0];
    EXPECT_EQ(m.stream, 2);
    EXPECT_EQ(m.function, 41);
    EXPECT_EQ(m.w_bit, 1);
    EXPECT_EQ(m.r_bit, 1);
    EXPECT_EQ(m.device_id, 5);
    EXPECT_EQ(m.source_id, 7);
    EXPECT_EQ(m.transaction_id, 9);
    EXPECT_EQ(m.body, std::string("\x01\x02\x41\x04STOP\x01\x00", 10));
    EXPECT_TRUE(owner.events().empty());
}

TEST_F(SecsiTest, ReplyAnswersTheCurrentMessageThenTheOutIdentifiersReturn) {
    line.set_out_device_id(1);
    line.set_out_source_id(2);
    line.set_out_transaction_id(3);
    MessageRecord primary = s1f1_primary();
    primary.r_bit = 0;
    primary.device_id = 33;
    primary.source_id = 44;
    primary.transaction_id = 55;
    take_as_current(line, primary);

    ASSERT_EQ(line.Reply("S1F2 <L>"), 0);
    ASSERT_EQ(line.SendMessage("S1F3 W"), 0);

    const auto queued = line.queued();
    ASSERT_EQ(queued.size(), 2u);
    const MessageRecord& reply = queued[0];
    EXPECT_EQ(reply.stream, 1);
    EXPECT_EQ(reply.function, 2);
    EXPECT_EQ(reply.w_bit, 0);
    EXPECT_EQ(reply.r_bit, 1) << "a reply goes the other way";
    EXPECT_EQ(reply.device_id, 33);
    EXPECT_EQ(reply.source_id, 44);
    EXPECT_EQ(reply.transaction_id, 55);

    const MessageRecord& next = queued[1];
    EXPECT_EQ(next.r_bit, 0);
    EXPECT_EQ(next.device_id, 1);
    EXPECT_EQ(next.source_id, 2);
    EXPECT_EQ(next.transaction_id, 3);
}

TEST_F(SecsiTest, RefusedTextIsNotQueuedAndEndsInSeventeenThenWrittenZero) {
    ASSERT_NO_FATAL_FAILURE(start_log());

    ASSERT_EQ(line.SendMessage("S1F1 W <L>"), 0);
    line.msg.set_log_mask(lmMsgGeneral);  // either of the record's bits lets it through
    EXPECT_EQ(line.SendMessage("S200F1 W <L>"), -1);
    EXPECT_EQ(line.Reply("S1F1 <X 1>"), -1);
    line.msg.set_log_mask(0);
    EXPECT_EQ(line.SendMessage("S1F999"), -1);  // refused, reported, but not recorded

    const std::string log = read_log();

    EXPECT_EQ(line.queued().size(), 1u) << "only the planned message goes out, not a stale copy";
    EXPECT_EQ(owner.events(), (std::vector<std::string>{"notify 17", "written 0", "notify 17", "written 0",
                                                        "notify 17", "written 0"}));
    EXPECT_NE(log.find("ERROR: message not planned, SML text cannot be encoded: 'S200F1 W <L>'"), std::string::npos)
        << log;
    EXPECT_NE(log.find("ERROR: message not planned, SML text cannot be encoded: 'S1F1 <X 1>'"), std::string::npos)
        << log;
    EXPECT_EQ(log.find("'S1F999'"), std::string::npos) << log;
}

TEST_F(SecsiTest, RecordOfAHugeRefusedTextIsCut) {
    ASSERT_NO_FATAL_FAILURE(start_log());
    const std::string text = "S300F1 <A '" + std::string(100000, 'x') + "'>";
    EXPECT_EQ(line.SendMessage(text), -1);
    const std::string log = read_log();
    const size_t at = log.find("S300F1 <A 'xxx");
    ASSERT_NE(at, std::string::npos) << log.substr(0, 300);
    EXPECT_LT(log.size(), 4096u);
    EXPECT_NE(log.find("xxx...'", at), std::string::npos);
}

TEST_F(SecsiTest, RefusedReplyStillRestoresTheOutIdentifiers) {
    line.set_out_source_id(8);
    MessageRecord primary = s1f1_primary();
    primary.source_id = 77;
    take_as_current(line, primary);
    EXPECT_EQ(line.Reply("S1F2 <X>"), -1);
    ASSERT_EQ(line.SendMessage("S1F3"), 0);
    ASSERT_EQ(line.queued().size(), 1u);
    EXPECT_EQ(line.queued()[0].source_id, 8);
}

TEST_F(SecsiTest, SetOutDeviceIdStoresEvenWhenTheLineRefusesAndAnswersForTheLine) {
    line.accept_device_id(false);
    EXPECT_FALSE(line.set_out_device_id(4097));
    EXPECT_EQ(line.out_device_id.load(), 4097);
    line.accept_device_id(true);
    EXPECT_TRUE(line.set_out_device_id(12));
    EXPECT_EQ(line.slot7_calls(), (std::vector<int>{4097, 12}));
    ASSERT_EQ(line.SendMessage("S1F1 W"), 0);
    EXPECT_EQ(line.queued().back().device_id, 12);
}

TEST_F(SecsiTest, EventsGoToTheOwnerAndNowhereWithoutOne) {
    line.raise_read();
    line.raise_written(1);
    line.raise_written(0);
    line.raise_notify(nSecsErrorT3);
    EXPECT_EQ(owner.events(), (std::vector<std::string>{"read", "written 1", "written 0", "notify 12"}));

    line.SetCQuill1(nullptr);
    line.raise_read();
    line.raise_notify(nSecsErrorListIncorrect);
    EXPECT_EQ(line.SendMessage("S200F1"), -1);  // reports into the void, no crash
    EXPECT_EQ(owner.events().size(), 4u);
}

TEST_F(SecsiTest, HostStrings) {
    line.set_host("eq-17.fab.local");
    line.set_host_in_use("10.1.2.3");
    EXPECT_EQ(line.host(), "eq-17.fab.local");
    EXPECT_EQ(line.host_in_use(), "10.1.2.3");
}

TEST(SecsiBaudTable, EveryCodeMapsBothWays) {
    const int32_t rates[] = {50,   75,   110,  134,   150,   300,   600,    1200,   1800,   2400,
                             4800, 7200, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
    for (int32_t code = 0; code < 20; ++code) {
        EXPECT_EQ(secsi::code_to_baud(code), rates[code]) << "code " << code;
        EXPECT_EQ(secsi::baud_to_code(rates[code]), code) << "rate " << rates[code];
    }
}

TEST(SecsiBaudTable, UnknownRatesAndCodes) {
    for (int32_t rate : {14400, 0, -9600, 1, 9601, 1000000, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(secsi::baud_to_code(rate), 12) << "rate " << rate;
    }
    for (int32_t code : {-1, 20, 21, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(secsi::code_to_baud(code), 0) << "code " << code;
    }
}

}  // namespace
}  // namespace tarvo
