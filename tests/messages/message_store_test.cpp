// The store: inbox order, the current header, the prepared message.
#include <gtest/gtest.h>

#include "driver/log/log_mask.h"
#include "driver/messages/secsii.h"
#include "test_util.h"

namespace tarvo {
namespace {

MessageRecord msg(int stream, int function, int w = 0) {
    MessageRecord m;
    m.stream = stream;
    m.function = function;
    m.w_bit = static_cast<uint8_t>(w);
    m.body = test::bytes({0x01, 0x00});
    return m;
}

TEST(MessageStore, Construction) {
    secsii s;
    EXPECT_EQ(s.log_mask(), 5199);
    EXPECT_EQ(s.owner(), nullptr);
    EXPECT_EQ(s.inbox_count(), 0u);
    EXPECT_EQ(s.GetInDeviceID(), 0);
    EXPECT_EQ(s.GetInStreamID(), 0);
    EXPECT_EQ(s.GetInFunctionID(), 0);
    EXPECT_EQ(s.GetInWBit(), 0);
    EXPECT_EQ(s.GetInSourceID(), 0);
    EXPECT_EQ(s.GetInTransactionID(), 0);
    EXPECT_EQ(s.GetInRBit(), 0);
    const MessageRecord p = s.prepared_copy();
    EXPECT_EQ(p.r_bit + p.w_bit + p.device_id + p.function + p.stream + p.source_id + p.transaction_id, 0);
    EXPECT_TRUE(p.body.empty());
    EXPECT_TRUE(s.log_enabled(lmMsgNameSend | lmFullMsgSend));
    EXPECT_FALSE(s.log_enabled(lmFullMsgSend | lmFullMsgReceived));
}

TEST(MessageStore, FirstInFirstOutWhicheverWayTaken) {
    for (int way = 0; way < 3; ++way) {
        secsii s;
        s.add_received(msg(1, 1, 1));
        const MessageRecord second = msg(2, 1);
        s.add_received(second);
        s.add_received(msg(6, 11, 1));
        EXPECT_EQ(s.inbox_count(), 3u);
        int order[3];
        for (int i = 0; i < 3; ++i) {
            const int w = (way + i) % 3;  // mix the three ways of taking
            if (w == 0) s.NextMessage();
            if (w == 1) s.NextMessageSML();
            if (w == 2) s.NextMessageByte();
            order[i] = s.GetInStreamID();
        }
        EXPECT_EQ(order[0], 1);
        EXPECT_EQ(order[1], 2);
        EXPECT_EQ(order[2], 6);
        EXPECT_EQ(s.GetInFunctionID(), 11);
        EXPECT_EQ(s.GetInWBit(), 1);
        EXPECT_EQ(s.inbox_count(), 0u);
    }
}

TEST(MessageStore, HeaderBitsReadAsZeroOrOne) {
    secsii s;
    MessageRecord m = msg(1, 1);
    m.w_bit = 0x80;
    m.r_bit = 2;
    m.device_id = 0x7FFF;
    m.source_id = 0xFFFF;
    m.transaction_id = 0x1234;
    s.add_received(m);
    s.NextMessageByte();
    EXPECT_EQ(s.GetInWBit(), 1);
    EXPECT_EQ(s.GetInRBit(), 1);
    EXPECT_EQ(s.GetInDeviceID(), 0x7FFF);
    EXPECT_EQ(s.GetInSourceID(), 0xFFFF);
    EXPECT_EQ(s.GetInTransactionID(), 0x1234);
}

TEST(MessageStore, PreparedMessageSettersAndCopy) {
    secsii s;
    s.set_out_device_id(0x1234);
    s.set_out_rbit(1);
    s.set_out_source_id(77);
    s.set_out_transaction_id(65535);
    ASSERT_TRUE(s.SetList("S1F1 W <L>"));
    MessageRecord copy = s.prepared_copy();
    EXPECT_EQ(copy.device_id, 0x1234);
    EXPECT_EQ(copy.r_bit, 1);
    EXPECT_EQ(copy.source_id, 77);
    EXPECT_EQ(copy.transaction_id, 65535);
    // The copy is independent; the prepared message keeps its content.
    copy.body.clear();
    EXPECT_EQ(s.prepared_copy().body, test::bytes({0x01, 0x00}));
    // After a reply the line restores its own identifiers with the setters.
    s.add_received(MessageRecord{1, 1, 9, 1, 1, 8, 7, ""});
    s.NextMessage();
    ASSERT_TRUE(s.prepare_reply("S1F2 <L>"));
    EXPECT_EQ(s.prepared_copy().device_id, 9);
    s.set_out_device_id(0x1234);
    s.set_out_rbit(1);
    s.set_out_source_id(77);
    s.set_out_transaction_id(65535);
    ASSERT_TRUE(s.SetList("S1F3 W"));
    copy = s.prepared_copy();
    EXPECT_EQ(copy.device_id, 0x1234);
    EXPECT_EQ(copy.r_bit, 1);
    EXPECT_EQ(copy.source_id, 77);
    EXPECT_EQ(copy.transaction_id, 65535);
}

TEST(MessageStore, MessageName) {
    EXPECT_EQ(message_name(1, 1, true), "S1F1W");
    EXPECT_EQ(message_name(6, 11, false), "S6F11");
    EXPECT_EQ(message_name(msg(127, 255, 1)), "S127F255W");
}

}  // namespace
}  // namespace tarvo
