// The worker's cycle on the HSMS line: keep the line in the wanted state, wait
// for input (or a wake-up), serve what is readable, send one queued message.
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "driver/hsms/secsitcp.h"
#include "driver/line/notify_code.h"
#include "driver/messages/log_mask.h"

namespace tarvo {

namespace {

bool still_readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

}  // namespace

void secsitcp::idle_wait(int32_t ms) {
    pollfd p{wake_.fd(), POLLIN, 0};
    if (::poll(&p, 1, std::max<int32_t>(ms, 0)) > 0) wake_.drain();
}

bool secsitcp::sendable_locked() const {
    if (data_socket_ < 0) return false;
    if (conn_mode_cur == cmPASSIVE) return !selected_.empty();
    return hsms_state == 3;
}

int secsitcp::Step() {
    Events ev;
    int result = 0;
    {
        std::unique_lock<std::mutex> op(op_mu_);
        reap_doomed_op();
        bool pending;
        {
            std::lock_guard<std::mutex> lock(mu_);
            pending = t5_pending_;
        }
        if (!pending) init_line_op(ev);
        const int mode = conn_mode_cur;
        if (!port_opened || (mode != cmPASSIVE && mode != cmACTIVE)) {
            op.unlock();
            raise(ev);
            idle_wait(idle_sleep);
            return 0;
        }
        result = mode == cmPASSIVE ? Step_passive(op, ev) : Step_active(op, ev);
        if (port_opened) {
            bool send;
            {
                std::lock_guard<std::mutex> lock(mu_);
                send = !outbox_.empty() && sendable_locked();
            }
            if (send && usr_msg_send(ev) != 0) ++result;
        }
    }
    raise(ev);
    return result;
}

int secsitcp::Step_active(std::unique_lock<std::mutex>& op, Events& ev) {
    int fd;
    uint64_t generation;
    int32_t wait = idle_sleep;
    {
        std::lock_guard<std::mutex> lock(mu_);
        fd = data_socket_;
        generation = generation_;
        if (!outbox_.empty() && sendable_locked()) wait = 0;
    }
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_.fd(), POLLIN, 0}};
    op.unlock();
    raise(ev);
    const int n = ::poll(fds, 2, std::max<int32_t>(wait, 0));
    const int error = errno;
    op.lock();
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (generation != generation_) return 0;  // closed or reopened meanwhile
    }
    if (n < 0) {
        if (error == EINTR) return 0;
        msg.log(lmPortDetailed, "ACTIVE 'select()' failed: WSAGetLastError = '%d'", error);
        add_notify(ev, nSecsErrorPortReadFailed);
        hsms_state = 2;
        port_disconnect_op(ev);
        return -1;
    }
    if (fds[1].revents != 0) wake_.drain();
    if (fds[0].revents == 0) return 0;
    serve_socket(fd, ev);
    return 1;
}

int secsitcp::Step_passive(std::unique_lock<std::mutex>& op, Events& ev) {
    std::vector<pollfd> fds;
    int listening;
    uint64_t generation;
    int32_t wait = idle_sleep;
    {
        std::lock_guard<std::mutex> lock(mu_);
        fds.reserve(watched_.size() + 1);
        for (int fd : watched_) fds.push_back({fd, POLLIN, 0});
        listening = listen_socket_;
        generation = generation_;
        if (!outbox_.empty() && sendable_locked()) wait = 0;
    }
    fds.push_back({wake_.fd(), POLLIN, 0});
    op.unlock();
    raise(ev);
    const int n = ::poll(fds.data(), fds.size(), std::max<int32_t>(wait, 0));
    const int error = errno;
    op.lock();
    bool idle;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (generation != generation_) return 0;
        idle = passive_idle_;
    }
    if (idle) {
        port_disconnect_op(ev);
        return 0;
    }
    if (n < 0) {
        // Nothing is known to be readable; the next cycle waits again.
        if (error == EINTR) return 0;
        msg.log(lmPortDetailed, "PASSIVE 'select()' failed: WSAGetLastError = '%d'", error);
        add_notify(ev, nSecsErrorPortReadFailed);
        // Wait before the next attempt rather than failing again at once.
        op.unlock();
        raise(ev);
        idle_wait(idle_sleep);
        op.lock();
        return -1;
    }
    if (fds.back().revents != 0) wake_.drain();
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
        raise(ev);
        idle_wait(idle_sleep);
        op.lock();
    }
    return served > 0 ? 1 : 0;
}

bool secsitcp::accept_client(int listening, Events& ev) {
    const int fd = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
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
    hsms::set_no_delay(fd);
    std::lock_guard<std::mutex> lock(mu_);
    accept_failing_ = false;
    if (watched_.size() < kMaxWatchedSockets && std::find(watched_.begin(), watched_.end(), fd) == watched_.end()) {
        watched_.push_back(fd);
    }
    if (hsms_state == 1) hsms_state = 2;
    timer_kill_locked(idle_timer_);
    passive_idle_ = false;
    timers::TimerId t7 = 0;
    timer_set_locked(t7, T7, TimerKind::t7, ev);
    connected_.push_back({fd, t7});
    return true;
}

void secsitcp::serve_socket(int socket, Events& ev) {
    hsms::Header header{};
    const int result = port_read_header(socket, header, T8, ev);
    if (result != 0) {
        // The peer closed, or the byte stream can no longer be trusted (a gap
        // beyond T8 inside a header, a length out of range). A failed read
        // has ended the connection itself.
        if (result != -2) port_disconnect(socket, 4, ev);
        return;
    }
    if (!def_msg_chck(socket, header, ev)) usr_msg_recv(socket, header, ev);
}

}  // namespace tarvo
