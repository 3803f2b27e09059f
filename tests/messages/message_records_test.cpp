// The log records of the message layer and the bits that govern them.
#include <gtest/gtest.h>

#include "driver/log/streams_logger.h"
#include "driver/log/log_mask.h"
#include "driver/messages/secsii.h"
#include "test_util.h"

namespace tarvo {
namespace {

using test::bytes;

class MessageRecords : public ::testing::Test {
protected:
    void SetUp() override {
        create_process_logger(file_.path());
        mark_ = 0;
    }
    void TearDown() override { destroy_process_logger(); }

    // Records written since the last call, time stamps removed.
    std::string new_records() {
        const std::string all = test::read_file(file_.path());
        std::string fresh = all.substr(mark_);
        mark_ = all.size();
        return test::strip_stamps(fresh);
    }

    test::TempFile file_{"tarvo-records"};
    size_t mark_ = 0;
};

TEST_F(MessageRecords, PlanningRecordUnderFullMsgSend) {
    secsii s;
    new_records();
    s.SetList("S1F1 W");
    EXPECT_EQ(new_records(), "");  // 5199 lacks bit 0x80
    s.set_log_mask(lmFullMsgSend);
    s.SetList("S1F1 W <A 'x'>");
    s.SetList("S1F1 <Q>");  // a refused text is recorded all the same
    EXPECT_EQ(new_records(), "Planning message. Full: 'S1F1 W <A 'x'>'\nPlanning message. Full: 'S1F1 <Q>'\n");
}

TEST_F(MessageRecords, ReceivedRecordsUnderFullMsgReceived) {
    secsii s;
    new_records();
    s.add_received(MessageRecord{0, 1, 0, 3, 1, 0, 0, bytes({0x01, 0x02, 0x41, 0x02, 0x61, 0x62, 0xA5, 0x02, 0x01, 0x02})});
    s.NextMessage();
    EXPECT_EQ(new_records(), "");

    s.set_log_mask(lmFullMsgReceived);
    s.add_received(MessageRecord{0, 1, 0, 3, 1, 0, 0, bytes({0x01, 0x02, 0x41, 0x02, 0x61, 0x62, 0xA5, 0x02, 0x01, 0x02})});
    s.add_received(MessageRecord{0, 0, 0, 2, 1, 0, 0, bytes({0x01, 0x02, 0x21, 0x02, 0x00, 0x41, 0x41, 0x00})});
    s.NextMessageSML();
    EXPECT_EQ(new_records(), "Received message in SML format:\nS1F3W\n<L \n\t<A 'ab'>\n\t<U1  1 2>\n>\n\n");
    s.NextMessage();
    const std::string table =
        "Parsed message array is: \ntype\tquant\tpointer\t\tvalue\n"
        "'1'\t'2'\t'0'\t\t''\n"
        "'2'\t'2'\t'1'\t\t'_'\n"
        "'4'\t'0'\t'2'\t\t''\n\n";
    EXPECT_EQ(new_records(), table);
    // Also with an empty inbox: the array as it stands, and "no more messages".
    s.NextMessage();
    EXPECT_EQ(new_records(), table);
    s.NextMessageSML();
    EXPECT_EQ(new_records(), "Received message in SML format:\nno more messages\n");
}

TEST_F(MessageRecords, LogHelperBits) {
    secsii s;
    new_records();
    s.set_log_mask(0);
    s.log(0, "always %d", 1);
    s.log(lmLine, "line");
    s.set_log_mask(lmPortGeneral);
    s.log(lmPortGeneral | lmPortDetailed, "port %s", "opened");
    s.log(lmTimeout | lmMsgGeneral, "timeout");
    EXPECT_EQ(new_records(), "always 1\nport opened\n");
}

TEST_F(MessageRecords, TooDeepMessageIsRecorded) {
    secsii s;
    s.set_log_mask(lmMsgGeneral);
    std::string body;
    for (int i = 0; i <= secsii::kMaxNestingDepth; ++i) body += bytes({0x01, 0x01});
    s.add_received(MessageRecord{0, 0, 0, 11, 6, 0, 0, body});
    new_records();
    EXPECT_EQ(s.NextMessage(), 0);
    EXPECT_EQ(new_records(), "ERROR: Received message S6F11 is nested deeper than 64 levels; deeper items are not listed\n");
}

}  // namespace
}  // namespace tarvo
