// Connection management of the HSMS line: keeping the line in the wanted
// state, active and passive opening, alternation, closing the line or one
// connection, and the connect-separation timeout T5.
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>

#include "driver/hsms/secsitcp.h"
#include "driver/log/notify_code.h"
#include "driver/log/log_mask.h"

namespace tarvo {

namespace {

// An opening waits this long at least for the TCP connection, whatever T6.
constexpr int32_t kMinConnectWait = 1000;

template <typename T>
void erase_value(std::vector<T>& v, const T& value) {
    v.erase(std::remove(v.begin(), v.end(), value), v.end());
}

}  // namespace

// ---- public entry points ------------------------------------------------------

int secsitcp::init_line() {
    Events ev;
    int result;
    {
        std::lock_guard<std::mutex> op(op_mu_);
        result = init_line_op(ev);
    }
    wake();
    raise_events(*this, ev);
    return result;
}

int secsitcp::port_open() {
    Events ev;
    int result = 0;
    {
        std::lock_guard<std::mutex> op(op_mu_);
        active_wanted = true;
        if (!port_opened) result = port_open_op(ev);
    }
    wake();
    raise_events(*this, ev);
    return result;
}

int secsitcp::port_disconnect() {
    Events ev;
    {
        std::lock_guard<std::mutex> op(op_mu_);
        port_disconnect_op(ev);
    }
    wake();
    raise_events(*this, ev);
    return 0;
}

// ---- keeping the line in the wanted state ----------------------------------------

int secsitcp::init_line_op(Events& ev) {
    const bool wanted = active_wanted;
    const bool opened = port_opened;
    const int mode_new = conn_mode_new;
    const int mode_cur = conn_mode_cur;
    if (wanted == opened && port == port_in_use && mode_new == mode_cur &&
        (mode_cur == cmPASSIVE || (mode_cur == cmACTIVE && host() == host_in_use()))) {
        return 0;
    }
    if (!wanted && !opened) return 0;

    if (conn_mode == cmALTERN && !opened) {
        // Fewer than one attempt per mode cannot be counted: such a line never switches.
        const int max = std::max<int>(max_altern_switches, 1);
        const int counter = (altern_counter + 1) % max;
        altern_counter = counter;
        if (counter == 1) {
            if (conn_mode_new == cmACTIVE) {
                conn_mode_new = cmPASSIVE;
                msg.log(lmPortGeneral, "ACTIVE: switching to PASSIVE connecting mode");
                add_notify(ev, nHSMSAlternStartedPassive);
            } else {
                conn_mode_new = cmACTIVE;
                msg.log(lmPortGeneral, "PASSIVE: switching to ACTIVE connecting mode");
                add_notify(ev, nHSMSAlternStartedActive);
            }
        }
    }

    if (wanted) {
        if (opened) {
            if (port == port_in_use) return 0;
            port_disconnect_op(ev);
        }
        port_opened = port_open_op(ev) == 0;
    } else if (opened) {
        port_disconnect_op(ev);
        port_opened = false;
    }
    return 0;
}

// ---- opening ------------------------------------------------------------------

int secsitcp::port_open_op(Events& ev) {
    const int port_number = port;
    int result;
    if (conn_mode_new == cmPASSIVE) {
        conn_mode_cur = cmPASSIVE;
        result = port_open_passive(port_number, ev);
    } else {
        conn_mode_new = cmACTIVE;
        conn_mode_cur = cmACTIVE;
        result = port_open_active(port_number, ev);
    }
    std::lock_guard<std::mutex> lock(mu_);
    ++generation_;
    if (result == 0) {
        timers_.kill(t5_timer_);
        t5_pending_ = false;
        port_in_use = port_number;
        port_opened = true;
        return 0;
    }
    // Closed again: no mode is current, and the next attempt follows T5.
    conn_mode_cur = cmNONE;
    hsms_state = 1;
    set_host_in_use("");
    timers_.kill(t5_timer_);
    // Without a timer the retry cannot wait: the next cycle tries again.
    t5_pending_ = timers_.set(t5_timer_, T5, static_cast<int>(TimerKind::t5), msg, ev);
    return -1;
}

int secsitcp::port_open_active(int port_number, Events& ev) {
    msg.log(lmPortGeneral, "ACTIVE opening port");
    const int fd = hsms::open_stream_socket();
    if (fd < 0) {
        msg.log(lmPortDetailed, "could not create socket(): err = '%d'", errno);
        add_notify(ev, nSecsErrorPortOpenFailed);
        return -1;
    }
    const std::string target = host();
    const int error =
        hsms::connect_within(fd, target, port_number, std::max<int32_t>(T6, kMinConnectWait), abandon_check());
    if (error == ECANCELED) {
        msg.log(lmPortDetailed, "ACTIVE opening abandoned: the line is being closed");
        hsms::close_socket(fd);
        return -1;
    }
    if (error != 0) {
        msg.log(lmPortDetailed, "ACTIVE 'connect()' failed: WSAGetLastError = '%d', host '%s', port '%d'", error,
                target.c_str(), port_number);
        add_notify(ev, nSecsErrorPortOpenFailed);
        hsms::close_socket(fd);
        return -1;
    }
    hsms::set_no_delay(fd);
    hsms_state = 2;
    {
        std::lock_guard<std::mutex> lock(mu_);
        data_socket_ = fd;
    }
    int result = 0;
    // A peer that keeps the Select.rsp back cannot hold a closing or a
    // release for longer than a slice of the wait.
    if (def_msg_send(fd, hsms::stSelectReq, ev) != 0) {
        msg.log(lmPortDetailed, "ACTIVE sending  select.req  failed");
        result = -1;
    } else if (def_mes_recv(fd, hsms::stSelectRsp, ev) != 0) {
        msg.log(lmPortDetailed, "ACTIVE getting  select.rsp  failed");
        result = -1;
    }
    if (result != 0) {
        {
            std::lock_guard<std::mutex> lock(mu_);
            data_socket_ = -1;
        }
        hsms::close_socket(fd);
        ++closures_;
        return -1;
    }
    {
        std::lock_guard<std::mutex> lock(mu_);
        active_connection_ = ++last_connection_;
        watched_.assign(1, fd);
    }
    hsms_state = 3;
    set_host_in_use(target);
    msg.log(lmPortGeneral | lmPortDetailed, "ACTIVE connection established to port  '%d'  of host  '%s'",
            port_number, target.c_str());
    add_notify(ev, nHSMSConnectionActive);
    return 0;
}

int secsitcp::port_open_passive(int port_number, Events& ev) {
    msg.log(lmPortGeneral, "PASSIVE opening port");
    const int fd = hsms::open_stream_socket();
    if (fd < 0) {
        msg.log(lmPortDetailed, "could not create socket(): err = '%d'", errno);
        add_notify(ev, nSecsErrorPortOpenFailed);
        return -1;
    }
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);

