#include "driver/hsms/hsms_header.h"

#include "driver/line/header_text.h"

#include <utility>

namespace tarvo::hsms {

namespace {

void put16(Header& h, size_t at, uint32_t value) {
    h[at] = static_cast<uint8_t>(value >> 8);
    h[at + 1] = static_cast<uint8_t>(value);
}

void put32(Header& h, size_t at, uint32_t value) {
    h[at] = static_cast<uint8_t>(value >> 24);
    h[at + 1] = static_cast<uint8_t>(value >> 16);
    h[at + 2] = static_cast<uint8_t>(value >> 8);
    h[at + 3] = static_cast<uint8_t>(value);
}

}  // namespace

Header make_data_header(const MessageRecord& record, uint32_t body_length) {
    Header h{};
    put32(h, 0, kControlLength + body_length);
    put16(h, 4, static_cast<uint32_t>(record.device_id));
    h[6] = static_cast<uint8_t>((record.w_bit ? 0x80 : 0) | (record.stream & 0x7F));
    h[7] = static_cast<uint8_t>(record.function);
    h[8] = 0;
    h[9] = stData;
    put16(h, 10, static_cast<uint32_t>(record.source_id));
    put16(h, 12, static_cast<uint32_t>(record.transaction_id));
    return h;
}

Header make_control_header(uint8_t type, uint16_t session, uint16_t source, uint16_t transaction) {
    Header h{};
    put32(h, 0, kControlLength);
    put16(h, 4, session);
    h[9] = type;
    put16(h, 10, source);
    put16(h, 12, transaction);
    return h;
}

bool is_control_message(const Header& h) {
    return message_length(h) == kControlLength && h[8] == 0 && h[9] != stData;
}

Header make_reject_header(const Header& rejected, uint8_t reason) {
    Header h = rejected;
    put32(h, 0, kControlLength);
    h[6] = reason == rjPTypeNotSupported ? rejected[8] : rejected[9];
    h[7] = reason;
    h[8] = 0;
    h[9] = stRejectReq;
    return h;
}

bool answers(const Header& received, const Header& sent) {
    return (received[4] & 0x7F) == (sent[4] & 0x7F) && received[5] == sent[5] &&
           (received[6] & 0x7F) == (sent[6] & 0x7F) && received[8] == sent[8] && received[9] == sent[9] &&
           received[10] == sent[10] && received[11] == sent[11] && received[12] == sent[12] &&
           received[13] == sent[13];
}

std::string format_header(const Header& h) { return header_text(h.data(), h.size()); }

std::string header_name(const Header& h) { return message_name(stream(h), function(h), w_bit(h)); }

MessageRecord to_record(const Header& h, std::string body) {
    MessageRecord record;
    record.r_bit = 1;
    record.w_bit = w_bit(h) ? 1 : 0;
    record.device_id = session_id(h);
    record.stream = stream(h);
    record.function = function(h);
    record.source_id = source_id(h);
    record.transaction_id = transaction_id(h);
    record.body = std::move(body);
    return record;
}

}  // namespace tarvo::hsms
