// The SECS-I link protocol: timed character waits, control characters, one
// block sent with its handshake and retries, one block received with its
// length and checksum checks. Runs on the worker thread with no lock held, so
// events are raised where they happen.
#include <algorithm>

#include "driver/log/log_mask.h"
#include "driver/log/notify_code.h"
#include "driver/secs1/secsicomm.h"
#include "platform/serial/serial_port.h"

namespace tarvo {

namespace {

constexpr uint32_t kPortError = lmPortGeneral | lmPortDetailed;
constexpr uint32_t kBlockError = lmMsgGeneral | lmPortGeneral | lmPortDetailed;

}  // namespace

int32_t secsicomm::read_unit() const { return std::max<int32_t>(1, read_timeout.load()); }

int secsicomm::read_port(uint8_t* buffer, int count) {
    const int n = serial::sio_read(port_in_use.load(), reinterpret_cast<char*>(buffer), count);
    if (n < 0) {
        // Closed once, here; the next Step opens it again while it is wanted.
        port_lost();
        msg.log(kPortError, "ERROR: Reading from port");
        raise_notify(nSecsErrorPortReadFailed);
    }
    return n;
}

int secsicomm::listen_time(int32_t& budget) {
    if (serial::sio_lstatus(port_in_use.load()) < 0) {
        budget = 0;
        msg.log(kPortError, "ERROR: Reading from port");
        raise_notify(nSecsErrorPortReadFailed);
        return kOutOfTime;
    }
    const int32_t unit = read_unit();
    for (;;) {
        uint8_t c = 0;
        const int n = read_port(&c, 1);
        if (n < 0) {
            budget = 0;
            return kOutOfTime;
        }
        if (n == 1) {
            budget -= unit / 2;
            // A peer that never falls silent must not hold a line that is
            // stopping: the character is of no use to it any more.
            if (abandoned()) return kAbandoned;
            return c;
        }
        budget -= unit;
        // Expiries that came due meanwhile are raised now, not after the
        // whole exchange.
        raise_timer_events();
        if (abandoned()) return kAbandoned;
        if (budget <= 0) return kOutOfTime;
    }
}

int secsicomm::send_char(uint8_t c) {
    const int32_t in_use = port_in_use.load();
    if (serial::sio_lstatus(in_use) < 0) {
        msg.log(kPortError, "ERROR: Writing to port");
        raise_notify(nSecsErrorPortWriteFailed);
        return -1;
    }
    // Discards only our own unsent output, never a character of the peer's.
    serial::sio_flush(in_use, 1);
    if (serial::sio_write(in_use, reinterpret_cast<const char*>(&c), 1) < 0) {
        msg.log(kPortError, "ERROR: Writing to port");
        raise_notify(nSecsErrorPortWriteFailed);
    }
    return 0;
}

int secsicomm::send_block(const S_BLOCK& block) {
    const int32_t in_use = port_in_use.load();
    serial::sio_flush(in_use, 0);
    if (msg.log_enabled(lmMsgHeaderSend)) {
        msg.log(lmMsgHeaderSend, "Sending  block. Length: '%d',\nheader: '%s'", block.data_length(),
                format_block_header(block).c_str());
    }
    const char length = static_cast<char>(block.length);
    const int count = block.length + 2;
    if (serial::sio_write(in_use, &length, 1) > 0 &&
        serial::sio_write(in_use, reinterpret_cast<const char*>(block.raw.data()), count) >= 0) {
        return 0;
    }
    msg.log(kPortError, "ERROR: Writing to port");
    raise_notify(nSecsErrorPortWriteFailed);
    return -1;
}

int secsicomm::receive_block() {
    int32_t budget = T2.load();
    const int length = listen_time(budget);
    if (length == kAbandoned) return -1;
    if (length == kOutOfTime) {
        if (!port_opened.load()) return -1;  // the read failed: nobody to answer
        raise_notify(nSecsErrorT2);
        msg.log(lmTimeout | lmMsgGeneral, "ERROR: T2 timeout - while waiting for receiving block length");
        msg.log(lmMsgHeaderSend, "Sending  NAK: '0x%02x'", NAK);
        send_char(NAK);
        return 0;
    }
    if (length < S_BLOCK::kMinLength || length > S_BLOCK::kMaxLength) {
        msg.log(kBlockError, "ERROR: Received bad length");
        raise_notify(nSecsErrorBadLength);
        completion();
        return 0;
    }
    if (serial::sio_lstatus(port_in_use.load()) < 0) {
        msg.log(kPortError, "ERROR: Reading from port");
        raise_notify(nSecsErrorPortReadFailed);
        return -1;
    }
    S_BLOCK block;
    const int wanted = length + 2;
    const int32_t limit = std::max<int32_t>(1, T1.load() / read_unit());
    int got = 0;
    int empty = 0;
    while (got < wanted) {
        const int n = read_port(block.raw.data() + got, wanted - got);
        if (n < 0) return -1;
        if (abandoned()) return -1;
        if (n > 0) {
            got += n;
            empty = 0;
            continue;
        }
        raise_timer_events();
        if (++empty >= limit) {
            msg.log(lmTimeout, "ERROR: T1 timeout - while receiving block");
            raise_notify(nSecsErrorT1);
            completion();
            return -1;
        }
    }
    block.length = static_cast<uint8_t>(length);
    block.compile();
    if (!block.is_correct_checksum()) {
        msg.log(kBlockError, "ERROR: Received incorrect checksum");
        raise_notify(nSecsErrorSum);
        completion();
        return 0;
    }
    if (msg.log_enabled(lmMsgHeaderReceived)) {
        msg.log(lmMsgHeaderReceived, "Received block. Length: '%d',\nheader: '%s'", block.data_length(),
                format_block_header(block).c_str());
    }
    msg.log(lmMsgHeaderSend, "Sending  ACK: '0x%02x'", ACK);
    send_char(ACK);
    accept_block(block);
    return 0;
}

void secsicomm::completion() {
    const int32_t t1 = T1.load();
    int32_t budget = t1;
    for (;;) {
        const int c = listen_time(budget);
        if (c == kAbandoned || !port_opened.load()) return;
        if (c != kOutOfTime) {
            // The peer is still sending: the quiet period starts again.
            if (t1 <= 0) return;
            budget = t1;
            continue;
        }
        msg.log(lmMsgHeaderSend, "Sending  NAK: '0x%02x'", NAK);
        send_char(NAK);
        return;
    }
}

void secsicomm::line_control() {
    S_BLOCK block;
    uint64_t entry_id;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (outbox_.empty()) return;
        const OutboxEntry& entry = outbox_.front();
        block = entry.blocks[entry.next];
        entry_id = entry.id;
    }
    const int32_t attempts = retry.load();
    for (int32_t attempt = 1; attempt <= attempts; ++attempt) {
        if (abandoned() || !port_opened.load()) break;
        msg.log(lmMsgHeaderSend, "Sending  ENQ: '0x%02x'", ENQ);
        send_char(ENQ);
        int32_t budget = T2.load();
        bool stop = false;
        for (;;) {
            const int c = listen_time(budget);
            if (c == kAbandoned) {
                stop = true;
                break;
            }
            if (c == EOT) {
                msg.log(lmMsgHeaderReceived, "Received EOT: '0x%02x'", EOT);
                send_block(block);
                int32_t answer_budget = T2.load();
                const int answer = listen_time(answer_budget);
                if (answer == ACK) {
                    msg.log(lmMsgHeaderReceived, "Received ACK: '0x%02x'", ACK);
                    send_end(true, entry_id);
                    return;
                }
                if (answer == kAbandoned) {
                    stop = true;
                } else if (answer == kOutOfTime) {
                    msg.log(lmTimeout, "ERROR: T2 timeout - while waiting for ACK");
                    raise_notify(nSecsErrorT2);
                } else {
                    msg.log(lmPortDetailed, "ERROR: Received unexpected char");
                    raise_notify(nSecsErrorUnexpectedChar);
                }
                break;
            }
            if (c == ENQ) {
                msg.log(lmMsgHeaderReceived, "Received ENQ: '0x%02x'", ENQ);
                if (master.load()) continue;  // the equipment keeps the line
                // The host yields: the block waits for a later Step, with
                // fresh attempts.
                msg.log(lmMsgHeaderSend, "Sending  EOT: '0x%02x'", EOT);
                send_char(EOT);
                receive_block();
                return;
            }
            if (c == kOutOfTime) {
                msg.log(lmTimeout, "ERROR: T2 timeout - while receiving EOT or ENQ");
                raise_notify(nSecsErrorT2);
                break;
            }
            // Any other character is ignored while the budget lasts.
        }
        if (stop || abandoned() || !port_opened.load()) break;
        if (attempt < attempts) {
            raise_notify(nSecsErrorRetry);
            msg.log(kPortError, "ERROR sending. try number %d", static_cast<int>(attempt + 1));
        }
    }
    send_end(false, entry_id);
}

}  // namespace tarvo