    // The host's first address is what the line reports as its host; it
    // listens on every local address, so a host name that maps to a loopback
    // or otherwise unreachable address does not hide the equipment. A name
    // that cannot be looked up is reported but does not stop the listening.
    std::string local = "0.0.0.0";
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        msg.log(lmPortDetailed, "PASSIVE 'gethostname()' failed: WSAGetLastError = '%d'", errno);
        add_notify(ev, nSecsErrorSocket);
    } else {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int rc = ::getaddrinfo(name, nullptr, &hints, &found);
        if (rc != 0 || found == nullptr) {
            msg.log(lmPortDetailed, "PASSIVE 'gethostbyname()' failed: WSAGetLastError = '%d'",
                    rc == EAI_SYSTEM ? errno : rc);
            add_notify(ev, nSecsErrorSocket);
        } else {
            const auto* a = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
            const auto* b = reinterpret_cast<const uint8_t*>(&a->sin_addr.s_addr);
            char text[16];
            std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
            local = text;
        }
        if (found != nullptr) ::freeaddrinfo(found);
    }
    set_host_in_use(local);

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port_number));
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        msg.log(lmPortDetailed, "PASSIVE 'bind()' port '%d' of host '%s' failed: WSAGetLastError = '%d'",
                port_number, local.c_str(), errno);
        add_notify(ev, nSecsErrorSocket);
        hsms::close_socket(fd);
        return -1;
    }
    // The backlog holds clients until the worker accepts them; without a
    // limit on clients (a value below 1) it is the system's largest.
    const int backlog = max_passv_connections;
    if (::listen(fd, backlog >= 1 ? backlog : SOMAXCONN) != 0) {
        msg.log(lmPortDetailed, "PASSIVE 'listen()' to '%d' clients failed: WSAGetLastError = '%d'", backlog,
                errno);
        add_notify(ev, nSecsErrorSocket);
        hsms::close_socket(fd);
        return -1;
    }
    // Who may connect is read at every opening.
    std::vector<std::string> problems;
    allow_ = net::AllowList::load(port_number, problems);
    for (const std::string& problem : problems) msg.log(lmPortGeneral | lmPortDetailed, "allow file %s", problem.c_str());
    {
        std::lock_guard<std::mutex> lock(mu_);
        listen_socket_ = fd;
        watched_.assign(1, fd);
        hsms_state = 2;
        timers_.kill(idle_timer_);
        timers_.set(idle_timer_, T5, static_cast<int>(TimerKind::t5), msg, ev);
        passive_idle_ = false;
    }
    msg.log(lmPortDetailed, "PASSIVE port '%d' opened for '%d' clients", port_number, backlog);
    return 0;
}

