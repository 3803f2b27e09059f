// The serial port of the SECS-I line: opening, closing and reopening it, and
// the worker's cycle (Step), which serves the peer's ENQ before it sends.
#include <algorithm>
#include <chrono>

#include "driver/log/log_mask.h"
#include "driver/log/notify_code.h"
#include "driver/secs1/secsicomm.h"
#include "platform/serial/serial_port.h"

namespace tarvo {

namespace {

int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

int secsicomm::port_open() {
    {
        std::lock_guard<std::mutex> op(op_mu_);
        // Wanted from the start: a deactivation meanwhile ends a connect
        // to a TCP port at once.
        active_wanted.store(true);
        if (port_opened.load()) return 0;
        if (port_open_op() == 0) {
            wake();  // the worker may be asleep on the closed line
            return 0;
        }
        active_wanted.store(false);
    }
    // The caller learns of the failure once, as an event too; the worker's
    // own attempts to reopen a wanted port stay in the log.
    raise_notify(nSecsErrorPortOpenFailed);
    return -1;
}

int secsicomm::port_open_op() {
    const int32_t wanted = port.load();
    const int32_t baud = baud_code.load();
    serial::OpenOptions options;
    options.connect_ms = std::max<int32_t>(T2.load(), 1);
    options.user_timeout_ms = std::max<int32_t>(T2.load(), 1);
    options.abandon = [this] { return abandoned(); };
    const bool opened = serial::sio_open(wanted, options) == 0;
    log_port_reports(wanted);
    const int format = opened ? serial::sio_ioctl(wanted, baud, line_mode.load()) : serial::kFailed;
    if (format == serial::kBaudNotSet) {
        msg.log(lmPortGeneral | lmPortDetailed, "ERROR: baud rate %d cannot be set", static_cast<int>(code_to_baud(baud)));
    } else if (format == serial::kIgnored) {
        msg.log(lmPortGeneral | lmPortDetailed, "Port %d is a TCP stream: baud rate and line mode are ignored",
                static_cast<int>(wanted));
    }
    if (format >= 0 && serial::sio_SetReadTimeouts(wanted, read_timeout.load(), read_interval_timeout.load()) == 0) {
        msg.log(lmPortGeneral | lmPortDetailed, "Port %d was opened", static_cast<int>(wanted));
        port_in_use.store(wanted);
        port_opened.store(true);
        return 0;
    }
    port_opened.store(false);
    port_in_use.store(-1);
    // Only a port this line opened is closed: a number another line holds
    // stays with it.
    if (opened) serial::sio_close(wanted);
    msg.log(lmPortGeneral | lmPortDetailed, "Port %d could not be opened", static_cast<int>(wanted));
    if (const std::string why = serial::sio_last_error(wanted); !opened && !why.empty()) {
        msg.log(lmPortGeneral | lmPortDetailed, "ERROR: port %d: %s", static_cast<int>(wanted), why.c_str());
    }
    return -1;
}

void secsicomm::log_port_reports(int32_t number) {
    for (const std::string& text : serial::sio_take_reports(number)) {
        msg.log(lmPortGeneral | lmPortDetailed, "Port %d: %s", static_cast<int>(number), text.c_str());
    }
}

int secsicomm::port_disconnect() {
    LineEvents ev;
    {
        std::lock_guard<std::mutex> op(op_mu_);
        port_disconnect_op(ev);
    }
    raise_events(*this, ev);
    return 0;
}

void secsicomm::close_port_op() {
    const int32_t in_use = port_in_use.load();
    serial::sio_close(in_use);
    msg.log(lmPortGeneral | lmPortDetailed, "Port %d was closed", static_cast<int>(in_use));
    port_opened.store(false);
    port_in_use.store(-1);
    // A block of the next connection that repeats the last one of this
    // connection's headers is no repetition.
    std::lock_guard<std::mutex> lock(mu_);
    last_accepted_.reset();
}

int secsicomm::port_disconnect_op(LineEvents& ev) {
    if (port_opened.load()) close_port_op();
    // Nothing queued waits for a later opening.
    give_up_outbox("Message was not sent, the port was closed. Name: '%s'", 0, ev);
    return 0;
}

void secsicomm::port_lost() {
    {
        std::lock_guard<std::mutex> op(op_mu_);
        if (!port_opened.load()) return;
        close_port_op();
    }
    // A port that fails at once after every opening (a device that went
    // away) is not reopened more often than the reopen delay allows.
    reopen_after_ms_ = now_ms() + reopen_delay.load();
}

void secsicomm::give_up_outbox(const char* why, int code, LineEvents& ev) {
    std::deque<OutboxEntry> taken;
    {
        std::lock_guard<std::mutex> lock(mu_);
        taken.swap(outbox_);
    }
    for (const OutboxEntry& entry : taken) {
        msg.log(lmMsgNameSend | lmMsgGeneral, why, entry.name.c_str());
        if (code != 0) add_notify(ev, code);
        add_written(ev, 0);
    }
}

int secsicomm::init_line() {
    bring_port_in_line();
    return 0;
}

bool secsicomm::bring_port_in_line() {
    LineEvents ev;
    bool failed = false;
    {
        std::lock_guard<std::mutex> op(op_mu_);
        const bool wanted = active_wanted.load();
        const bool opened = port_opened.load();
        if (!wanted) {
            if (opened) port_disconnect_op(ev);
        } else if (opened && port.load() != port_in_use.load()) {
            port_disconnect_op(ev);
            failed = port_open_op() != 0;
        } else if (!opened) {
            const int64_t wait = reopen_after_ms_ - now_ms();
            if (wait > 0) {
                // Too soon after the port failed: try again when the time is up.
                failed = true;
            } else {
                failed = port_open_op() != 0;
            }
        }
    }
    raise_events(*this, ev);
    return !failed;
}

int secsicomm::Step() {
    const bool reopening = !bring_port_in_line();
    if (reopening) {
        // The worker waits out the reopen delay (a caller's init_line does not).
        const int64_t pending = reopen_after_ms_ - now_ms();
        wake_.wait(pending > 0 ? static_cast<int32_t>(pending) : reopen_delay.load());
    }
    raise_timer_events();
    if (!port_opened.load()) {
        LineEvents ev;
        {
            // Checked again under the opening lock: a message queued for an
            // opening that came in meanwhile is sent, not failed.
            std::lock_guard<std::mutex> op(op_mu_);
            if (!port_opened.load())
                give_up_outbox("ERROR sending. Port is not open. Name: '%s'", nSecsErrorPortWriteFailed, ev);
        }
        const bool gave_up = !ev.empty();
        raise_events(*this, ev);
        // A closed line that is not wanted waits to be woken; one that is
        // wanted tries again after the idle sleep. Not after the reopen wait
        // above: a wake-up it took (a deactivation) must reach the worker's
        // loop, not be waited for a second time.
        if (!gave_up && !reopening) wake_.wait(active_wanted.load() ? idle_sleep.load() : -1);
        return 0;
    }
    bool queued;
    {
        std::lock_guard<std::mutex> lock(mu_);
        queued = !outbox_.empty();
    }
    int count = 0;
    const int32_t in_use = port_in_use.load();
    // The peer's ENQ goes first; with nothing to send the line sleeps until
    // a character, a message or a wake-up arrives.
    const int ready = serial::sio_wait(in_use, wake_.fd(), wake_.begin_wait(queued ? 0 : -1));
    // Drained only after the wait: whatever asked for a wake-up before this
    // point (a queued message, a stop, a deactivation) is seen after it.
    wake_.end_wait();
    log_port_reports(in_use);
    raise_timer_events();
    if (ready != 0) {
        uint8_t c = 0;
        const int n = ready < 0 ? ready : serial::sio_read(in_use, reinterpret_cast<char*>(&c), 1);
        if (n < 0) {
            msg.log(lmPortGeneral | lmPortDetailed, "ERROR: Reading from port");
            raise_notify(nSecsErrorPortReadFailed);
            port_lost();
            return count;
        }
        if (n == 1) {
            if (c == ENQ) {
                msg.log(lmMsgHeaderReceived, "Received ENQ: '0x%02x'", ENQ);
                msg.log(lmMsgHeaderSend, "Sending  EOT: '0x%02x'", EOT);
                send_char(EOT);
                receive_block();
            } else {
                msg.log(lmMsgHeaderReceived | lmPortDetailed, "Received unknown char: 0x%02x", c);
                raise_notify(nSecsErrorUnexpectedChar);
            }
            ++count;
        }
    }
    {
        std::lock_guard<std::mutex> lock(mu_);
        queued = !outbox_.empty();
    }
    if (queued && port_opened.load() && serial::sio_lstatus(in_use) == serial::kNoPeer) {
        // A listening port without a client: nobody to send to now.
        LineEvents ev;
        give_up_outbox("ERROR sending. No client is connected. Name: '%s'", nSecsErrorPortWriteFailed, ev);
        raise_events(*this, ev);
        queued = false;
    }
    if (queued && port_opened.load()) {
        line_control();
        ++count;
    }
    return count;
}

}  // namespace tarvo
