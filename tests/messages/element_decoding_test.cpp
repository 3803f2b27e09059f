// Decoding received bodies into the element array and selecting elements.
#include <gtest/gtest.h>

#include <vector>

#include "driver/messages/element_array.h"
#include "driver/messages/secsii.h"
#include "test_util.h"

namespace tarvo {
namespace {

using test::bytes;

struct El {
    int type;
    int quantity;
    std::string pointer;
    std::string value;
    bool operator==(const El&) const = default;
};

std::ostream& operator<<(std::ostream& os, const El& e) {
    return os << "{" << e.type << ", " << e.quantity << ", \"" << e.pointer << "\", \"" << e.value << "\"}";
}

// Takes `body` through NextMessage; returns the elements via the public getters.
std::vector<El> decode(const std::string& body, int* result = nullptr) {
    secsii s;
    s.add_received(MessageRecord{0, 0, 0, 1, 1, 0, 0, body});
    const int r = s.NextMessage();
    if (result) *result = r;
    std::vector<El> out;
    for (int i = 0; i < s.GetElemGnrlQuan(); ++i) {
        const std::string p = s.GetElemGnrlPointer(i);
        s.SetElemPointer(p);
        out.push_back(El{s.GetElemType(), s.GetElemQuantity(), p, s.GetElemValue()});
    }
    return out;
}

TEST(ElementDecoding, Examples) {
    int r = -2;
    EXPECT_TRUE(decode("", &r).empty());
    EXPECT_EQ(r, 0);

    EXPECT_EQ(decode(bytes({0x01, 0x00})), (std::vector<El>{{1, 0, "0", ""}}));
    EXPECT_EQ(decode(bytes({0xA5, 0x02, 0x01, 0xFF})),
              (std::vector<El>{{13, 1, "0[0]", "1"}, {13, 1, "0[1]", "255"}, {13, 2, "0", "1 255"}}));
    EXPECT_EQ(decode(bytes({0x65, 0x01, 0xFF})).back().value, "-1");
    EXPECT_EQ(decode(bytes({0x69, 0x02, 0xFF, 0xFE})).back().value, "-2");
    EXPECT_EQ(decode(bytes({0xB1, 0x04, 0xFF, 0xFF, 0xFF, 0xFF})).back().value, "4294967295");

    std::string u8 = bytes({0xA1, 0x10});
    u8 += std::string(7, '\0') + "\x01" + std::string(8, '\xFF');
    auto els = decode(u8);
    ASSERT_EQ(els.size(), 3u);
    EXPECT_EQ(els[2], (El{12, 2, "0", "1 18446744073709551615"}));

    EXPECT_EQ(decode(bytes({0x01, 0x01, 0x01, 0x01, 0x41, 0x01, 0x78})),
              (std::vector<El>{{1, 1, "0", ""}, {1, 1, "1", ""}, {4, 1, "1/1", "x"}}));

    // The body "<L <A 'ab'> <U1 1 2>>" encodes to.
    EXPECT_EQ(decode(bytes({0x01, 0x02, 0x41, 0x02, 0x61, 0x62, 0xA5, 0x02, 0x01, 0x02})),
              (std::vector<El>{{1, 2, "0", ""}, {4, 2, "1", "ab"}, {13, 1, "2[0]", "1"}, {13, 1, "2[1]", "2"},
                               {13, 2, "2", "1 2"}}));
}

TEST(ElementDecoding, EveryValueText) {
    EXPECT_EQ(decode(bytes({0x25, 0x03, 0x01, 0x00, 0x07})),
              (std::vector<El>{{3, 1, "0[0]", "1"}, {3, 1, "0[1]", "0"}, {3, 1, "0[2]", "1"}, {3, 3, "0", "1 0 1"}}));
    EXPECT_EQ(decode(bytes({0x61, 0x08, 0x80, 0, 0, 0, 0, 0, 0, 0})).back().value, "-9223372036854775808");
    EXPECT_EQ(decode(bytes({0x71, 0x04, 0x80, 0, 0, 0})).back().value, "-2147483648");
    EXPECT_EQ(decode(bytes({0xA9, 0x02, 0xFF, 0xFF})).back().value, "65535");
    EXPECT_EQ(decode(bytes({0x91, 0x04, 0x3F, 0xC0, 0x00, 0x00})).back().value, "1.500000");
    EXPECT_EQ(decode(bytes({0x81, 0x08, 0xC0, 0, 0, 0, 0, 0, 0, 0})).back().value, "-2.000000e+00");
    // Binary, ASCII and JIS values are the raw bytes, zero bytes included.
    auto b = decode(bytes({0x21, 0x02, 0x00, 0x41}));
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0], (El{2, 2, "0", std::string("\0A", 2)}));
    EXPECT_EQ(decode(bytes({0x45, 0x02, 0x1B, 0x24})), (std::vector<El>{{5, 2, "0", "\x1B$"}}));
}