// ---- closing ----------------------------------------------------------------------

void secsitcp::reap_doomed_op() {
    std::vector<int> doomed;
    {
        std::lock_guard<std::mutex> lock(mu_);
        doomed.swap(doomed_);
    }
    for (int fd : doomed) {
        frames_.erase(fd);
        ::close(fd);  // already shut down by the timer callback
        ++closures_;
    }
}

void secsitcp::close_connection_op(int socket) {
    if (socket < 0) return;
    frames_.erase(socket);
    hsms::close_socket(socket);
    ++closures_;
}

int secsitcp::port_disconnect_op(Events& ev) {
    reap_doomed_op();
    std::vector<OutboxEntry> unsent;
    {
        // Nothing queued while the line was open goes out on a later opening.
        std::lock_guard<std::mutex> lock(mu_);
        unsent = take_queued_locked([](const OutboxEntry&) { return true; });
    }
    give_up(unsent, ev);
    if (!port_opened) {
        // A deactivated line does not come back after T5.
        if (!active_wanted) {
            std::lock_guard<std::mutex> lock(mu_);
            timers_.kill(t5_timer_);
            t5_pending_ = false;
        }
        return 0;
    }
    const bool selected_state = hsms_state == 3;
    if (conn_mode_cur != cmPASSIVE) {
        int fd;
        {
            std::lock_guard<std::mutex> lock(mu_);
            fd = data_socket_;
        }
        if (selected_state && fd >= 0) def_msg_send(fd, hsms::stSeparateReq, ev);
        {
            std::lock_guard<std::mutex> lock(mu_);
            timers_.kill(t5_timer_);
            t5_pending_ = false;
            data_socket_ = -1;
            active_connection_ = 0;
            watched_.clear();
        }
        close_connection_op(fd);
        msg.log(lmPortDetailed, "ACTIVE port closed");
    } else {
        std::vector<Selected> selected;
        std::vector<Connected> connected;
        int listening;
        {
            std::lock_guard<std::mutex> lock(mu_);
            selected.swap(selected_);
            connected.swap(connected_);
            // Clients that never selected go with the port: nothing would read them.
            for (Connected& c : connected) timers_.kill(c.t7);
            timers_.kill(t5_timer_);
            t5_pending_ = false;
            timers_.kill(idle_timer_);
            passive_idle_ = false;
            listening = listen_socket_;
            listen_socket_ = -1;
            data_socket_ = -1;
            watched_.clear();
        }
        for (const Selected& s : selected) {
            if (selected_state) def_msg_send(s.socket, hsms::stSeparateReq, ev);
            close_connection_op(s.socket);
            if (selected_state) add_notify(ev, nHSMSConnectionPassiveMinus);
        }
        for (const Connected& c : connected) close_connection_op(c.socket);
        close_connection_op(listening);
        msg.log(lmPortGeneral | lmPortDetailed, "PASSIVE port closed");
    }
    {
        std::lock_guard<std::mutex> lock(mu_);
        ++generation_;
        conn_mode_cur = cmNONE;
        port_in_use = -1;
        hsms_state = 1;
        port_opened = false;
    }
    set_host_in_use("");
    return 0;
}

