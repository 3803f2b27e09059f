// HSMS data messages: queueing and sending (one per cycle), choosing the
// passive client by session ID, reading headers and bodies with the
// inter-character limit, expected replies and the reply timeout T3.
#include <algorithm>
#include <limits>
#include <utility>

#include "driver/hsms/secsitcp.h"
#include "driver/line/notify_code.h"
#include "driver/messages/log_mask.h"

namespace tarvo {

// ---- sending ------------------------------------------------------------------

int secsitcp::queue_message(const MessageRecord& record) {
    if (record.body.size() > std::numeric_limits<uint32_t>::max() - hsms::kControlLength) {
        // The length field cannot describe it.
        msg.log(lmMsgNameSend | lmMsgGeneral, "Message was not sent. Name: '%s'", message_name(record).c_str());
        raise_notify(nSecsErrorPortWriteFailed);
        raise_written(0);
        return -1;
    }
    OutboxEntry entry{hsms::make_data_header(record), record.body, record.w_bit != 0, record.device_id};
    {
        std::lock_guard<std::mutex> lock(mu_);
        outbox_.push_back(std::move(entry));
    }
    wake();
    return 0;
}

bool secsitcp::SetOutDeviceID(int id) {
    std::lock_guard<std::mutex> lock(mu_);
    if (conn_mode_cur != cmPASSIVE) return true;
    const uint16_t wanted = static_cast<uint16_t>(id) & hsms::kSessionMask;
    for (const Selected& s : selected_) {
        if ((s.session & hsms::kSessionMask) == wanted) {
            data_socket_ = s.socket;
            return true;
        }
    }
    return false;
}

int secsitcp::usr_msg_send(Events& ev) {
    OutboxEntry entry;
    int fd;
    int remembered = -1;
    bool switched = false;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (outbox_.empty()) return 0;
        entry = std::move(outbox_.front());
        outbox_.pop_front();
        fd = data_socket_;
        if (conn_mode_cur == cmPASSIVE && selected_.size() >= 2) {
            // Only this sending goes to the client of the message's session.
            remembered = fd;
            switched = true;
            const uint16_t wanted = static_cast<uint16_t>(entry.device_id) & hsms::kSessionMask;
            for (const Selected& s : selected_) {
                if ((s.session & hsms::kSessionMask) == wanted) {
                    fd = s.socket;
                    break;
                }
            }
        }
    }
    if (switched) msg.log(lmPortDetailed, "PASSIVE: changing socket from '%d' to '%d' to send", remembered, fd);

    int error = 0;
    const size_t total = entry.header.size() + entry.body.size();
    const size_t sent =
        hsms::send_all(fd, entry.header.data(), entry.header.size(), entry.body.data(), entry.body.size(), T8, error);
    const bool ok = sent == total;
    if (!ok) {
        msg.log(lmPortDetailed, "ERROR sending. WSAGetLastError = '%d'", error);
        add_notify(ev, nSecsErrorPortWriteFailed);
    }
    if (switched) msg.log(lmPortDetailed, "PASSIVE: changing socket from '%d' to '%d' back", fd, remembered);
    ev.push_back({Event::written, ok ? 1 : 0});

    if (ok) {
        log_name(lmMsgNameSend | lmMsgGeneral, "Message was sent. Name: '%s'", entry.header);
        log_header(lmMsgHeaderSend, "Message was sent. Header: '%s'", entry.header);
        if (entry.w_bit) {
            std::lock_guard<std::mutex> lock(mu_);
            timers::TimerId t3 = 0;
            timer_set_locked(t3, T3, TimerKind::t3, ev);
            expected_.push_back({t3, entry.header});
        }
    } else {
        log_name(lmMsgNameSend | lmMsgGeneral, "Message was not sent. Name: '%s'", entry.header);
        log_header(lmMsgHeaderSend | lmMsgGeneral, "Message was not sent. Header: '%s'", entry.header);
        // Part of a message went out: the peer can no longer find the next header.
        if (sent > 0) port_disconnect(fd, 4, ev);
    }
    return 1;
}

// ---- receiving ------------------------------------------------------------------

