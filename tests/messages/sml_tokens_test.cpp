// The Boolean and Binary token converters.
#include <gtest/gtest.h>

#include "driver/messages/secsii.h"

namespace tarvo {
namespace {

TEST(SmlTokens, Booleans) {
    // The planner lower-cases tokens before converting them.
    for (const char* one : {"true", "1", "0x01", "truely", "0xff", "0x1", "42", "007", "99999999999999999999"})
        EXPECT_EQ(secsii::func_atobool(one), 1) << one;
    for (const char* zero : {"false", "0", "0x00", "t", "f", "yes", "no", "tru", "0x", "0xg1", "000", "", "x1"})
        EXPECT_EQ(secsii::func_atobool(zero), 0) << zero;
    // "falsetrue" starts with "false"; "0x" reads at most two digits.
    EXPECT_EQ(secsii::func_atobool("falsetrue"), 0);
    EXPECT_EQ(secsii::func_atobool("0x001"), 0);
}

TEST(SmlTokens, Bytes) {
    EXPECT_EQ(secsii::func_atobyte("0x1f"), 0x1F);
    EXPECT_EQ(secsii::func_atobyte("0x1F"), 0x1F);
    EXPECT_EQ(secsii::func_atobyte("0xA0"), 0xA0);
    EXPECT_EQ(secsii::func_atobyte("255"), 0xFF);
    EXPECT_EQ(secsii::func_atobyte("256"), 0x00);
    EXPECT_EQ(secsii::func_atobyte("257"), 0x01);
    EXPECT_EQ(secsii::func_atobyte("ff"), 0x00);
    EXPECT_EQ(secsii::func_atobyte("0x5"), 0x00);    // not four characters
    EXPECT_EQ(secsii::func_atobyte("0X1F"), 0x00);   // upper-case X is not the hex form
    EXPECT_EQ(secsii::func_atobyte("0x123"), 0x00);
    EXPECT_EQ(secsii::func_atobyte("12ab"), 12);
    EXPECT_EQ(secsii::func_atobyte(""), 0);
}

}  // namespace
}  // namespace tarvo
