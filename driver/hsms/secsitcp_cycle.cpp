// The worker's cycle on the HSMS line: keep the line in the wanted state, wait
// for input on every connection (or a wake-up), serve what is readable without
// waiting on any one peer, send or give up one queued message.
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>

#include "driver/hsms/secsitcp.h"
#include "driver/log/notify_code.h"
#include "driver/log/log_mask.h"

namespace tarvo {

namespace {

bool still_readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

}  // namespace

bool secsitcp::abandoned() const { return stopping.load() || !active_wanted.load(); }

uint64_t secsitcp::connection_of_locked(int socket) const {
    if (conn_mode_cur != cmPASSIVE) return socket == data_socket_ ? active_connection_ : 0;
    for (const Selected& s : selected_) {
        if (s.socket == socket) return s.connection;
    }
    for (const Connected& c : connected_) {
        if (c.socket == socket) return c.connection;
    }
    return 0;
}

bool secsitcp::selected_socket_locked(int socket) const {
    if (conn_mode_cur != cmPASSIVE) return socket == data_socket_ && hsms_state == 3;
    return std::any_of(selected_.begin(), selected_.end(), [socket](const Selected& s) { return s.socket == socket; });
}

int secsitcp::Step() {
    Events ev;
    int result = 0;
    {
        std::unique_lock<std::mutex> op(op_mu_);
        mailbox_.take(ev);
        reap_doomed_op();
        bool pending;
        {
            std::lock_guard<std::mutex> lock(mu_);
            pending = t5_pending_;
        }
        if (!pending) init_line_op(ev);
        const int mode = conn_mode_cur;
        if (!port_opened || (mode != cmPASSIVE && mode != cmACTIVE)) {
            // Nothing can go out: what is queued is given up now rather than
            // waiting without bound.
            while (usr_msg_send(ev) != 0) ++result;
            // A closed line sleeps until something changes: a call, or the
            // T5 timer of a pending retry. Only a retry that could not get a
            // timer comes back after the idle sleep.
            {
                std::lock_guard<std::mutex> lock(mu_);
                pending = t5_pending_;
            }
            const int32_t wait = active_wanted && !pending ? idle_sleep.load() : -1;
            op.unlock();
            raise_events(*this, ev);
            if (result == 0) wake_.wait(wait);
            return result;
        }
        result = Step_connections(op, ev);
        if (usr_msg_send(ev) != 0) ++result;
    }
    raise_events(*this, ev);
    return result;
}

int32_t secsitcp::expire_frames(Events& ev) {
    using namespace std::chrono;
    const auto now = steady_clock::now();
    const auto limit = milliseconds(std::max<int32_t>(T8, 0));
    constexpr int32_t kFar = INT32_MAX;
    int32_t next = kFar;
    std::vector<std::pair<int, bool>> expired;  // socket, still in its header
    for (const auto& [fd, frame] : frames_) {
        if (!frame.partial()) continue;
        const auto due = frame.last_byte() + limit;
        if (due <= now) {
            expired.emplace_back(fd, frame.in_header());
        } else {
            // Rounded up, so that the wait never ends just before the deadline.
            const auto left = duration_cast<milliseconds>(due - now).count() + 1;
            next = static_cast<int32_t>(std::min<int64_t>(next, left));
        }
    }
    for (const auto& [fd, in_header] : expired) {
        add_notify(ev, nSecsErrorT8);
        msg.log(lmTimeout, in_header ? "ERROR: timeout T6 or T8 - inter-character - while reading message header"
                                     : "ERROR: timeout T6 or T8 - inter-character - while reading message body");
        // The rest of the message may still come and would be taken for a header.
        port_disconnect(fd, 4, ev);
    }
    return next == kFar ? -1 : next;
}

int secsitcp::Step_connections(std::unique_lock<std::mutex>& op, Events& ev) {
    std::vector<pollfd> fds;
    int listening;
    uint64_t generation;
    // No periodic wake-up: the wait ends for input, a wake-up (a call, a
    // timer) or the next T8 deadline of a partial message.
    int32_t wait = expire_frames(ev);
    {
        std::lock_guard<std::mutex> lock(mu_);
        fds.reserve(watched_.size() + 1);
        for (int fd : watched_) fds.push_back({fd, POLLIN, 0});
        listening = listen_socket_;
        generation = generation_;
        if (!outbox_.empty()) wait = 0;
    }
    fds.push_back({wake_.fd(), POLLIN, 0});
    op.unlock();
    raise_events(*this, ev);
    const int n = ::poll(fds.data(), fds.size(), wake_.begin_wait(wait));
    const int error = errno;
    wake_.end_wait(n > 0 && fds.back().revents != 0);
    op.lock();
    bool idle;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (generation != generation_) return 0;  // closed or reopened meanwhile
        idle = conn_mode_cur == cmPASSIVE && passive_idle_;
    }
    if (idle) {
        port_disconnect_op(ev);
        return 0;
    }
    if (n < 0) {
        if (error == EINTR) return 0;
        if (conn_mode_cur != cmPASSIVE) {
            msg.log(lmPortDetailed, "ACTIVE 'select()' failed: WSAGetLastError = '%d'", error);
            add_notify(ev, nSecsErrorPortReadFailed);
            hsms_state = 2;
            port_disconnect_op(ev);
            return -1;
        }
        // Nothing is known to be readable; wait before the next attempt
        // rather than failing again at once.
        msg.log(lmPortDetailed, "PASSIVE 'select()' failed: WSAGetLastError = '%d'", error);
        add_notify(ev, nSecsErrorPortReadFailed);
        op.unlock();
        raise_events(*this, ev);
        wake_.wait(idle_sleep);
        op.lock();
        return -1;
    }
    fds.pop_back();
    std::vector<int> ready;
    for (const pollfd& p : fds) {
        if (p.revents != 0) ready.push_back(p.fd);
    }
    std::sort(ready.begin(), ready.end());
    const uint64_t closures = closures_;
    int served = 0;
    bool back_off = false;
    for (int fd : ready) {
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (generation != generation_) break;
            if (std::find(watched_.begin(), watched_.end(), fd) == watched_.end()) continue;
        }
        // A descriptor closed in this cycle may have been reused by an
        // accepted client: its readiness then no longer holds.
        if (closures != closures_ && !still_readable(fd)) continue;
        if (fd == listening) {
            if (!accept_client(listening, ev)) back_off = true;
        } else {
            serve_socket(fd, ev);
        }
        ++served;
    }
    if (back_off) {
        // The pending connection stays queued and the listening socket stays
        // readable: wait before trying again instead of spinning.
        op.unlock();
        raise_events(*this, ev);
        wake_.wait(idle_sleep);
        op.lock();
    }
    return served > 0 ? 1 : 0;
}

