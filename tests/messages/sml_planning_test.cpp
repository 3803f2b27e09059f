// Planning messages from SML text: message names, item encodings, the
// forgiving scans and the texts that are refused.
#include <gtest/gtest.h>

#include <clocale>

#include "driver/messages/secsii.h"
#include "test_util.h"

namespace tarvo {
namespace {

using test::bytes;
using test::hex;

struct Planned {
    bool ok;
    MessageRecord m;
};

Planned plan(const std::string& text) {
    secsii s;
    Planned p;
    p.ok = s.SetList(text);
    p.m = s.prepared_copy();
    return p;
}

std::string body_of(const std::string& text) {
    Planned p = plan(text);
    EXPECT_TRUE(p.ok) << text;
    return hex(p.m.body);
}

TEST(SmlPlanning, MessageNameAndWBit) {
    Planned p = plan("S1F1 W");
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(p.m.stream, 1);
    EXPECT_EQ(p.m.function, 1);
    EXPECT_EQ(p.m.w_bit, 1);
    EXPECT_TRUE(p.m.body.empty());

    p = plan("S1F2 <L>");
    EXPECT_EQ(p.m.w_bit, 0);
    EXPECT_EQ(hex(p.m.body), "01 00");

    p = plan("S2F41 W <L <A 'STOP'> <L>>");
    EXPECT_EQ(p.m.stream, 2);
    EXPECT_EQ(p.m.function, 41);
    EXPECT_EQ(p.m.w_bit, 1);
    EXPECT_EQ(hex(p.m.body), "01 02 41 04 53 54 4F 50 01 00");

    p = plan("S1F13 W <L>");
    EXPECT_EQ(p.m.function, 13);
    EXPECT_EQ(p.m.w_bit, 1);
    EXPECT_EQ(hex(p.m.body), "01 00");

    // Lower case, no spaces, W directly after the number, W inside the body.
    p = plan("s6f11w<L>");
    EXPECT_EQ(p.m.stream, 6);
    EXPECT_EQ(p.m.function, 11);
    EXPECT_EQ(p.m.w_bit, 1);
    p = plan("S1F3 <A 'W'>");
    EXPECT_EQ(p.m.w_bit, 0);
    EXPECT_EQ(hex(p.m.body), "41 01 57");
}

TEST(SmlPlanning, ForgivingNameScans) {
    Planned p = plan("hello world");  // no "s": every scan runs to the end
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(p.m.stream, 0);
    EXPECT_EQ(p.m.function, 0);
    EXPECT_EQ(p.m.w_bit, 0);
    EXPECT_TRUE(p.m.body.empty());

    p = plan("S5 <L>");  // an S but no F: the scan for F runs to the end
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(p.m.stream, 5);
    EXPECT_EQ(p.m.function, 0);
    EXPECT_TRUE(p.m.body.empty());

    p = plan("  ident: S12 then F7 W  <U1 3>");  // anything before the letters is skipped
    EXPECT_EQ(p.m.stream, 12);
    EXPECT_EQ(p.m.function, 7);
    EXPECT_EQ(p.m.w_bit, 1);
    EXPECT_EQ(hex(p.m.body), "A5 01 03");

    p = plan("SxFy");  // letters without digits give 0
    EXPECT_EQ(p.m.stream, 0);
    EXPECT_EQ(p.m.function, 0);
}

TEST(SmlPlanning, ItemExamples) {
    EXPECT_EQ(body_of("S1F14 <L <B 0x00> <L>>"), "01 02 21 01 00 01 00");
    EXPECT_EQ(body_of("S1F1 <A 'A>B'>"), "41 03 41 3E 42");
    EXPECT_EQ(body_of("S1F1 <U2 1 256 65535>"), "A9 06 00 01 01 00 FF FF");
    EXPECT_EQ(body_of("S1F1 <I1 -1>"), "65 01 FF");
    EXPECT_EQ(body_of("S1F1 <U4 7>"), "B1 04 00 00 00 07");
    EXPECT_EQ(body_of("S1F1 <F4 1.5>"), "91 04 3F C0 00 00");
    EXPECT_EQ(body_of("S1F1 <F8 -2>"), "81 08 C0 00 00 00 00 00 00 00");
    EXPECT_EQ(body_of("S1F1 <Bool TRUE false 0x01>"), "25 03 01 00 01");
    EXPECT_EQ(body_of("S1F1 <T 1 0 1>"), "25 03 01 00 01");
    EXPECT_EQ(body_of("S1F1 <B 0x0A 10 0xff>"), "21 03 0A 0A FF");
    EXPECT_EQ(body_of("S1F1 W <L> <A 'x'>"), "01 00");
    EXPECT_EQ(body_of("S1F1 <J ''>"), "45 00");
    EXPECT_EQ(body_of("S1F1 <A ''>"), "41 00");
}

TEST(SmlPlanning, EveryNumericFormat) {
    EXPECT_EQ(body_of("S1F1 <I2 -2 300>"), "69 04 FF FE 01 2C");
    EXPECT_EQ(body_of("S1F1 <I4 -1 16909060>"), "71 08 FF FF FF FF 01 02 03 04");
    EXPECT_EQ(body_of("S1F1 <I8 -9223372036854775808>"), "61 08 80 00 00 00 00 00 00 00");
    EXPECT_EQ(body_of("S1F1 <U1 -1 255 256>"), "A5 03 FF FF 00");
    EXPECT_EQ(body_of("S1F1 <U4 4294967295>"), "B1 04 FF FF FF FF");
    EXPECT_EQ(body_of("S1F1 <U8 18446744073709551615>"), "A1 08 FF FF FF FF FF FF FF FF");
    EXPECT_EQ(body_of("S1F1 <F8 1e3>"), "81 08 40 8F 40 00 00 00 00 00");
    EXPECT_EQ(body_of("S1F1 <F4 +2.5E0>"), "91 04 40 20 00 00");
    // Conversions stop at the first character that is not part of the number.
    EXPECT_EQ(body_of("S1F1 <I4 1.5 1,000 5-3>"), "71 0C 00 00 00 01 00 00 00 01 00 00 00 05");
    // Overflow wraps modulo the width.
    EXPECT_EQ(body_of("S1F1 <U1 257> "), "A5 01 01");
    EXPECT_EQ(body_of("S1F1 <I4 4294967297>"), "71 04 00 00 00 01");
    // Lower-case tags.
    EXPECT_EQ(body_of("S1F1 <l <u1 1> <bool true> <b 1>>"), "01 03 A5 01 01 25 01 01 21 01 01");
}

TEST(SmlPlanning, NumbersIgnoreTheProcessLocale) {
    // A locale with "," as decimal point must not change "1.5"; skipped when
    // the machine has no such locale.
    const char* old = std::setlocale(LC_ALL, nullptr);
    std::string saved = old ? old : "C";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8") && !std::setlocale(LC_ALL, "fr_FR.UTF-8"))
        GTEST_SKIP() << "no locale with a decimal comma";
    EXPECT_EQ(body_of("S1F1 <F4 1.5>"), "91 04 3F C0 00 00");
    secsii s;
    s.add_received(MessageRecord{0, 0, 0, 1, 1, 0, 0, bytes({0x91, 0x04, 0x3F, 0xC0, 0x00, 0x00})});
    EXPECT_EQ(s.NextMessageSML(), "S1F1\n<F4  1.500000>\n");
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(SmlPlanning, ForgivingItemScans) {
    // Counts and words between sub-items are skipped.
    EXPECT_EQ(body_of("S1F1 <L [2] first <U1 1> second <U1 2>>"), "01 02 A5 01 01 A5 01 02");
    // A string takes any byte up to the next apostrophe, line breaks included.
    EXPECT_EQ(body_of("S1F1 <A 'a\nb<'>"), "41 04 61 0A 62 3C");
    // Quoted pieces and 0xHH tokens after the first piece extend the text;
    // other words there, and tokens before the first piece, are passed over.
    EXPECT_EQ(body_of("S1F1 <A 'Don' 0x27 't'>"), "41 05 44 6F 6E 27 74");
    EXPECT_EQ(body_of("S1F1 <J 'a' 0x00 'b' 0X7e>"), "45 04 61 00 62 7E");
    EXPECT_EQ(body_of("S1F1 <A 0x41 'b' x 0x4 0x434 10x41 'c'>"), "41 02 62 63");
    EXPECT_EQ(body_of("S1F1 <A '' 0x3E>"), "41 01 3E");
    // Missing closing ">": each scan stops at the end of the text.
    EXPECT_EQ(body_of("S1F1 <L <U1 1 2"), "01 01 A5 02 01 02");
    EXPECT_EQ(body_of("S1F1 <A 'open"), "41 04 6F 70 65 6E");
    // "<Boolean TRUE>" holds two values: "ean" (0) and "true" (1).
    EXPECT_EQ(body_of("S1F1 <Boolean TRUE>"), "25 02 00 01");
    // Text before the first apostrophe of a string is skipped.
    EXPECT_EQ(body_of("S1F1 <A [3] 'abc'>"), "41 03 61 62 63");
}

TEST(SmlPlanning, ChoicesForOddItems) {
    // A character that cannot start a value is passed over; the tokens around
    // it encode as usual.
    EXPECT_EQ(body_of("S1F1 <I4 5;6>"), "71 08 00 00 00 05 00 00 00 06");
    EXPECT_EQ(body_of("S1F1 <U1 abc>"), "A5 00");
    EXPECT_EQ(body_of("S1F1 <B 0xGG 1>"), "21 02 00 01");
    // An A or J item without an apostrophe before its ">" is an empty string,
    // and the scan does not run into the next item.
    EXPECT_EQ(body_of("S1F1 <L <A> <A 'x'>>"), "01 02 41 00 41 01 78");
    EXPECT_EQ(body_of("S1F1 <J>"), "45 00");
    // "<>" yields nothing and is not counted; the list goes on after it.
    EXPECT_EQ(body_of("S1F1 <L <> <U1 1> < >>"), "01 01 A5 01 01");
    EXPECT_EQ(body_of("S1F1 <>"), "");
    // A "<" at the very end is an item without content.
    EXPECT_EQ(body_of("S1F1 <L <U1 1> <"), "01 01 A5 01 01");
}

TEST(SmlPlanning, LengthBytes) {
    std::string a300(300, 'q');
    Planned p = plan("S1F1 <A '" + a300 + "'>");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(hex(p.m.body.substr(0, 3)), "42 01 2C");
    EXPECT_EQ(p.m.body.substr(3), a300);

    std::string a70k(70000, 'r');
    p = plan("S1F1 <A '" + a70k + "'>");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(hex(p.m.body.substr(0, 4)), "43 01 11 70");
    EXPECT_EQ(p.m.body.size(), 70004u);

    std::string lists = "S1F1 <L";
    for (int i = 0; i < 256; ++i) lists += "<L>";
    p = plan(lists + ">");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(hex(p.m.body.substr(0, 3)), "02 01 00");
    EXPECT_EQ(p.m.body.size(), 3u + 2 * 256);

    // 255 values fit one length byte, the 256th needs two.
    std::string u1 = "S1F1 <U1";
    for (int i = 0; i < 255; ++i) u1 += " 7";
    EXPECT_EQ(hex(plan(u1 + ">").m.body.substr(0, 2)), "A5 FF");
    EXPECT_EQ(hex(plan(u1 + " 7>").m.body.substr(0, 3)), "A6 01 00");
}

TEST(SmlPlanning, DeepNestingDoesNotExhaustTheStack) {
    const int depth = 200000;
    std::string text = "S1F1 ";
    for (int i = 0; i < depth; ++i) text += "<L";
    Planned p = plan(text);
    ASSERT_TRUE(p.ok);
    ASSERT_EQ(p.m.body.size(), 2u * depth);
    EXPECT_EQ(hex(p.m.body.substr(0, 4)), "01 01 01 01");
    EXPECT_EQ(hex(p.m.body.substr(p.m.body.size() - 2)), "01 00");
}

TEST(SmlPlanning, RefusedTextsPlanNothing) {
    secsii s;
    ASSERT_TRUE(s.SetList("S1F2 W <U1 9>"));
    const MessageRecord before = s.prepared_copy();
    const std::string refused[] = {
        "S1F1 <X 1>",                        // unknown type letter
        "S1F1 <L <U1 1> <Q>>",               // ... also inside a list
        "S1F1 <I3 1>",                       // size not 1, 2, 4, 8
        "S1F1 <U16 1>",
        "S1F1 <F2 1>",                       // F: 4 or 8 only
        "S1F1 <F1 1>",
        "S1F1 <I 1>",                        // no size at all
        "S1F1 <U1 " + std::string(256, '1') + ">",  // token of 256 characters
        "S" + std::string(256, '0') + "1F1",         // name digits of 256 characters
        "S128F1",                            // stream does not fit 7 bits
        "S1F256",                            // function does not fit 8 bits
    };
    for (const std::string& text : refused) {
        EXPECT_FALSE(s.SetList(text)) << text;
        EXPECT_FALSE(s.last_error().empty()) << text;
        const MessageRecord after = s.prepared_copy();
        EXPECT_EQ(after.stream, before.stream) << text;
        EXPECT_EQ(after.function, before.function) << text;
        EXPECT_EQ(after.w_bit, before.w_bit) << text;
        EXPECT_EQ(after.body, before.body) << text;
    }
    EXPECT_EQ(s.last_error(), "function number 256 is above 255");
    // A token of exactly 255 characters is accepted; so are S127 and F255.
    EXPECT_TRUE(s.SetList("S127F255 <U1 " + std::string(254, '0') + "7>"));
    EXPECT_EQ(s.last_error(), "");
    EXPECT_EQ(hex(s.prepared_copy().body), "A5 01 07");
}

TEST(SmlPlanning, ItemsOfSixteenMebibytesAreRefused) {
    secsii s;
    std::string text = "S1F1 <A '" + std::string(16777215, 'z') + "'>";
    ASSERT_TRUE(s.SetList(text));
    EXPECT_EQ(hex(s.prepared_copy().body.substr(0, 4)), "43 FF FF FF");
    text.insert(10, "z");
    EXPECT_FALSE(s.SetList(text));
    EXPECT_EQ(s.last_error(), "text item of 16777216 or more characters");
    EXPECT_EQ(s.prepared_copy().body.size(), 16777219u);
}

TEST(SmlPlanning, EncodeItemMovesThePosition) {
    secsii s;
    const std::string text = "<L <U1 1>> tail";
    size_t pos = 1;
    bool ok = false;
    EXPECT_EQ(hex(s.encode_item(text, pos, ok)), "01 01 A5 01 01");
    EXPECT_TRUE(ok);
    EXPECT_EQ(pos, 10u);

    const std::string bad = "<Z>";
    pos = 1;
    EXPECT_EQ(s.encode_item(bad, pos, ok), "");
    EXPECT_FALSE(ok);
}

TEST(SmlPlanning, ReplyTakesTheCurrentHeader) {
    secsii s;
    s.set_out_rbit(1);
    s.set_out_device_id(5);
    s.set_out_source_id(6);
    s.set_out_transaction_id(7);
    s.add_received(MessageRecord{0, 1, 33, 1, 1, 44, 55, ""});
    ASSERT_EQ(s.NextMessage(), 0);

    MessageRecord planned;
    ASSERT_TRUE(s.prepare_reply("S1F2 <L>", planned));
    EXPECT_EQ(planned.r_bit, 1);  // the current message came with R-bit 0
    EXPECT_EQ(planned.device_id, 33);
    EXPECT_EQ(planned.source_id, 44);
    EXPECT_EQ(planned.transaction_id, 55);
    EXPECT_EQ(planned.stream, 1);
    EXPECT_EQ(planned.function, 2);
    EXPECT_EQ(planned.w_bit, 0);
    EXPECT_EQ(hex(planned.body), "01 00");

    s.add_received(MessageRecord{1, 1, 1, 1, 1, 1, 1, ""});
    ASSERT_EQ(s.NextMessage(), 0);
    ASSERT_TRUE(s.prepare_reply("S1F2"));
    EXPECT_EQ(s.prepared_copy().r_bit, 0);

    // A refused reply leaves the prepared identifiers alone.
    s.set_out_device_id(9);
    EXPECT_FALSE(s.prepare_reply("S1F2 <V>"));
    EXPECT_EQ(s.prepared_copy().device_id, 9);

    // SetList keeps the identifiers that the line set.
    s.set_out_rbit(0);
    s.set_out_source_id(100);
    s.set_out_transaction_id(200);
    ASSERT_TRUE(s.SetList("S2F1 W", planned));
    EXPECT_EQ(planned.r_bit, 0);
    EXPECT_EQ(planned.device_id, 9);
    EXPECT_EQ(planned.source_id, 100);
    EXPECT_EQ(planned.transaction_id, 200);
}

}  // namespace
}  // namespace tarvo
