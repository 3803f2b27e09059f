#include "driver/secs1/s_block.h"

#include "driver/line/header_text.h"

#include <algorithm>
#include <cstring>

namespace tarvo {

S_BLOCK& S_BLOCK::operator=(const S_BLOCK& other) {
    if (this == &other) return *this;
    r_bit = other.r_bit;
    w_bit = other.w_bit;
    e_bit = other.e_bit;
    device_id = other.device_id;
    message_id = other.message_id;
    block_number = other.block_number;
    source_id = other.source_id;
    transaction_id = other.transaction_id;
    length = other.length;
    const size_t n = std::min<size_t>(static_cast<size_t>(other.length) + 2, raw.size());
    std::memcpy(raw.data(), other.raw.data(), n);
    return *this;
}

void S_BLOCK::compile() {
    r_bit = (raw[0] & 0x80) != 0 ? 1 : 0;
    device_id = ((raw[0] << 8) | raw[1]) & 0x7FFF;
    w_bit = (raw[2] & 0x80) != 0 ? 1 : 0;
    message_id = ((raw[2] << 8) | raw[3]) & 0x7FFF;
    e_bit = (raw[4] & 0x80) != 0 ? 1 : 0;
    block_number = ((raw[4] << 8) | raw[5]) & 0x7FFF;
    source_id = (raw[6] << 8) | raw[7];
    transaction_id = (raw[8] << 8) | raw[9];
}

int32_t S_BLOCK::get_checksum() const {
    int32_t sum = 0;
    for (int i = 0; i < length; ++i) sum += raw[static_cast<size_t>(i)];
    return sum;
}

bool S_BLOCK::is_correct_checksum() const {
    // The length byte is at most 254, so both checksum bytes are inside raw.
    return get_checksum() == raw[length] * 256 + raw[static_cast<size_t>(length) + 1];
}

bool S_BLOCK::header_equal(const S_BLOCK& other) const {
    return std::memcmp(raw.data(), other.raw.data(), kHeaderSize) == 0;
}

void S_BLOCK::seal(uint8_t block_length) {
    length = block_length;
    raw[length] = do_upper_checksum();
    raw[static_cast<size_t>(length) + 1] = do_lower_checksum();
}

std::string format_block_header(const S_BLOCK& block) {
    return header_text(block.raw.data(), S_BLOCK::kHeaderSize);
}

}  // namespace tarvo