int secsitcp::port_read_header(int socket, hsms::Header& header, int32_t limit, Events& ev) {
    size_t got = 0;
    int error = 0;
    int result = 0;
    switch (hsms::read_exact(socket, header.data(), header.size(), limit, got, error)) {
    case hsms::ReadResult::done: break;
    case hsms::ReadResult::closed:
        msg.log(lmPortGeneral | lmPortDetailed, "PASSIVE. ACTIVE client disconnected");
        result = 2;
        break;
    case hsms::ReadResult::timed_out:
        add_notify(ev, nSecsErrorT8);
        msg.log(lmTimeout, "ERROR: timeout T6 or T8 - inter-character - while reading message header");
        result = -1;
        break;
    case hsms::ReadResult::failed:
        msg.log(lmPortGeneral | lmPortDetailed, "ERROR: reading port.  WSAGetLastError = '%d'", error);
        // The connection ends before the failure is told (an opening in
        // progress closes its own socket).
        if (port_opened) port_disconnect(socket, 4, ev);
        add_notify(ev, nSecsErrorPortReadFailed);
        result = -2;
        break;
    }
    log_header(lmMsgHeaderReceived, "Received message. Header: '%s'", header);
    if (result == 0 && !hsms::length_acceptable(hsms::message_length(header))) {
        msg.log(lmMsgGeneral | lmPortGeneral | lmPortDetailed,
                "ERROR: reading port. Message length '%u' outside 10 to %u", hsms::message_length(header),
                hsms::kMaxMessageLength);
        add_notify(ev, nSecsErrorPortReadFailed);
        result = -3;
    }
    return result;
}

void secsitcp::usr_msg_recv(int socket, const hsms::Header& header, Events& ev) {
    const size_t body_length = hsms::message_length(header) - hsms::kControlLength;
    std::string body;
    if (body_length > 0) {
        int error = 0;
        switch (hsms::read_exact(socket, body, body_length, T8, error)) {
        case hsms::ReadResult::done: break;
        case hsms::ReadResult::closed:
            msg.log(lmPortGeneral | lmPortDetailed, "PASSIVE. ACTIVE client disconnected");
            port_disconnect(socket, 4, ev);
            return;
        case hsms::ReadResult::failed:
            msg.log(lmPortGeneral | lmPortDetailed, "ERROR: reading port.  WSAGetLastError = '%d'", error);
            port_disconnect(socket, 4, ev);
            add_notify(ev, nSecsErrorPortReadFailed);
            return;
        case hsms::ReadResult::timed_out:
            add_notify(ev, nSecsErrorT8);
            msg.log(lmTimeout, "ERROR: timeout T6 or T8 - inter-character - while reading message body");
            // The rest of the body may still come and would be taken for a header.
            port_disconnect(socket, 4, ev);
            return;
        }
    }
    if (hsms::stype(header) != hsms::stData) {
        def_msg_send(socket, hsms::stRejectReq, ev);
        add_notify(ev, nSecsErrorMessageType);
        msg.log(lmMsgGeneral, "ERROR: Received wrong message type");
        return;
    }
    if (!user_msg_expctd(header) && (hsms::function(header) & 1) == 0) {
        log_name(lmMsgGeneral, "Received unexpected message. Name%% '%s'", header);
        add_notify(ev, nSecsErrorExtraBlock);
        return;
    }
    msg.add_received(hsms::to_record(header, std::move(body)));
    log_name(lmMsgNameReceived | lmMsgGeneral, "Received message. Name: '%s'", header);
    ev.push_back({Event::read, 0});
}

bool secsitcp::user_msg_expctd(const hsms::Header& header) {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto it = expected_.begin(); it != expected_.end(); ++it) {
        if (hsms::answers(header, it->header)) {
            timer_kill_locked(it->t3);
            expected_.erase(it);
            return true;
        }
    }
    return false;
}

void secsitcp::funcTimeProcTCPT3(timers::TimerId id) {
    Events ev;
    hsms::Header sent;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (closing_) return;
        auto it = std::find_if(expected_.begin(), expected_.end(),
                               [id](const ExpectedReply& e) { return e.t3 == id; });
        if (it == expected_.end()) return;
        timer_fired_locked(it->t3);
        sent = it->header;
        expected_.erase(it);
    }
    add_notify(ev, nSecsErrorT3);
    log_name(lmTimeout, "ERROR: timeout T3 - waiting for reply to '%s'", sent);
    raise(ev);
}

}  // namespace tarvo
