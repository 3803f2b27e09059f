// Rendering received messages as SML text and as raw bytes.
#include <gtest/gtest.h>

#include <cstdint>

#include "driver/messages/secsii.h"
#include "test_util.h"

namespace tarvo {
namespace {

using test::bytes;

TEST(SmlRendering, Examples) {
    EXPECT_EQ(secsii::render_sml(""), "");
    EXPECT_EQ(secsii::render_sml(bytes({0x01, 0x00})), "<L \n>\n");
    EXPECT_EQ(secsii::render_sml(bytes({0x21, 0x02, 0x01, 0xFF})), "<B  0x01 0xFF>\n");
    EXPECT_EQ(secsii::render_sml(bytes({0x25, 0x02, 0x01, 0x00})), "<Bool 1 0 >\n");
    EXPECT_EQ(secsii::render_sml(bytes({0x25, 0x03, 0xFF, 0x00, 0x80})), "<Bool 1 0 1 >\n") << "any non-zero byte is true";
    EXPECT_EQ(secsii::render_sml(bytes({0x41, 0x00})), "<A ''>\n");
    EXPECT_EQ(secsii::render_sml(bytes({0xB1, 0x00})), "<U4 >\n");
    EXPECT_EQ(secsii::render_sml(bytes({0x65, 0x01, 0xFF})), "<I1  -1>\n");
    EXPECT_EQ(secsii::render_sml(bytes({0x69, 0x02, 0xFF, 0xFE})), "<I2  -2>\n");
    EXPECT_EQ(secsii::render_sml(bytes({0x01, 0x01, 0x01, 0x01, 0x41, 0x01, 0x78})),
              "<L \n\t<L \n\t\t<A 'x'>\n\t>\n>\n");
    EXPECT_EQ(secsii::render_sml(bytes({0x01, 0x01, 0x01, 0x00})), "<L \n\t<L \n\t>\n>\n");
    EXPECT_EQ(secsii::render_sml(bytes({0x01, 0x02, 0x41, 0x02, 0x61, 0x62, 0xA5, 0x02, 0x01, 0x02})),
              "<L \n\t<A 'ab'>\n\t<U1  1 2>\n>\n");
}

TEST(SmlRendering, MeasuredLengthIsTheRenderedLength) {
    std::string nested;
    for (int i = 0; i < 100; ++i) nested += bytes({0x01, 0x01});
    nested += bytes({0x41, 0x01, 0x78});
    const std::string cases[] = {
        "",
        bytes({0x01, 0x00}),
        bytes({0x21, 0x02, 0x01, 0xFF}),
        bytes({0x25, 0x03, 0x01, 0x00, 0x07}),
        bytes({0x41, 0x04, 0x61, 0x00, 0x62, 0x00}),  // zero bytes as 0x00 tokens
        bytes({0x81, 0x08, 0x40, 0x8F, 0x40, 0, 0, 0, 0, 0}),
        bytes({0x91, 0x04, 0x3F, 0xC0, 0x00, 0x00}),
        bytes({0xA9, 0x04, 0x00, 0x01, 0xFF, 0xFF}),
        bytes({0x01, 0x02, 0x41, 0x02, 0x61, 0x62, 0xA5, 0x02, 0x01, 0x02}),
        bytes({0x01, 0x03, 0x41}),  // malformed: nothing
        nested,
    };
    for (const std::string& body : cases) {
        EXPECT_EQ(secsii::sml_length(body), secsii::render_sml(body).size()) << test::hex(body);
    }
}

TEST(SmlRendering, AMessageWhoseTextCannotBeHandedOverStaysFirstInTheInbox) {
    secsii m;
    m.set_log_mask(0);
    MessageRecord first;
    first.stream = 6;
    first.function = 11;
    first.body = bytes({0x01, 0x01, 0x41, 0x03, 0x61, 0x62, 0x63});
    MessageRecord second = first;
    second.function = 13;
    m.add_received(first);
    m.add_received(second);
    const std::string text = "S6F11\n<L \n\t<A 'abc'>\n>\n";
    std::string got;
    auto accept = [&](const std::string& t) {
        got = t;
        return true;
    };
    // Too long for the caller's string, or refused by it: nothing changes.
    EXPECT_EQ(m.NextMessageSML(text.size() - 1, accept), secsii::SmlTake::too_long);
    EXPECT_EQ(m.NextMessageSML(SIZE_MAX, [](const std::string&) { return false; }), secsii::SmlTake::refused);
    EXPECT_EQ(m.inbox_count(), 2u);
    EXPECT_EQ(m.GetInFunctionID(), 0);
    EXPECT_TRUE(got.empty());
    // Exactly long enough: taken, in order.
    EXPECT_EQ(m.NextMessageSML(text.size(), accept), secsii::SmlTake::taken);
    EXPECT_EQ(got, text);
    EXPECT_EQ(m.GetInFunctionID(), 11);
    EXPECT_EQ(m.NextMessageSML(SIZE_MAX, accept), secsii::SmlTake::taken);
    EXPECT_EQ(m.GetInFunctionID(), 13);
    EXPECT_EQ(m.NextMessageSML(SIZE_MAX, accept), secsii::SmlTake::empty);
    EXPECT_EQ(got, "no more messages");
}

TEST(SmlRendering, EveryNumericType) {
    EXPECT_EQ(secsii::render_sml(bytes({0x61, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE})), "<I8  -2>\n");
    EXPECT_EQ(secsii::render_sml(bytes({0x71, 0x04, 0xFF, 0xFF, 0xFF, 0xFD})), "<I4  -3>\n");
    EXPECT_EQ(secsii::render_sml(bytes({0x91, 0x04, 0x3F, 0xC0, 0x00, 0x00})), "<F4  1.500000>\n");
    EXPECT_EQ(secsii::render_sml(bytes({0x81, 0x08, 0x40, 0x8F, 0x40, 0, 0, 0, 0, 0})), "<F8  1.000000e+03>\n");
    EXPECT_EQ(secsii::render_sml(bytes({0xA1, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})),
              "<U8  18446744073709551615>\n");
    EXPECT_EQ(secsii::render_sml(bytes({0xA5, 0x01, 0xFF})), "<U1  255>\n");
    EXPECT_EQ(secsii::render_sml(bytes({0xA9, 0x04, 0x00, 0x01, 0xFF, 0xFF})), "<U2  1 65535>\n");
    EXPECT_EQ(secsii::render_sml(bytes({0xB1, 0x04, 0xFF, 0xFF, 0xFF, 0xFF})), "<U4  4294967295>\n");
}

TEST(SmlRendering, Choices) {
    // A byte that cannot stand between apostrophes follows as a 0xHH token.
    EXPECT_EQ(secsii::render_sml(bytes({0x41, 0x03, 0x61, 0x00, 0x62})), "<A 'a' 0x00 'b'>\n");
    EXPECT_EQ(secsii::render_sml(bytes({0x41, 0x02, 0x27, 0x7F})), "<A '' 0x27 0x7F>\n");
    EXPECT_EQ(secsii::render_sml(bytes({0x41, 0x03, 0x0A, 0xE9, 0x27})), "<A '' 0x0A '\xE9' 0x27>\n");
    // JIS is shown like ASCII so the planner reads it back.
    EXPECT_EQ(secsii::render_sml(bytes({0x45, 0x02, 0x1B, 0x24})), "<J '' 0x1B '$'>\n");
    // Unknown type: no content.
    EXPECT_EQ(secsii::render_sml(bytes({0xFD, 0x01, 0x55})), "<>\n");
    // Bytes after the root item are not shown.
    EXPECT_EQ(secsii::render_sml(bytes({0x01, 0x00, 0x41, 0x01, 0x78})), "<L \n>\n");
    EXPECT_EQ(secsii::render_sml(bytes({0xA5, 0x01, 0x01, 0xA5, 0x01, 0x02})), "<U1  1>\n");
    // A length past the end is cut at the end; an incomplete value is dropped.
    EXPECT_EQ(secsii::render_sml(bytes({0x41, 0x09, 0x61})), "<A 'a'>\n");
    EXPECT_EQ(secsii::render_sml(bytes({0xA9, 0x03, 0x00, 0x01, 0x02})), "<U2  1>\n");
    // A list whose sub-items run out with the body stays open.
    EXPECT_EQ(secsii::render_sml(bytes({0x01, 0x02, 0xA5, 0x01, 0x01})), "<L \n\t<U1  1>\n");
}

TEST(SmlRendering, BadHeadersGiveNothing) {
    EXPECT_EQ(secsii::render_sml(bytes({0x41})), "");
    EXPECT_EQ(secsii::render_sml(bytes({0x40, 0x00})), "");  // no length bytes
    EXPECT_EQ(secsii::render_sml(bytes({0x01, 0x02, 0x41, 0x01, 0x78, 0x43, 0x00})), "");
    EXPECT_EQ(secsii::render_sml(bytes({0x00, 0x00})), "");
}

TEST(SmlRendering, IndentationIsBounded) {
    std::string body;
    const int depth = 100000;
    for (int i = 0; i < depth; ++i) body += bytes({0x01, 0x01});
    body += bytes({0x01, 0x00});
    const std::string text = secsii::render_sml(body);
    // Each list opens and closes on a line of at most the limit's tabs.
    EXPECT_LE(text.size(), static_cast<size_t>(depth + 1) * 2 * (secsii::kMaxNestingDepth + 5));
    EXPECT_EQ(text.substr(0, 8), "<L \n\t<L ");
    EXPECT_EQ(text.substr(text.size() - 3), "\n>\n");
}

TEST(SmlRendering, NextMessageSmlAndByte) {
    secsii s;
    EXPECT_EQ(s.NextMessageSML(), "no more messages");
    EXPECT_EQ(s.NextMessageByte(), "no more messages");

    s.add_received(MessageRecord{1, 1, 3, 3, 1, 4, 5, bytes({0x01, 0x02, 0x41, 0x02, 0x61, 0x62, 0xA5, 0x02, 0x01, 0x02})});
    s.add_received(MessageRecord{0, 1, 0, 1, 1, 0, 0, ""});
    s.add_received(MessageRecord{0, 0, 0, 11, 6, 0, 0, bytes({0x01, 0x01, 0x43, 0x00})});
    s.add_received(MessageRecord{0, 0, 0, 2, 1, 0, 0, bytes({0x21, 0x02, 0x00, 0x41})});
    s.add_received(MessageRecord{0, 1, 0, 1, 1, 0, 0, ""});
    s.add_received(MessageRecord{0, 0, 0, 1, 1, 0, 0, bytes({0x01, 0x00})});
    EXPECT_EQ(s.inbox_count(), 6u);

    EXPECT_EQ(s.NextMessageSML(), "S1F3W\n<L \n\t<A 'ab'>\n\t<U1  1 2>\n>\n");
    EXPECT_EQ(s.GetInStreamID(), 1);
    EXPECT_EQ(s.GetInFunctionID(), 3);
    EXPECT_EQ(s.GetInWBit(), 1);
    EXPECT_EQ(s.GetInRBit(), 1);
    EXPECT_EQ(s.GetInDeviceID(), 3);
    EXPECT_EQ(s.GetInSourceID(), 4);
    EXPECT_EQ(s.GetInTransactionID(), 5);
    EXPECT_EQ(s.NextMessageSML(), "S1F1W\n");
    EXPECT_EQ(s.NextMessageSML(), "S6F11\n");  // bad header: the name line alone
    EXPECT_EQ(s.NextMessageByte(), bytes({0x21, 0x02, 0x00, 0x41}));
    EXPECT_EQ(s.NextMessageByte(), "");
    EXPECT_EQ(s.GetInFunctionID(), 1);
    EXPECT_EQ(s.NextMessage(), 0);
    EXPECT_EQ(s.GetElemGnrlQuan(), 1);

    s.add_received(MessageRecord{0, 0, 0, 4, 2, 0, 0, bytes({0x01, 0x00})});
    EXPECT_EQ(s.NextMessageSML(), "S2F4\n<L \n>\n");
    EXPECT_EQ(s.GetElemGnrlQuan(), 0);
    s.add_received(MessageRecord{0, 0, 0, 4, 2, 0, 0, bytes({0x01, 0x00})});
    ASSERT_EQ(s.NextMessage(), 0);
    EXPECT_EQ(s.GetElemGnrlQuan(), 1);
    s.add_received(MessageRecord{0, 0, 0, 4, 2, 0, 0, bytes({0x01, 0x00})});
    EXPECT_EQ(s.NextMessageByte(), bytes({0x01, 0x00}));
    EXPECT_EQ(s.GetElemGnrlQuan(), 0);

    // An empty inbox keeps the header of the message taken last.
    EXPECT_EQ(s.NextMessageSML(), "no more messages");
    EXPECT_EQ(s.GetInStreamID(), 2);
    EXPECT_EQ(s.GetInFunctionID(), 4);
}

// What the renderer writes, the planner reads back to the same body (apart
// from the documented exceptions).
TEST(SmlRendering, RenderedTextPlansTheSameBody) {
    const std::string texts[] = {
        "S6F11W <L <U4 1> <U4 4000> <L <L <U4 7> <L <A 'lot-7'> <I8 -9223372036854775808 9> <Bool TRUE false>>>>>",
        "S1F2 <L <B 0x00 0xFF 0x7f> <A ''> <L> <J 'jis'> <I1 -128 127> <I2 -32768> <I4 -2147483648>>",
        "S2F41 W <L <U1 0 255> <U2 65535> <U8 18446744073709551615> <F4 1.5 -0.25> <L <L <L>>>>",
        "S1F1 W",
        "S127F255",
    };
    for (const std::string& text : texts) {
        secsii s;
        ASSERT_TRUE(s.SetList(text)) << text;
        MessageRecord planned = s.prepared_copy();
        s.add_received(planned);
        const std::string sml = s.NextMessageSML();
        ASSERT_TRUE(s.SetList(sml)) << sml;
        const MessageRecord again = s.prepared_copy();
        EXPECT_EQ(test::hex(again.body), test::hex(planned.body)) << sml;
        EXPECT_EQ(again.stream, planned.stream);
        EXPECT_EQ(again.function, planned.function);
        EXPECT_EQ(again.w_bit, planned.w_bit);
    }
}

}  // namespace
}  // namespace tarvo
