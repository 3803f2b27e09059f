// Items: bytes both ways, the one-line SML both ways, and what the decoder
// refuses.
#include <gtest/gtest.h>

#include "gem/item_codec.h"
#include "gem/sml_text.h"

namespace tarvo::gem {
namespace {

std::string hex(const std::string& bytes) {
    static const char k[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty()) out += ' ';
        out += k[c >> 4];
        out += k[c & 15];
    }
    return out;
}

std::string unhex(const std::string& text) {
    std::string out;
    for (size_t i = 0; i + 1 < text.size(); i += 3) out += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    return out;
}

struct Row {
    Item item;
    const char* bytes;
    const char* sml;
};

TEST(Items, EveryFormatEncodesDecodesAndWritesOneLine) {
    const Row rows[] = {
        {Item(), "01 00", "<L>"},
        {Item::list({Item::u4(1001), Item::a("Don't")}), "01 02 B1 04 00 00 03 E9 41 05 44 6F 6E 27 74",
         "<L <U4 1001> <A 'Don' 0x27 't'>>"},
        {Item::a(std::string("a\0b", 3)), "41 03 61 00 62", "<A 'a' 0x00 'b'>"},
        {Item::a(""), "41 00", "<A ''>"},
        {Item::text("x\n", Format::J), "45 02 78 0A", "<J 'x' 0x0A>"},
        {Item::binary(std::string("\x01\xFF", 2)), "21 02 01 FF", "<B 0x01 0xFF>"},
        {Item::boolean(std::vector<bool>{true, false}), "25 02 01 00", "<Boolean T F>"},
        {Item::u1(200), "A5 01 C8", "<U1 200>"},
        {Item::unsigneds(Format::U2, {65535}), "A9 02 FF FF", "<U2 65535>"},
        {Item::unsigneds(Format::U8, {UINT64_MAX}), "A1 08 FF FF FF FF FF FF FF FF", "<U8 18446744073709551615>"},
        {Item::signeds(Format::I1, {-128, 127}), "65 02 80 7F", "<I1 -128 127>"},
        {Item::signeds(Format::I2, {-2}), "69 02 FF FE", "<I2 -2>"},
        {Item::signeds(Format::I4, {-70000}), "71 04 FF FE EE 90", "<I4 -70000>"},
        {Item::signeds(Format::I8, {INT64_MIN}), "61 08 80 00 00 00 00 00 00 00", "<I8 -9223372036854775808>"},
        {Item::floats(Format::F4, {21.5}), "91 04 41 AC 00 00", "<F4 21.5>"},
        {Item::floats(Format::F8, {-0.1}), "81 08 BF B9 99 99 99 99 99 9A", "<F8 -0.1>"},
        {Item::unsigneds(Format::U4, {}), "B1 00", "<U4>"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.sml);
        EXPECT_EQ(hex(encode_item(r.item)), r.bytes);
        const DecodedBody d = decode_body(unhex(r.bytes));
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(*d.item, r.item);
        EXPECT_EQ(write_sml(r.item), r.sml);
        std::string why;
        const auto back = read_sml(r.sml, &why);
        ASSERT_TRUE(back) << why;
        EXPECT_EQ(*back, r.item);
    }
    // The planner's own spelling of Boolean values, for SendMessage.
    EXPECT_EQ(write_sml(Item::boolean(std::vector<bool>{true, false}), SmlStyle::planner), "<Bool 1 0>");
}

TEST(Items, EveryByteOfATextComesBack) {
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    const Item item = Item::a(all);
    const DecodedBody d = decode_body(encode_item(item));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.item->bytes(), all);
    std::string why;
    EXPECT_EQ(read_sml(write_sml(item), &why), item) << why;
}

TEST(Items, TheDecoderRefusesWhatE5DoesNotDefine) {
    std::string deep;
    for (int i = 0; i < 66; ++i) deep += "\x01\x01";
    deep += std::string("\x01\x00", 2);
    const std::pair<std::string, const char*> refused[] = {
        {unhex("41 05 61"), "runs past"},
        {unhex("A9 03 00 01 02"), "whole number"},
        {unhex("FD 01 00"), "unknown item format"},
        {unhex("40"), "header incomplete"},
        {unhex("01 02 A5 01 01"), "header incomplete"},
        {unhex("A5 01 01 A5 01 02"), "bytes after"},
        {deep, "nested"},
    };
    for (const auto& [bytes, why] : refused) {
        const DecodedBody d = decode_body(bytes);
        EXPECT_FALSE(d.ok) << hex(bytes);
        EXPECT_NE(d.error.find(why), std::string::npos) << d.error;
    }
    const DecodedBody empty = decode_body("");
    EXPECT_TRUE(empty.ok);
    EXPECT_FALSE(empty.item);
}

TEST(Items, TheOneLineReaderRefusesValuesOutsideTheirFormat) {
    const std::pair<const char*, const char*> refused[] = {
        {"<U1 256>", "does not fit U1"},
        {"<I1 -129>", "does not fit I1"},
        {"<U4 -1>", "does not fit U4"},
        {"<F4 1e39>", "does not fit F4"},
        {"<B 0x100>", "bad B value"},
        {"<Boolean yes>", "bad Boolean"},
        {"<X 1>", "unknown item format"},
        {"<L <U4 1>", "'>' missing"},
        {"<A 'open>", "closing apostrophe"},
        {"<A 0x41>", "quoted piece"},
        {"<U4 1> <U4 2>", "text after"},
    };
    for (const auto& [text, why] : refused) {
        std::string error;
        EXPECT_FALSE(read_sml(text, &error)) << text;
        EXPECT_NE(error.find(why), std::string::npos) << text << ": " << error;
    }
    std::string error;
    EXPECT_EQ(read_sml(" <Bool true 0>\t", &error), Item::boolean(std::vector<bool>{true, false})) << error;
    EXPECT_EQ(read_sml("<B 7 0x08>", &error), Item::binary("\x07\x08")) << error;
}

}  // namespace
}  // namespace tarvo::gem
