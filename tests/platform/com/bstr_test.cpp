#include "platform/com/bstr.h"

#include <gtest/gtest.h>

#include <string>

TEST(Bstr, AllocatesWithLengthPrefixAndTerminator) {
    BSTR s = SysAllocString(u"abc");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), 3u);
    EXPECT_EQ(SysStringByteLen(s), 6u);
    EXPECT_EQ(s[3], 0);
    SysFreeString(s);

    const OLECHAR with_zero[] = {u'a', 0, u'b'};
    BSTR z = SysAllocStringLen(with_zero, 3);
    EXPECT_EQ(SysStringLen(z), 3u);  // the prefix, not a scan, gives the length
    EXPECT_EQ(z[1], 0);
    EXPECT_EQ(z[2], u'b');
    SysFreeString(z);

    BSTR blank = SysAllocStringLen(nullptr, 4);
    ASSERT_NE(blank, nullptr);
    for (int i = 0; i <= 4; ++i) EXPECT_EQ(blank[i], 0);
    SysFreeString(blank);
}

TEST(Bstr, NullIsAnEmptyString) {
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
    EXPECT_EQ(BytesFromBstr(nullptr), "");
    BSTR empty = SysAllocString(nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty), 0u);
    SysFreeString(empty);
}

TEST(Bstr, RefusesLengthsThatDoNotFitThePrefix) {
    EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x7FFFFFFFu), nullptr);
}

TEST(Bstr, BytesCrossByteForCharacterWithZerosAnd255) {
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    bytes += std::string("\0\0end\xFF", 6);
    BstrHolder b(bytes);
    ASSERT_EQ(SysStringLen(b.get()), bytes.size());
    EXPECT_EQ(b.get()[0], 0);
    EXPECT_EQ(b.get()[255], 255);  // not sign-extended
    EXPECT_EQ(b.get()[0x80], 0x80);
    EXPECT_EQ(BytesFromBstr(b.get()), bytes);
}

TEST(Bstr, CharactersAbove255BecomeQuestionMarks) {
    const OLECHAR text[] = {u'A', 0x100, 0x20AC, u'z', 0xFF};
    BSTR s = SysAllocStringLen(text, 5);
    EXPECT_EQ(BytesFromBstr(s), "A??z\xFF");
    SysFreeString(s);
    EXPECT_EQ(BytesFromOleString(u"x\u0101y"), "x?y");
}

TEST(Bstr, ReallocReplacesTheOldString) {
    BSTR s = SysAllocString(u"old");
    ASSERT_TRUE(SysReAllocStringLen(&s, u"newer", 5));
    EXPECT_EQ(BytesFromBstr(s), "newer");
    SysFreeString(s);
}

TEST(Bstr, HolderFreesAndHandsOut) {
    BstrHolder h(std::string("abc"));
    BSTR* out = h.out();  // frees the old one
    EXPECT_EQ(*out, nullptr);
    *out = BstrFromBytes("x");
    EXPECT_EQ(h.bytes(), "x");
    BSTR taken = h.release();
    EXPECT_EQ(h.get(), nullptr);
    SysFreeString(taken);
}
