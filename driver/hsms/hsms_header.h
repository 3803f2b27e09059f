// The 14 bytes in front of every HSMS message: the 4-byte message length and
// the 10-byte header, all multi-byte fields most significant byte first.
//
//   0..3  length of what follows the length field (10 + body length)
//   4..5  session ID (data messages: the device ID)
//   6     header byte 2: W-bit (bit 7) and stream; 0 in control messages
//   7     header byte 3: function; select status in Select.rsp
//   8     PType (0: SECS-II)
//   9     SType (0: data message, otherwise a control message)
//   10..11 system bytes, upper half (source ID)
//   12..13 system bytes, lower half (transaction ID)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "driver/messages/message_record.h"

namespace tarvo::hsms {

constexpr size_t kHeaderSize = 14;
constexpr uint32_t kControlLength = 10;   // a control message has no body
// The largest message length the line accepts from a peer. A length field
// beyond it (or below 10) means the byte stream cannot be trusted.
constexpr uint32_t kMaxMessageLength = 64u * 1024u * 1024u;
// Session-ID bits compared when a session is looked up among selected clients.
constexpr uint16_t kSessionMask = 0x8FFF;

enum SType : uint8_t {
    stData = 0,
    stSelectReq = 1,
    stSelectRsp = 2,
    stDeselectReq = 3,
    stDeselectRsp = 4,
    stLinktestReq = 5,
    stLinktestRsp = 6,
    stRejectReq = 7,
    stSeparateReq = 9,
};

enum RejectReason : uint8_t {
    rjSTypeNotSupported = 1,
    rjPTypeNotSupported = 2,
    rjTransactionNotOpen = 3,
    rjEntityNotSelected = 4,
};

using Header = std::array<uint8_t, kHeaderSize>;

inline uint32_t message_length(const Header& h) {
    return (uint32_t{h[0]} << 24) | (uint32_t{h[1]} << 16) | (uint32_t{h[2]} << 8) | h[3];
}
inline uint16_t session_id(const Header& h) { return static_cast<uint16_t>((h[4] << 8) | h[5]); }
inline bool w_bit(const Header& h) { return (h[6] & 0x80) != 0; }
inline int stream(const Header& h) { return h[6] & 0x7F; }
inline int function(const Header& h) { return h[7]; }
inline uint8_t ptype(const Header& h) { return h[8]; }
inline uint8_t stype(const Header& h) { return h[9]; }
inline uint16_t source_id(const Header& h) { return static_cast<uint16_t>((h[10] << 8) | h[11]); }
inline uint16_t transaction_id(const Header& h) { return static_cast<uint16_t>((h[12] << 8) | h[13]); }

// A message length the line will read: at least the header, at most the bound.
inline bool length_acceptable(uint32_t length) {
    return length >= kControlLength && length <= kMaxMessageLength;
}

// Length and header of a data message carrying `record` (its R-bit has no
// place in HSMS). `body_length` is the length of the body that follows.
Header make_data_header(const MessageRecord& record, uint32_t body_length);
inline Header make_data_header(const MessageRecord& record) {
    return make_data_header(record, static_cast<uint32_t>(record.body.size()));
}

// A header-only control message with length 10 and header bytes 2, 3 and PType 0.
Header make_control_header(uint8_t type, uint16_t session, uint16_t source, uint16_t transaction);

// Recognition of a control message: header only (length 10), PType 0, SType
// not 0. Header bytes 2 and 3 carry a control message's own values (select
// status, reject reason) and do not matter here. Anything else takes the
// data-message way.
bool is_control_message(const Header& h);

// Reject.req for `rejected`: its session ID and system bytes, header byte 2
// the rejected SType (the PType when `reason` is 2), header byte 3 the reason.
Header make_reject_header(const Header& rejected, uint8_t reason);

// Whether a received header answers a header sent earlier: session ID (top bit
// ignored), stream (W-bit ignored), PType, SType and all four system bytes
// equal. The function is not compared.
bool answers(const Header& received, const Header& sent);

// "0x%02x " for each of the 14 bytes (the text ends with a blank).
std::string format_header(const Header& h);

// "S%dF%dW" or "S%dF%d" from header bytes 2 and 3.
std::string header_name(const Header& h);

// The received message as the message layer takes it (R-bit 1).
MessageRecord to_record(const Header& h, std::string body);

}  // namespace tarvo::hsms
