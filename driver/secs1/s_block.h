// One SECS-I block: the bytes as they travel the serial line after the
// handshake and the header fields decoded from them. A plain value.
//
//   raw[0..9]    header: R-bit and device ID, W-bit and stream, function,
//                E-bit and block number, source ID, transaction ID
//   raw[10..L-1] data, 0 to 244 bytes
//   raw[L], raw[L+1]  checksum (sum of raw[0..L-1]), most significant first
//
// The length byte L (10 to 254) goes on the wire before raw[0]. The raw
// bytes are authoritative: compile() fills the fields from them.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tarvo {

struct S_BLOCK {
    static constexpr int kHeaderSize = 10;
    static constexpr int kMinLength = 10;
    static constexpr int kMaxLength = 254;
    static constexpr int kMaxData = kMaxLength - kHeaderSize;  // 244

    uint8_t r_bit = 0;
    uint8_t w_bit = 0;
    uint8_t e_bit = 0;
    int32_t device_id = 0;       // 15 bits
    int32_t message_id = 0;      // stream * 256 + function, W-bit excluded
    int32_t block_number = 0;    // 15 bits
    int32_t source_id = 0;       // 16 bits
    int32_t transaction_id = 0;  // 16 bits
    uint8_t length = 0;          // L
    std::array<uint8_t, 256> raw{};

    S_BLOCK() = default;
    // Copies the fields, the length and the first L + 2 raw bytes.
    S_BLOCK(const S_BLOCK& other) { *this = other; }
    S_BLOCK& operator=(const S_BLOCK& other);

    // Decodes the raw header into the fields.
    void compile();
    int32_t get_checksum() const;
    bool is_correct_checksum() const;
    uint8_t do_upper_checksum() const { return static_cast<uint8_t>(get_checksum() / 256); }
    uint8_t do_lower_checksum() const { return static_cast<uint8_t>(get_checksum() % 256); }
    bool is_primary() const { return (message_id & 1) != 0; }
    bool is_first() const { return block_number == 0 || block_number == 1; }
    bool is_last() const { return e_bit != 0; }
    bool header_equal(const S_BLOCK& other) const;
    // Called on the last accepted block with the new one as `other`.
    bool is_duplicate(const S_BLOCK& other) const { return header_equal(other); }

    int stream() const { return (message_id >> 8) & 0x7F; }
    int function() const { return message_id & 0xFF; }
    int data_length() const { return length >= kHeaderSize ? length - kHeaderSize : 0; }
    // Sets the length and the checksum bytes after the header and data
    // bytes raw[0..length-1] have been written.
    void seal(uint8_t block_length);
};

// "0x%02x " for each of the ten header bytes (the text ends with a blank).
std::string format_block_header(const S_BLOCK& block);

}  // namespace tarvo
