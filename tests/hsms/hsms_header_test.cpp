// The 14-byte HSMS length-and-header: building, recognition, reply matching,
// rendering and the bounds of an acceptable length.
#include <gtest/gtest.h>

#include "driver/hsms/hsms_header.h"
#include "hsms_peer.h"

namespace tarvo {
namespace {

using hsms::Header;
using hsms_test::hex;

TEST(HsmsHeader, DataHeaderLayout) {
    MessageRecord m;
    m.r_bit = 1;  // no place in HSMS
    m.w_bit = 1;
    m.device_id = 0xABCD;
    m.stream = 1;
    m.function = 1;
    m.source_id = 0x1234;
    m.transaction_id = 0x5678;
    m.body = std::string(300, 'x');
    const Header h = hsms::make_data_header(m);
    EXPECT_EQ(hex(h), "00 00 01 36 ab cd 81 01 00 00 12 34 56 78");
    EXPECT_EQ(hsms::message_length(h), 310u);
    EXPECT_EQ(hsms::session_id(h), 0xABCD);
    EXPECT_TRUE(hsms::w_bit(h));
    EXPECT_EQ(hsms::stream(h), 1);
    EXPECT_EQ(hsms::function(h), 1);
    EXPECT_EQ(hsms::source_id(h), 0x1234);
    EXPECT_EQ(hsms::transaction_id(h), 0x5678);

    m.w_bit = 0;
    m.stream = 127;
    m.function = 255;
    m.body.clear();
    EXPECT_EQ(hex(hsms::make_data_header(m)), "00 00 00 0a ab cd 7f ff 00 00 12 34 56 78");
}

TEST(HsmsHeader, ControlRecognition) {
    EXPECT_EQ(hex(hsms::make_control_header(hsms::stSeparateReq, 0xFFFF, 0, 2)),
              "00 00 00 0a ff ff 00 00 00 09 00 00 00 02");
    for (int type = 1; type < 256; ++type) {
        EXPECT_TRUE(hsms::is_control_message(hsms::make_control_header(static_cast<uint8_t>(type), 1, 2, 3)));
    }
    Header h = hsms::make_control_header(hsms::stSelectReq, 1, 0, 0);
    EXPECT_FALSE(hsms::is_control_message(hsms_test::with_length(h, 14)));  // has a body
    // Header bytes 2 and 3 carry a select status or a reject reason.
    Header status = h;
    status[9] = hsms::stSelectRsp;
    status[7] = 1;
    EXPECT_TRUE(hsms::is_control_message(status));
    Header reject = h;
    reject[9] = hsms::stRejectReq;
    reject[6] = 5;
    reject[7] = 3;
    EXPECT_TRUE(hsms::is_control_message(reject));
    Header ptype = h;
    ptype[8] = 1;
    EXPECT_FALSE(hsms::is_control_message(ptype));
    EXPECT_FALSE(hsms::is_control_message(hsms::make_control_header(hsms::stData, 1, 0, 0)));
}

TEST(HsmsHeader, RejectCarriesTheRejectedIdsTypeAndReason) {
    const Header rejected = hsms_test::data_header(0x1234, 1, 1, true, 0xA1A2, 0xB1B2, 30);
    EXPECT_EQ(hex(hsms::make_reject_header(rejected, hsms::rjEntityNotSelected)),
              "00 00 00 0a 12 34 00 04 00 07 a1 a2 b1 b2");
    Header ptype = rejected;
    ptype[8] = 9;
    ptype[9] = 5;
    EXPECT_EQ(hex(hsms::make_reject_header(ptype, hsms::rjPTypeNotSupported)),
              "00 00 00 0a 12 34 09 02 00 07 a1 a2 b1 b2");
    EXPECT_EQ(hex(hsms::make_reject_header(ptype, hsms::rjSTypeNotSupported)),
              "00 00 00 0a 12 34 05 01 00 07 a1 a2 b1 b2");
}

TEST(HsmsHeader, ReplyMatchingIgnoresFunctionWBitAndTopSessionBit) {
    const Header sent = hsms_test::data_header(0x0005, 1, 1, true, 0x0102, 0x0304, 0);
    Header reply = hsms_test::data_header(0x8005, 1, 4, false, 0x0102, 0x0304, 20);
    EXPECT_TRUE(hsms::answers(reply, sent));

    Header other_stream = hsms_test::data_header(0x0005, 2, 2, false, 0x0102, 0x0304, 0);
    EXPECT_FALSE(hsms::answers(other_stream, sent));
    Header other_session = hsms_test::data_header(0x0006, 1, 2, false, 0x0102, 0x0304, 0);
    EXPECT_FALSE(hsms::answers(other_session, sent));
    Header session_bit14 = hsms_test::data_header(0x4005, 1, 2, false, 0x0102, 0x0304, 0);
    EXPECT_FALSE(hsms::answers(session_bit14, sent));
    for (size_t i = 10; i < 14; ++i) {
        Header system = hsms_test::data_header(0x0005, 1, 2, false, 0x0102, 0x0304, 0);
        system[i] ^= 1;
        EXPECT_FALSE(hsms::answers(system, sent)) << i;
    }
    Header stype = reply;
    stype[9] = 1;
    EXPECT_FALSE(hsms::answers(stype, sent));
}

TEST(HsmsHeader, LogRendering) {
    const Header h = hsms::make_control_header(hsms::stLinktestReq, 0xFFFF, 0xA, 0xBC);
    EXPECT_EQ(hsms::format_header(h), "0x00 0x00 0x00 0x0a 0xff 0xff 0x00 0x00 0x00 0x05 0x00 0x0a 0x00 0xbc ");
    EXPECT_EQ(hsms::header_name(hsms_test::data_header(1, 1, 2, false, 0, 0, 0)), "S1F2");
}

TEST(HsmsHeader, LengthBounds) {
    EXPECT_FALSE(hsms::length_acceptable(0));
    EXPECT_FALSE(hsms::length_acceptable(9));
    EXPECT_TRUE(hsms::length_acceptable(10));
    EXPECT_TRUE(hsms::length_acceptable(hsms::kMaxMessageLength));
    EXPECT_FALSE(hsms::length_acceptable(hsms::kMaxMessageLength + 1));
    EXPECT_FALSE(hsms::length_acceptable(0xFFFFFFFFu));
    EXPECT_EQ(hsms::kMaxMessageLength, 64u * 1024 * 1024);
}

}  // namespace
}  // namespace tarvo