bool secsitcp::accept_client(int listening, Events& ev) {
    sockaddr_storage from{};
    socklen_t from_length = sizeof from;
    const int fd = ::accept4(listening, reinterpret_cast<sockaddr*>(&from), &from_length, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        // The connection went away before it was taken: nothing to do.
        if (error == EAGAIN || error == EWOULDBLOCK || error == ECONNABORTED || error == EINTR ||
            error == EPROTO) {
            return true;
        }
        // Out of descriptors or memory: the client waits in the backlog. Report
        // the first failure of a run with a notification, every one with a record.
        bool first;
        {
            std::lock_guard<std::mutex> lock(mu_);
            first = !accept_failing_;
            accept_failing_ = true;
        }
        msg.log(lmPortDetailed, "PASSIVE 'accept()' failed: WSAGetLastError = '%d'", error);
        if (first) add_notify(ev, nSecsErrorSocket);
        return false;
    }
    if (!allow_.admits(reinterpret_cast<const sockaddr*>(&from), from_length)) {
        // Closed before a byte is read, and never counted as a client.
        hsms::close_socket(fd);
        ++closures_;
        msg.log(lmPortGeneral | lmPortDetailed, "PASSIVE refused a client: '%s' is not allowed on port '%d'",
                net::address_text(reinterpret_cast<const sockaddr*>(&from), from_length).c_str(),
                static_cast<int>(port_in_use.load()));
        std::lock_guard<std::mutex> lock(mu_);
        accept_failing_ = false;
        return true;
    }
    const int limit = max_passv_connections;
    size_t open_clients;
    {
        std::lock_guard<std::mutex> lock(mu_);
        accept_failing_ = false;
        open_clients = connected_.size() + selected_.size();
    }
    if (limit >= 1 && open_clients >= static_cast<size_t>(limit)) {
        // Accepted only to be refused: a client left in the backlog would
        // wait for an answer that never comes.
        hsms::close_socket(fd);
        ++closures_;
        msg.log(lmPortGeneral | lmPortDetailed,
                "PASSIVE refused a client: '%d' client connections are open, MaxPassvConnections is '%d'",
                static_cast<int>(open_clients), limit);
        return true;
    }
    hsms::set_no_delay(fd);
    std::lock_guard<std::mutex> lock(mu_);
    if (std::find(watched_.begin(), watched_.end(), fd) == watched_.end()) watched_.push_back(fd);
    if (hsms_state == 1) hsms_state = 2;
    timers_.kill(idle_timer_);
    passive_idle_ = false;
    timers::TimerId t7 = 0;
    timers_.set(t7, T7, static_cast<int>(TimerKind::t7), msg, ev);
    connected_.push_back({fd, t7, ++last_connection_});
    return true;
}

void secsitcp::serve_socket(int socket, Events& ev) {
    hsms::FrameReader& frame = frames_[socket];
    int error = 0;
    const hsms::FrameReader::Status status = frame.read_some(socket, kReadBudget, error);
    switch (status) {
    case hsms::FrameReader::Status::incomplete: return;
    case hsms::FrameReader::Status::closed:
        msg.log(lmPortGeneral | lmPortDetailed, "PASSIVE. ACTIVE client disconnected");
        port_disconnect(socket, 4, ev);
        return;
    case hsms::FrameReader::Status::failed:
        msg.log(lmPortGeneral | lmPortDetailed, "ERROR: reading port.  WSAGetLastError = '%d'", error);
        // The connection ends before the failure is told.
        port_disconnect(socket, 4, ev);
        add_notify(ev, nSecsErrorPortReadFailed);
        return;
    case hsms::FrameReader::Status::bad_length:
        log_header(lmMsgHeaderReceived, "Received message. Header: '%s'", frame.header());
        // The byte stream can no longer be trusted.
        msg.log(lmMsgGeneral | lmPortGeneral | lmPortDetailed,
                "ERROR: reading port. Message length '%u' outside 10 to %u", hsms::message_length(frame.header()),
                hsms::kMaxMessageLength);
        add_notify(ev, nSecsErrorPortReadFailed);
        port_disconnect(socket, 4, ev);
        return;
    case hsms::FrameReader::Status::complete: break;
    }
    hsms::Header header = frame.header();
    std::string body = frame.take_body();
    log_header(lmMsgHeaderReceived, "Received message. Header: '%s'", header);
    if (body.empty() && def_msg_chck(socket, header, ev)) return;
    usr_msg_recv(socket, header, std::move(body), ev);
}

}  // namespace tarvo