void secsitcp::data_client_left_locked(int socket) {
    if (data_socket_ != socket) return;
    // The next selected client becomes the target, as if it had selected alone.
    if (selected_.empty()) {
        data_socket_ = -1;
        return;
    }
    data_socket_ = selected_.front().socket;
    out_device_id = selected_.front().session;
    restore_out_ids();
}

void secsitcp::passive_idle_restart_locked(Events& ev) {
    if (conn_mode_cur != cmPASSIVE || !port_opened || !connected_.empty() || !selected_.empty()) return;
    hsms_state = 2;
    timers_.kill(idle_timer_);
    timers_.set(idle_timer_, T5, static_cast<int>(TimerKind::t5), msg, ev);
    passive_idle_ = false;
}

void secsitcp::port_disconnect(int socket, int ds_type, Events& ev) {
    (void)ds_type;  // only the peer or the protocol ends a connection here (4)
    if (conn_mode_cur != cmPASSIVE) {
        hsms_state = 2;
        port_disconnect_op(ev);
        return;
    }
    bool whole = false;
    bool closed = false;
    bool was_selected = false;
    uint64_t connection = 0;
    {
        std::lock_guard<std::mutex> lock(mu_);
        connection = connection_of_locked(socket);
        if (socket == listen_socket_) {
            whole = true;
        } else {
            auto c = std::find_if(connected_.begin(), connected_.end(),
                                  [socket](const Connected& e) { return e.socket == socket; });
            if (c != connected_.end()) {
                timers_.kill(c->t7);
                connected_.erase(c);
                erase_value(watched_, socket);
                closed = true;
            } else {
                auto s = std::find_if(selected_.begin(), selected_.end(),
                                      [socket](const Selected& e) { return e.socket == socket; });
                if (s != selected_.end()) {
                    selected_.erase(s);
                    erase_value(watched_, socket);
                    data_client_left_locked(socket);
                    closed = true;
                    was_selected = true;
                }
            }
        }
    }
    if (whole) {
        hsms_state = 2;
        port_disconnect_op(ev);
        return;
    }
    if (closed) close_connection_op(socket);
    if (was_selected) add_notify(ev, nHSMSConnectionPassiveMinus);
    std::vector<OutboxEntry> unsent;
    {
        std::lock_guard<std::mutex> lock(mu_);
        // Replies still queued for this client have nowhere to go now.
        if (connection != 0) {
            unsent = take_queued_locked([connection](const OutboxEntry& e) { return e.connection == connection; });
        }
        passive_idle_restart_locked(ev);
    }
    give_up(unsent, ev);
}

// ---- T5 ---------------------------------------------------------------------------

void secsitcp::funcTimeProcTCPT5(timers::TimerId id) {
    Events ev;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (timers_.closed()) return;
        if (t5_pending_ && id == t5_timer_) {
            LineTimers::fired(t5_timer_);
            msg.log(lmTimeoutT5, "timeout: T5 - Connect Separation, trying to reopen port");
            add_notify(ev, nSecsErrorT5);
            t5_pending_ = false;
        } else if (conn_mode_cur == cmPASSIVE && id == idle_timer_) {
            LineTimers::fired(idle_timer_);
            add_notify(ev, nSecsErrorT5);
            msg.log(lmTimeoutT5, "timeout: T5 - Connect Separation, no one connected in passive mode");
            passive_idle_ = true;
        } else {
            return;
        }
    }
    // Told by the worker before it acts on it.
    hand_to_worker(ev);
}

}  // namespace tarvo