TEST(ElementDecoding, PointersOfDeeperLists) {
    // <L <L <U1 5 6> <L>> <A 'z'>>
    auto els = decode(bytes({0x01, 0x02, 0x01, 0x02, 0xA5, 0x02, 0x05, 0x06, 0x01, 0x00, 0x41, 0x01, 0x7A}));
    std::vector<std::string> pointers;
    for (auto& e : els) pointers.push_back(e.pointer);
    EXPECT_EQ(pointers, (std::vector<std::string>{"0", "1", "1/1[0]", "1/1[1]", "1/1", "1/2", "2"}));
}

TEST(ElementDecoding, MalformedBodies) {
    int r = 0;
    // Root header outside the body.
    EXPECT_TRUE(decode(bytes({0x41}), &r).empty());
    EXPECT_EQ(r, -1);
    EXPECT_TRUE(decode(bytes({0x43, 0x00}), &r).empty());
    EXPECT_EQ(r, -1);
    // Nested header outside the body: the list stands, nothing else, result 0.
    EXPECT_EQ(decode(bytes({0x01, 0x03, 0x42, 0x00}), &r), (std::vector<El>{{1, 3, "0", ""}}));
    EXPECT_EQ(r, 0);
    // A format byte without length bytes: a list of 0 for 0x00, else nothing.
    EXPECT_EQ(decode(bytes({0x01, 0x03, 0x00, 0x40, 0x41, 0x01, 0x79}), &r),
              (std::vector<El>{{1, 3, "0", ""}, {1, 0, "1", ""}, {4, 1, "3", "y"}}));
    // Unknown type code: skipped by its length.
    EXPECT_EQ(decode(bytes({0x01, 0x02, 0xFD, 0x01, 0x55, 0x41, 0x01, 0x79})),
              (std::vector<El>{{1, 2, "0", ""}, {4, 1, "2", "y"}}));
    // A length past the end of the body cuts the item at the end.
    EXPECT_EQ(decode(bytes({0x41, 0x05, 0x61, 0x62})), (std::vector<El>{{4, 2, "0", "ab"}}));
    EXPECT_EQ(decode(bytes({0x43, 0xFF, 0xFF, 0xFF, 0x61})), (std::vector<El>{{4, 1, "0", "a"}}));
    // A numeric length that is not a multiple of the size drops the rest.
    EXPECT_EQ(decode(bytes({0xA9, 0x03, 0x00, 0x01, 0x02})),
              (std::vector<El>{{14, 1, "0[0]", "1"}, {14, 1, "0", "1"}}));
    EXPECT_EQ(decode(bytes({0x71, 0x09, 0, 0, 0, 1, 0, 0, 0, 2})).back(), (El{9, 2, "0", "1 2"}));
    // A huge list count over a short body stops at the end of the body.
    EXPECT_EQ(decode(bytes({0x03, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x01, 0x00})).size(), 3u);
}

TEST(ElementDecoding, NestingDepthIsBounded) {
    // Pointers grow with the depth, so an unbounded depth would cost memory
    // quadratic in the body. Items down to the limit are decoded.
    const int limit = secsii::kMaxNestingDepth;
    std::string body;
    for (int i = 0; i < limit; ++i) body += bytes({0x01, 0x01});
    body += bytes({0x41, 0x01, 0x7A});
    auto els = decode(body);
    ASSERT_EQ(els.size(), static_cast<size_t>(limit + 1));
    EXPECT_EQ(els[2].pointer, "1/1");
    EXPECT_EQ(els.back().value, "z");

    // One level deeper: the deepest list stands, its content is not listed,
    // and a huge nesting neither crashes nor takes long.
    std::string deep;
    for (int i = 0; i < 300000; ++i) deep += bytes({0x01, 0x01});
    int r = -2;
    els = decode(deep, &r);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(els.size(), static_cast<size_t>(limit + 1));
}

