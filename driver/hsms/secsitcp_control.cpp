// HSMS control messages: Select, Deselect, Linktest, Reject and Separate as
// initiator and responder, the select status codes, and T7 (not selected).
#include <sys/socket.h>

#include <algorithm>

#include "driver/hsms/secsitcp.h"
#include "driver/log/notify_code.h"
#include "driver/log/log_mask.h"

namespace tarvo {

hsms::Header secsitcp::def_msg_make(uint8_t type) const {
    return hsms::make_control_header(type, static_cast<uint16_t>(out_device_id.load()),
                                     static_cast<uint16_t>(out_source_id.load()),
                                     static_cast<uint16_t>(out_transaction_id.load()));
}

int secsitcp::def_msg_send(int socket, uint8_t type, Events& ev) { return send_answer(socket, def_msg_make(type), ev); }

int secsitcp::send_answer(int socket, const hsms::Header& header, Events& ev) {
    log_header(lmMsgHeaderSend, "Sending ctrl msg. Header: '%s'", header);
    int error = 0;
    if (hsms::send_all(socket, header.data(), header.size(), nullptr, 0, T8, error, abandon_check()) <
        header.size()) {
        msg.log(lmPortDetailed, "ERROR sending. WSAGetLastError = '%d'", error);
        add_notify(ev, nSecsErrorPortWriteFailed);
        return -1;
    }
    return 0;
}

void secsitcp::send_reject(int socket, const hsms::Header& rejected, hsms::RejectReason reason, Events& ev) {
    send_answer(socket, hsms::make_reject_header(rejected, reason), ev);
}

int secsitcp::def_mes_recv(int socket, uint8_t expected, Events& ev) {
    hsms::Header header{};
    if (port_read_header(socket, header, T6, ev) != 0) return -1;
    // An answer with a body is no answer: its bytes would be taken for the next header.
    if (!hsms::is_control_message(header) || hsms::stype(header) != expected) {
        add_notify(ev, nSecsErrorMessageType);
        msg.log(lmMsgGeneral | lmPortDetailed, "ERROR: Received wrong message type");
        return -1;
    }
    switch (header[7]) {
    case 0: return 0;
    case 1:
        msg.log(lmPortDetailed, "Select.rsp: communication already active");
        add_notify(ev, nSecsErrorSelectAlreadyAct);
        break;
    case 2:
        msg.log(lmPortDetailed, "Select.rsp: communication not ready");
        add_notify(ev, nSecsErrorSelectNotReady);
        break;
    case 3:
        msg.log(lmPortDetailed, "Select.rsp: communication exhaust");
        add_notify(ev, nSecsErrorSelectConnExhaust);
        break;
    default:
        msg.log(lmPortDetailed, "Select.rsp: communication exhaust");
        add_notify(ev, nSecsErrorSelectReserved);
        break;
    }
    return -1;
}

bool secsitcp::def_msg_chck(int socket, hsms::Header& header, Events& ev) {
    if (!hsms::is_control_message(header)) return false;
    switch (hsms::stype(header)) {
    case hsms::stSelectReq:
        header[6] = 0;
        header[7] = select_status(socket, header, ev);
        header[9] = hsms::stSelectRsp;
        send_answer(socket, header, ev);
        break;
    case hsms::stDeselectReq:
        header[6] = 0;
        header[7] = 0;
        header[9] = hsms::stDeselectRsp;
        send_answer(socket, header, ev);
        port_disconnect(socket, 4, ev);
        break;
    case hsms::stLinktestReq:
        header[6] = 0;
        header[7] = 0;
        header[9] = hsms::stLinktestRsp;
        send_answer(socket, header, ev);
        break;
    case hsms::stRejectReq:
        // Never answered, so two lines never reject each other in a loop.
        add_notify(ev, nSecsErrorReject);
        msg.log(lmPortGeneral | lmPortDetailed, "line sent reject");
        break;
    case hsms::stSeparateReq:
        msg.log(lmPortDetailed, "line sent separate");
        port_disconnect(socket, 4, ev);
        break;
    case hsms::stSelectRsp:
    case hsms::stDeselectRsp:
    case hsms::stLinktestRsp:
        // An answer to a request this line never made (or no longer waits for).
        send_reject(socket, header, hsms::rjTransactionNotOpen, ev);
        add_notify(ev, nSecsErrorExtraBlock);
        msg.log(lmMsgGeneral, "ERROR: Received control message SType '%d' that answers no open transaction",
                hsms::stype(header));
        break;
    default:
        send_reject(socket, header, hsms::rjSTypeNotSupported, ev);
        add_notify(ev, nSecsErrorMessageType);
        msg.log(lmMsgGeneral, "ERROR: Received wrong message type");
        break;
    }
    return true;
}

uint8_t secsitcp::select_status(int socket, const hsms::Header& header, Events& ev) {
    if (conn_mode_cur != cmPASSIVE) return 3;  // an active line has its one connection
    const uint16_t session = hsms::session_id(header);
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (const Selected& s : selected_) {
            if (s.session == session || s.socket == socket) return 1;
        }
        auto c = std::find_if(connected_.begin(), connected_.end(),
                              [socket](const Connected& e) { return e.socket == socket; });
        if (c == connected_.end()) return 1;
        timers_.kill(c->t7);
        const uint64_t connection = c->connection;
        connected_.erase(c);
        selected_.push_back({session, socket, connection});
        if (selected_.size() == 1) {
            hsms_state = 3;
            out_device_id = session;
            restore_out_ids();
            data_socket_ = socket;
        }
    }
    msg.log(lmPortGeneral | lmPortDetailed, "PASSIVE. ACTIVE client connected");
    add_notify(ev, nHSMSConnectionPassivePlus);
    return 0;
}

void secsitcp::funcTimeProcTCPSel(timers::TimerId id) {
    Events ev;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (timers_.closed() || conn_mode_cur != cmPASSIVE) return;
        auto c = std::find_if(connected_.begin(), connected_.end(),
                              [id](const Connected& e) { return e.t7 == id; });
        if (c == connected_.end()) return;
        LineTimers::fired(c->t7);
        const int fd = c->socket;
        connected_.erase(c);
        watched_.erase(std::remove(watched_.begin(), watched_.end(), fd), watched_.end());
        // The worker may be waiting on this descriptor: the peer learns of the
        // end now, the descriptor itself is closed by the worker.
        ::shutdown(fd, SHUT_RDWR);
        doomed_.push_back(fd);
        passive_idle_restart_locked(ev);
    }
    add_notify(ev, nSecsErrorT7);
    msg.log(lmTimeout, "ERROR: timeout T7 - Connection Idle - selection not established in passive mode");
    hand_to_worker(ev);
}

}  // namespace tarvo
