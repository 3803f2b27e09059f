// HSMS data messages: queueing and sending (one per cycle) to the connection a
// message belongs to, giving up what cannot be sent, handling received data
// messages, expected replies and the reply timeout T3.
#include <algorithm>
#include <limits>
#include <utility>

#include "driver/hsms/secsitcp.h"
#include "driver/log/notify_code.h"
#include "driver/log/log_mask.h"

namespace tarvo {

// ---- sending ------------------------------------------------------------------

int secsitcp::queue_message(const MessageRecord& record) {
    const uint64_t length = uint64_t{hsms::kControlLength} + record.body.size();
    if (length > hsms::kMaxMessageLength) {
        // A peer of our own kind would drop it unread: refused like a text
        // that cannot be planned.
        msg.log(lmMsgNameSend | lmMsgGeneral,
                "ERROR: message not planned, %s is %llu bytes long, more than the %u bytes a peer takes",
                message_name(record).c_str(), static_cast<unsigned long long>(length), hsms::kMaxMessageLength);
        raise_notify(nSecsErrorListIncorrect);
        raise_written(0);
        return -1;
    }
    OutboxEntry entry{hsms::make_data_header(record), record.body, record.w_bit != 0, record.device_id,
                      record.connection};
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

std::vector<secsitcp::OutboxEntry> secsitcp::take_queued_locked(
    const std::function<bool(const OutboxEntry&)>& doomed) {
    std::vector<OutboxEntry> taken;
    for (auto it = outbox_.begin(); it != outbox_.end();) {
        if (doomed(*it)) {
            taken.push_back(std::move(*it));
            it = outbox_.erase(it);
        } else {
            ++it;
        }
    }
    return taken;
}

void secsitcp::give_up(const std::vector<OutboxEntry>& entries, Events& ev) {
    for (const OutboxEntry& entry : entries) {
        log_name(lmMsgNameSend | lmMsgGeneral, "Message was not sent. Name: '%s'", entry.header);
        log_header(lmMsgHeaderSend | lmMsgGeneral, "Message was not sent. Header: '%s'", entry.header);
        ev.push_back({Event::written, 0});
    }
}

int secsitcp::usr_msg_send(Events& ev) {
    OutboxEntry entry;
    int fd = -1;
    int remembered = -1;
    bool switched = false;
    uint64_t connection = 0;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (outbox_.empty()) return 0;
        entry = std::move(outbox_.front());
        outbox_.pop_front();
        if (!port_opened) {
            // Nothing to send on.
        } else if (conn_mode_cur == cmPASSIVE) {
            const Selected* target = nullptr;
            if (entry.connection != 0) {
                // A reply goes back where its primary came from, or nowhere.
                for (const Selected& s : selected_) {
                    if (s.connection == entry.connection) target = &s;
                }
            } else if (selected_.size() >= 2) {
                const uint16_t wanted = static_cast<uint16_t>(entry.device_id) & hsms::kSessionMask;
                for (const Selected& s : selected_) {
                    if ((s.session & hsms::kSessionMask) == wanted) {
                        target = &s;
                        break;
                    }
                }
            }
            if (target == nullptr && entry.connection == 0) {
                for (const Selected& s : selected_) {
                    if (s.socket == data_socket_) target = &s;
                }
            }
            if (target != nullptr) {
                fd = target->socket;
                connection = target->connection;
                if (selected_.size() >= 2) {
                    remembered = data_socket_;
                    switched = true;
                }
            }
        } else if (hsms_state == 3 && data_socket_ >= 0 &&
                   (entry.connection == 0 || entry.connection == active_connection_)) {
            fd = data_socket_;
            connection = active_connection_;
        }
    }
    if (fd < 0) {
        msg.log(lmPortDetailed, "ERROR sending. No selected connection for session '%d'",
                static_cast<int>(hsms::session_id(entry.header)));
        add_notify(ev, nSecsErrorPortWriteFailed);
        give_up({entry}, ev);
        return 1;
    }
    if (switched) msg.log(lmPortDetailed, "PASSIVE: changing socket from '%d' to '%d' to send", remembered, fd);

    int error = 0;
    const size_t total = entry.header.size() + entry.body.size();
    const size_t sent = hsms::send_all(fd, entry.header.data(), entry.header.size(), entry.body.data(),
                                       entry.body.size(), T8, error, abandon_check());
    const bool ok = sent == total;
    if (!ok) {
        msg.log(lmPortDetailed, "ERROR sending. WSAGetLastError = '%d'", error);
        add_notify(ev, nSecsErrorPortWriteFailed);
    }
    if (switched) msg.log(lmPortDetailed, "PASSIVE: changing socket from '%d' to '%d' back", fd, remembered);

    if (ok) {
        ev.push_back({Event::written, 1});
        log_name(lmMsgNameSend | lmMsgGeneral, "Message was sent. Name: '%s'", entry.header);
        log_header(lmMsgHeaderSend, "Message was sent. Header: '%s'", entry.header);
        if (entry.w_bit) {
            std::lock_guard<std::mutex> lock(mu_);
            timers::TimerId t3 = 0;
            timers_.set(t3, T3, static_cast<int>(TimerKind::t3), msg, ev);
            expected_.push_back({t3, entry.header, connection});
        }
    } else {
        give_up({entry}, ev);
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
    switch (hsms::read_exact(socket, header.data(), header.size(), limit, got, error, abandon_check())) {
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
    case hsms::ReadResult::abandoned:
        msg.log(lmPortDetailed, "Reading abandoned: the line is being closed");
        result = -1;
        break;
    case hsms::ReadResult::failed:
        msg.log(lmPortGeneral | lmPortDetailed, "ERROR: reading port.  WSAGetLastError = '%d'", error);
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

void secsitcp::usr_msg_recv(int socket, const hsms::Header& header, std::string body, Events& ev) {
    if (hsms::ptype(header) != 0) {
        send_reject(socket, header, hsms::rjPTypeNotSupported, ev);
        add_notify(ev, nSecsErrorMessageType);
        msg.log(lmMsgGeneral, "ERROR: Received message with unsupported PType '%d'", hsms::ptype(header));
        return;
    }
    if (hsms::stype(header) != hsms::stData) {
        send_reject(socket, header, hsms::rjSTypeNotSupported, ev);
        add_notify(ev, nSecsErrorMessageType);
        msg.log(lmMsgGeneral, "ERROR: Received wrong message type");
        return;
    }
    uint64_t connection;
    {
        std::lock_guard<std::mutex> lock(mu_);
        connection = selected_socket_locked(socket) ? connection_of_locked(socket) : 0;
    }
    if (connection == 0) {
        // Delivered, its reply would go to whichever client is selected.
        send_reject(socket, header, hsms::rjEntityNotSelected, ev);
        add_notify(ev, nSecsErrorMessageType);
        log_name(lmMsgGeneral, "ERROR: Received data message %s from a connection that is not selected", header);
        return;
    }
    if (!user_msg_expctd(header, connection) && (hsms::function(header) & 1) == 0) {
        log_name(lmMsgGeneral, "Received unexpected message. Name%% '%s'", header);
        add_notify(ev, nSecsErrorExtraBlock);
        return;
    }
    MessageRecord record = hsms::to_record(header, std::move(body));
    record.connection = connection;
    msg.add_received(std::move(record));
    log_name(lmMsgNameReceived | lmMsgGeneral, "Received message. Name: '%s'", header);
    ev.push_back({Event::read, 0});
}

bool secsitcp::user_msg_expctd(const hsms::Header& header, uint64_t connection) {
    // Only a secondary message answers: a primary of the peer's that happens
    // to carry the same system bytes is a message of its own.
    if ((hsms::function(header) & 1) != 0) return false;
    std::lock_guard<std::mutex> lock(mu_);
    for (auto it = expected_.begin(); it != expected_.end(); ++it) {
        if (it->connection == connection && hsms::answers(header, it->header)) {
            timers_.kill(it->t3);
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
        if (timers_.closed()) return;
        auto it = std::find_if(expected_.begin(), expected_.end(),
                               [id](const ExpectedReply& e) { return e.t3 == id; });
        if (it == expected_.end()) return;
        LineTimers::fired(it->t3);
        sent = it->header;
        expected_.erase(it);
    }
    add_notify(ev, nSecsErrorT3);
    log_name(lmTimeout, "ERROR: timeout T3 - waiting for reply to '%s'", sent);
    hand_to_worker(ev);
}

}  // namespace tarvo