TEST(ElementDecoding, ItemsAfterATooDeepListAreStillListed) {
    // <L <L <L ... <A 'x'> ...>> <U1 7> <A 'z'>>: only the content below the
    // limit goes unlisted; the root list's later sub-items are decoded.
    const int limit = secsii::kMaxNestingDepth;
    std::string body = bytes({0x01, 0x03});
    for (int i = 0; i < limit + 3; ++i) body += bytes({0x01, 0x02, 0x21, 0x01, 0x55});
    body += bytes({0x41, 0x01, 0x78});
    body += bytes({0xA5, 0x01, 0x07, 0x41, 0x01, 0x7A});
    const auto els = decode(body);
    ASSERT_GE(els.size(), 4u);
    EXPECT_EQ(els[els.size() - 3], (El{13, 1, "2[0]", "7"}));
    EXPECT_EQ(els[els.size() - 2], (El{13, 1, "2", "7"}));
    EXPECT_EQ(els.back(), (El{4, 1, "3", "z"}));
    // Nothing below the limit is listed.
    for (const El& e : els) EXPECT_NE(e.value, "x");
}

TEST(ElementDecoding, Selection) {
    secsii s;
    EXPECT_EQ(s.GetElemValue(), "no_such");
    EXPECT_EQ(s.GetElemType(), 0);
    EXPECT_EQ(s.GetElemQuantity(), 0);
    EXPECT_EQ(s.GetElemGnrlQuan(), 0);
    EXPECT_EQ(s.GetElemGnrlPointer(0), "");

    s.add_received(MessageRecord{0, 0, 0, 1, 1, 0, 0, bytes({0x01, 0x01, 0x01, 0x01, 0x41, 0x01, 0x78})});
    ASSERT_EQ(s.NextMessage(), 0);
    s.SetElemPointer("1/1");
    EXPECT_EQ(s.GetElemType(), 4);
    EXPECT_EQ(s.GetElemQuantity(), 1);
    EXPECT_EQ(s.GetElemValue(), "x");
    EXPECT_EQ(s.GetElemGnrlPointer(-1), "");
    EXPECT_EQ(s.GetElemGnrlPointer(3), "");

    // An empty inbox keeps the elements and the selection.
    EXPECT_EQ(s.NextMessage(), -1);
    EXPECT_EQ(s.GetElemGnrlQuan(), 3);
    EXPECT_EQ(s.GetElemValue(), "x");

    // Taking a new message keeps the selection until SetElemPointer.
    s.add_received(MessageRecord{0, 0, 0, 1, 1, 0, 0, bytes({0x41, 0x01, 0x79})});
    ASSERT_EQ(s.NextMessage(), 0);
    EXPECT_EQ(s.GetElemValue(), "x");
    s.SetElemPointer("1/2");
    EXPECT_EQ(s.GetElemValue(), "no_such");
    EXPECT_EQ(s.GetElemType(), 0);
    EXPECT_EQ(s.GetElemQuantity(), -1);
    s.SetElemPointer(" 0");  // exact match only
    EXPECT_EQ(s.GetElemQuantity(), -1);
    s.SetElemPointer("0");
    EXPECT_EQ(s.GetElemValue(), "y");
}

TEST(ElementDecoding, AnElementCostsAtMost24BytesAndItsTextsAreMadeOnRequest) {
    std::string body = bytes({0x27, 0x01, 0x86, 0xA0});  // Boolean, 100000 values
    for (int i = 0; i < 100000; ++i) body.push_back(static_cast<char>(i % 3 == 0 ? 1 : 0));
    ElementArray elements;
    size_t pos = 0;
    bool too_deep = false;
    ASSERT_EQ(elements.decode(body, pos, "0", 0, too_deep), 0);
    ASSERT_EQ(elements.size(), 100001u);
    EXPECT_LE(elements.slot_bytes(), elements.size() * 24);
    EXPECT_EQ(elements.pointer(99999), "0[99999]");
    EXPECT_EQ(elements.value(99999), "1");
    EXPECT_EQ(elements.value(99998), "0");
    EXPECT_EQ(elements.find("0[99999]"), 99999u);
    EXPECT_EQ(elements.find("0"), 100000u);
    EXPECT_EQ(elements.find("0[100000]"), ElementArray::npos);
    EXPECT_EQ(elements.find("00"), ElementArray::npos);
    EXPECT_EQ(elements.value(100000).substr(0, 9), "1 0 0 1 0");
    EXPECT_EQ(elements.value(100000).size(), 2u * 100000 - 1);
}

TEST(ElementDecoding, DecodeItemDirectly) {
    std::vector<ParsedElement> out;
    const std::string body = bytes({0xA5, 0x01, 0x09, 0x41, 0x01, 0x78});
    size_t pos = 3;
    EXPECT_EQ(secsii::decode_item(body, pos, "7", 2, out), 0);
    EXPECT_EQ(pos, 6u);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].pointer, "7");
    pos = 6;  // at the end
    EXPECT_EQ(secsii::decode_item(body, pos, "8", 2, out), -1);
    EXPECT_EQ(pos, 6u);
}

}  // namespace
}  // namespace tarvo
