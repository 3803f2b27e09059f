// The SECS-I line object: construction and destruction, defaults, the
// diagnostic dump, wake-ups and the events that timer callbacks hand over.
#include "driver/secs1/secsicomm.h"

#include <string>

#include "driver/line/secs1_defaults.h"
#include "driver/log/log_mask.h"
#include "driver/log/notify_code.h"

namespace tarvo {

secsicomm::secsicomm() : timers_([this](int /*kind*/, timers::TimerId id) { funcTimeProc(id); }) {
    set_defaults();
    if (wake_.fd() < 0) {
        // Without its wake-up event the worker would only see new messages
        // when a character arrives.
        msg.log(lmPortGeneral | lmPortDetailed, "ERROR: no wake-up event for the line's worker");
        raise_notify(nSecsErrorInternal);
    }
}

secsicomm::~secsicomm() {
    stopping.store(true);
    timers_.detach();
    std::vector<timers::TimerId> live;
    {
        std::lock_guard<std::mutex> op(op_mu_);
        LineEvents dropped;  // nobody to tell: the owner is replacing the line
        port_disconnect_op(dropped);
        std::lock_guard<std::mutex> lock(mu_);
        timers_.close();
        for (const Expected& e : expected_) {
            if (e.timer != 0) live.push_back(e.timer);
        }
        expected_.clear();
    }
    for (timers::TimerId id : live) timers::timer_kill(id);
}

void secsicomm::set_defaults() {
    namespace d = secs1_defaults;
    line_type = ltSECSI;
    T1 = d::kT1;
    T2 = d::kT2;
    T3 = d::kT3;
    T4 = d::kT4;
    retry = d::kRetry;
    port = d::kPort;
    master = d::kMaster;
    out_device_id = d::kOutDeviceId;
    out_source_id = d::kOutSourceId;
    out_transaction_id = d::kOutTransactionId;
    idle_sleep = d::kIdleSleep;
    baud_code = d::kBaudCode;
    line_mode = d::kLineMode;
    read_timeout = d::kReadTimeout;
    read_interval_timeout = d::kReadInterval;
    reopen_delay = d::kReopenDelay;
    restore_out_ids();
}

bool secsicomm::SetOutDeviceID(int /*id*/) { return true; }

std::string secsicomm::dump_buffers() {
    const std::string separator(52, '-');
    std::string text = separator + "\n";
    for (const char* heading : {" test buffer of all received messages:\n", " buffer of sending messages:\n",
                                " buffer of receiving messages:\n"}) {
        text += heading;
        text += separator + "\n";
    }
    return text;
}

void secsicomm::wake() { wake_.signal(); }

void secsicomm::raise_timer_events() {
    LineEvents ev;
    mailbox_.take(ev);
    raise_events(*this, ev);
}

}  // namespace tarvo
