// One SECS-I block: decoding the header, the checksum, what a block is.
#include <gtest/gtest.h>

#include <initializer_list>

#include "driver/secs1/s_block.h"

namespace tarvo {
namespace {

S_BLOCK block(std::initializer_list<int> header, std::initializer_list<int> data = {}) {
    S_BLOCK b;
    size_t i = 0;
    for (int v : header) b.raw[i++] = static_cast<uint8_t>(v);
    for (int v : data) b.raw[i++] = static_cast<uint8_t>(v);
    b.seal(static_cast<uint8_t>(i));
    b.compile();
    return b;
}

TEST(SBlock, HeaderFields) {
    const struct {
        std::initializer_list<int> header;
        int r, device, w, stream, function, e, number, source, transaction;
        bool primary, first, last;
    } rows[] = {
        {{0x80, 0x01, 0x01, 0x01, 0x80, 0x01, 0x00, 0x00, 0x00, 0x07}, 1, 1, 0, 1, 1, 1, 1, 0, 7, true, true, true},
        {{0x7F, 0xFF, 0x86, 0x0B, 0x00, 0x02, 0x12, 0x34, 0xAB, 0xCD}, 0, 0x7FFF, 1, 6, 11, 0, 2, 0x1234, 0xABCD,
         true, false, false},
        {{0x00, 0x05, 0x01, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02}, 0, 5, 0, 1, 2, 0, 0, 1, 2, false, true, false},
        {{0x00, 0x05, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0, 5, 1, 127, 254, 1, 0x7FFF, 0xFFFF, 0xFFFF,
         false, false, true},
    };
    for (const auto& r : rows) {
        const S_BLOCK b = block(r.header);
        EXPECT_EQ(b.r_bit, r.r);
        EXPECT_EQ(b.device_id, r.device);
        EXPECT_EQ(b.w_bit, r.w);
        EXPECT_EQ(b.stream(), r.stream);
        EXPECT_EQ(b.function(), r.function);
        EXPECT_EQ(b.message_id, r.stream * 256 + r.function);
        EXPECT_EQ(b.e_bit, r.e);
        EXPECT_EQ(b.block_number, r.number);
        EXPECT_EQ(b.source_id, r.source);
        EXPECT_EQ(b.transaction_id, r.transaction);
        EXPECT_EQ(b.is_primary(), r.primary);
        EXPECT_EQ(b.is_first(), r.first);
        EXPECT_EQ(b.is_last(), r.last);
    }
}

TEST(SBlock, Checksum) {
    S_BLOCK header_only = block({0x80, 0x01, 0x01, 0x01, 0x80, 0x01, 0x00, 0x00, 0x00, 0x07});
    EXPECT_EQ(header_only.length, 10);
    EXPECT_EQ(header_only.get_checksum(), 0x80 + 1 + 1 + 1 + 0x80 + 1 + 7);
    EXPECT_EQ(header_only.raw[10], 0x01);
    EXPECT_EQ(header_only.raw[11], 0x0B);
    EXPECT_TRUE(header_only.is_correct_checksum());
    std::swap(header_only.raw[10], header_only.raw[11]);
    EXPECT_FALSE(header_only.is_correct_checksum()) << "swapped checksum bytes";

    // The largest block: 244 data bytes of 0xFF still fit in 16 bits.
    S_BLOCK full;
    for (int i = 0; i < 254; ++i) full.raw[static_cast<size_t>(i)] = 0xFF;
    full.seal(254);
    EXPECT_EQ(full.get_checksum(), 254 * 255);
    EXPECT_EQ(full.do_upper_checksum(), (254 * 255) >> 8);
    EXPECT_EQ(full.do_lower_checksum(), (254 * 255) & 0xFF);
    EXPECT_TRUE(full.is_correct_checksum());
    EXPECT_EQ(full.data_length(), S_BLOCK::kMaxData);
}

TEST(SBlock, DuplicatesAndCopies) {
    const S_BLOCK a = block({0, 1, 6, 11, 0, 1, 0, 0, 0, 9}, {1, 2, 3});
    const S_BLOCK same_header = block({0, 1, 6, 11, 0, 1, 0, 0, 0, 9}, {4, 5});
    const S_BLOCK next = block({0, 1, 6, 11, 0, 2, 0, 0, 0, 9}, {1, 2, 3});
    EXPECT_TRUE(a.is_duplicate(same_header)) << "data does not count";
    EXPECT_FALSE(a.is_duplicate(next)) << "the block number does";
    S_BLOCK copy;
    copy = a;
    EXPECT_EQ(copy.length, a.length);
    EXPECT_TRUE(copy.header_equal(a));
    EXPECT_TRUE(copy.is_correct_checksum());
    EXPECT_EQ(copy.raw[12], 3);
    EXPECT_EQ(format_block_header(a), "0x00 0x01 0x06 0x0b 0x00 0x01 0x00 0x00 0x00 0x09 ");
}

}  // namespace
}  // namespace tarvo
