// The HSMS line object: construction and destruction, defaults, the getters of
// the selected table, the diagnostic dump, event raising and the timer facility.
#include "driver/hsms/secsitcp.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "driver/log/notify_code.h"
#include "driver/log/log_mask.h"

namespace tarvo {

secsitcp::secsitcp() : timers_([this](int kind, timers::TimerId id) { on_timer(static_cast<TimerKind>(kind), id); }) {
    set_defaults();
    if (wake_.fd() < 0) {
        // Without its wake-up descriptor the line cannot wait for input.
        msg.log(lmPortGeneral | lmPortDetailed, "SOCKET FAILED: could not find a usable WinSock DLL.");
        raise_notify(nSecsErrorSocket);
    }
}

secsitcp::~secsitcp() {
    // From here on no timer callback reaches the line.
    timers_.detach();
    std::vector<timers::TimerId> live;
    {
        std::lock_guard<std::mutex> op(op_mu_);
        Events dropped;  // nobody to tell: the owner is replacing the line
        port_disconnect_op(dropped);
        reap_doomed_op();
        std::lock_guard<std::mutex> lock(mu_);
        timers_.close();
        for (Connected& c : connected_) {
            if (c.t7 != 0) live.push_back(c.t7);
            hsms::close_socket(c.socket);
        }
        connected_.clear();
        for (const ExpectedReply& e : expected_) {
            if (e.t3 != 0) live.push_back(e.t3);
        }
        expected_.clear();
        if (t5_timer_ != 0) live.push_back(t5_timer_);
        if (idle_timer_ != 0) live.push_back(idle_timer_);
        t5_timer_ = idle_timer_ = 0;
    }
    for (timers::TimerId id : live) timers::timer_kill(id);
}

void secsitcp::set_defaults() {
    line_type = ltHSMS;
    port = 5000;
    set_host("127.0.0.1");
    conn_mode = cmALTERN;
    conn_mode_new = cmALTERN;
    altern_counter = 0;
    max_altern_switches = 10;
    max_passv_connections = 15;
    single_session = true;
    T1 = -1;
    T2 = -1;
    T4 = -1;
    retry = -1;
    baud_code = -1;
    T3 = 45000;
    T5 = 10000;
    T6 = 5000;
    T7 = 10000;
    T8 = 5000;
    master = false;
    out_device_id = 65535;
    out_source_id = 0;
    out_transaction_id = 2;
    idle_sleep = 200;
    restore_out_ids();
    // The connection state starts closed with no timers (member initialisers);
    // it is not reset here, so that a call on an open line leaks nothing.
    if (!port_opened) {
        conn_mode_cur = cmNONE;
        hsms_state = 1;
    }
}

int secsitcp::GetPassvSelectedSession(int client) {
    std::lock_guard<std::mutex> lock(mu_);
    if (client < 0 || static_cast<size_t>(client) >= selected_.size()) return 0;
    return selected_[static_cast<size_t>(client)].session;
}

int secsitcp::GetPassvSelectedQuan() {
    std::lock_guard<std::mutex> lock(mu_);
    return conn_mode_cur == cmPASSIVE ? static_cast<int>(selected_.size()) : 0;
}

std::string secsitcp::dump_buffers() {
    std::string text;
    char line[160];
    auto add = [&](int n) {
        if (n > 0) text.append(line, std::min(static_cast<size_t>(n), sizeof line - 1));
    };
    const size_t inbox = msg.inbox_count();
    std::lock_guard<std::mutex> lock(mu_);
    add(std::snprintf(line, sizeof line, "Modes: set=%d  new=%d  cur=%d  cou=%d  max=%d\n", conn_mode.load(),
                      conn_mode_new.load(), conn_mode_cur.load(), altern_counter.load(),
                      max_altern_switches.load()));
    add(std::snprintf(line, sizeof line, "Inbox  has %d unparsed messages.\n", static_cast<int>(inbox)));
    add(std::snprintf(line, sizeof line, "Outbox has %d unsent messages.\n", static_cast<int>(outbox_.size())));
    add(std::snprintf(line, sizeof line, "There  are %d expected replies.\n", static_cast<int>(expected_.size())));
    add(std::snprintf(line, sizeof line, "There  are %d connected clients:\n", static_cast<int>(connected_.size())));
    for (const Connected& c : connected_) {
        add(std::snprintf(line, sizeof line, "skt = %6d\t\ttimer = %6d\n", c.socket, static_cast<int>(c.t7)));
    }
    add(std::snprintf(line, sizeof line, "There  are %d selected clients:\n", static_cast<int>(selected_.size())));
    for (const Selected& s : selected_) {
        add(std::snprintf(line, sizeof line, "skt = %6d\t\tsessionID = %6d\n", s.socket, static_cast<int>(s.session)));
    }
    return text;
}

void secsitcp::wake() { wake_.signal(); }

void secsitcp::hand_to_worker(Events& ev) {
    mailbox_.put(ev);
    wake();
}

// ---- events and records ------------------------------------------------------

void secsitcp::log_header(uint32_t bits, const char* format, const hsms::Header& header) const {
    if (msg.log_enabled(bits)) msg.log(bits, format, hsms::format_header(header).c_str());
}

void secsitcp::log_name(uint32_t bits, const char* format, const hsms::Header& header) const {
    if (msg.log_enabled(bits)) msg.log(bits, format, hsms::header_name(header).c_str());
}

void secsitcp::on_timer(TimerKind kind, timers::TimerId id) {
    switch (kind) {
    case TimerKind::t3: funcTimeProcTCPT3(id); break;
    case TimerKind::t5: funcTimeProcTCPT5(id); break;
    case TimerKind::t7: funcTimeProcTCPSel(id); break;
    }
}

}  // namespace tarvo
