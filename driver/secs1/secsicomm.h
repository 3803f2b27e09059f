// The SECS-I line: SECS-II messages in blocks over a serial port, with the
// ENQ/EOT/ACK/NAK handshake, master/slave contention, retries, T1 to T4,
// multi-block messages and duplicate detection.
//
// Threads and locks. The caller's thread opens the port (SetActive), queues
// messages (SendMessage, Reply) and reads the getters; the worker runs Step
// and, when the line is deactivated, port_disconnect; the timer thread runs
// the T3 and T4 expiries, whose events the worker raises. Two locks:
//   - op_mu_ serialises opening and closing the port. Only the worker reads
//     and writes the port, and only the worker (or the owner once the worker
//     has ended) closes it, so the worker does its I/O without the lock.
//   - mu_ guards the outbox, the expected list, the messages in progress, the
//     last accepted block and the timer slots. It is held briefly and never
//     across a wait for the port.
// Lock order: op_mu_ before mu_. No lock is held while an event is raised.
//
// Waiting. An idle line waits in one poll on the port and its wake-up event
// without a time limit: a character, a queued message, a timer's events, a
// stop or a changed port end the wait. The protocol's own waits (T1 and T2)
// are counted in read timeouts as the protocol defines them; at every read
// timeout they raise the timer events that came due and give up once the
// line is stopped or no longer wanted.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "driver/line/line_events.h"
#include "driver/line/line_timers.h"
#include "driver/line/secsi.h"
#include "driver/line/wake_event.h"
#include "driver/secs1/s_block.h"

namespace tarvo {

class secsicomm : public secsi {
public:
    secsicomm();
    // Closes the port and kills every timer; no callback touches the line
    // afterwards.
    ~secsicomm() override;

    // ---- virtual operations, in slot order ---------------------------------
    int port_disconnect() override;
    // Opens the wanted port unless the port is open already (0). The line is
    // marked wanted active under the same lock first (so a deactivation ends
    // a connect to a TCP port), and not wanted again when the opening fails.
    int port_open() override;
    void set_defaults() override;
    int queue_message(const MessageRecord& record) override;
    bool SetOutDeviceID(int id) override;
    std::string dump_buffers() override;
    int Step() override;
    int init_line() override;
    void wake() override;

    static constexpr uint8_t ENQ = 0x05;
    static constexpr uint8_t EOT = 0x04;
    static constexpr uint8_t ACK = 0x06;
    static constexpr uint8_t NAK = 0x15;
    // Answers of listen_time besides a character.
    static constexpr int kOutOfTime = 1024;
    static constexpr int kAbandoned = 1025;  // the line is stopping or no longer wanted
    // Block numbers have 15 bits.
    static constexpr size_t kMaxBlocks = 32767;

private:
    struct OutboxEntry {
        std::vector<S_BLOCK> blocks;
        size_t next = 0;      // index of the next block to send
        uint64_t id = 0;      // never reused: tells a removed entry from its successor
        std::string name;     // "S%dF%dW" or "S%dF%d"
    };
    struct Expected {
        S_BLOCK block;             // the values to match
        timers::TimerId timer = 0; // 0: none could be armed, never expires
        bool reply = false;        // reply expected (T3), else next block (T4)
    };
    using Blocks = std::vector<S_BLOCK>;

    // ---- port (secsicomm_port.cpp) ------------------------------------------
    // init_line's work: false when the port is wanted but could not be
    // opened (or may not be reopened yet).
    bool bring_port_in_line();
    int port_open_op();                       // op_mu_ held
    // Writes the records the port layer has for port `number`.
    void log_port_reports(int32_t number);
    int port_disconnect_op(LineEvents& ev);   // op_mu_ held
    void close_port_op();                     // op_mu_ held, the port open
    // After a read error: closes the port once and marks it closed; the next
    // Step reopens it while the line is wanted.
    void port_lost();
    // Every queued message ends unsent, each with OnSecsWritten(0); `why` is
    // recorded per message and `code` (when not 0) notified before it.
    void give_up_outbox(const char* why, int code, LineEvents& ev);
    bool abandoned() const { return stopping.load() || !active_wanted.load(); }
    // Raises the events that timer callbacks handed over.
    void raise_timer_events();

    // ---- link protocol (secsicomm_link.cpp); worker thread, no lock held ----
    int listen_time(int32_t& budget);
    int send_char(uint8_t c);
    int send_block(const S_BLOCK& block);
    int receive_block();
    void completion();
    void line_control();
    // One read of the port: the bytes read, 0 for none within the read
    // timeout, negative on an error (the port is then closed, recorded and
    // notified).
    int read_port(uint8_t* buffer, int count);
    int32_t read_unit() const;  // the read timeout, at least 1 ms

    // ---- message assembly (secsicomm_assembly.cpp) ---------------------------
    // `entry_id`: the outbox entry the send was for; an entry that has left
    // the outbox meanwhile (the line was closed) is not touched.
    void send_end(bool success, uint64_t entry_id);
    void accept_block(const S_BLOCK& block);
    // mu_ held from here on.
    // What becomes of an acknowledged block that is no duplicate: it joins
    // or starts a message (the completed message when it was the last), or it
    // is reported as an extra block. An expected entry is used up only by a
    // block that is taken.
    std::optional<Blocks> take_block(const S_BLOCK& block, LineEvents& ev);
    // The reply entry a first secondary block answers, or the next-block
    // entry of the message in progress this block belongs to.
    std::list<Expected>::iterator expected_entry(const S_BLOCK& block, bool reply);
    void consume(std::list<Expected>::iterator entry);  // kills its timer too
    // Appends to `message` (in_progress_.end(): a new message). A completed
    // message, when this block was its last; else the next block is awaited.
    std::optional<Blocks> block_add(std::list<Blocks>::iterator message, const S_BLOCK& block, LineEvents& ev);
    // The message in progress with this block's identity (header bytes 0 to
    // 3 and the system bytes); -1 for none.
    int find_message_i(const S_BLOCK& block) const;
    void expect_block(const S_BLOCK& block, int32_t timeout, bool reply, LineEvents& ev);
    timers::TimerId set_ibtimer(int32_t timeout, LineEvents& ev);
    // Worker, no lock held: hands a completed message to the message layer.
    void deliver_message(const Blocks& message, LineEvents& ev);
    void funcTimeProc(timers::TimerId id);

    // ---- state ---------------------------------------------------------------
    std::mutex op_mu_;
    mutable std::mutex mu_;
    WakeEvent wake_;
    EventMailbox mailbox_;
    std::atomic<int64_t> reopen_after_ms_{0};  // no reopening before this (steady clock, ms)

    // Guarded by mu_.
    std::deque<OutboxEntry> outbox_;
    uint64_t last_entry_id_ = 0;
    std::list<Expected> expected_;
    std::list<Blocks> in_progress_;
    std::optional<S_BLOCK> last_accepted_;

    // Timer slots above are guarded by mu_. Declared last: detached first.
    LineTimers timers_;
};

}  // namespace tarvo
