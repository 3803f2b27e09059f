// The HSMS line: SECS-II messages over TCP/IP, opened actively, passively or
// alternating between the two, with several passive clients at once.
//
// Threads and locks. Three kinds of thread reach a line: the caller (port_open
// from SetActive, init_line from SetConnectionMode, queue_message from
// SendMessage and Reply, SetOutDeviceID and the getters), the worker (Step,
// and port_disconnect when the line is deactivated) and the timer thread (T3,
// T5, T7 expiries). Two locks serialise them:
//   - op_mu_, the operation lock, is held by whoever opens, closes, reads or
//     writes sockets: the worker for a whole cycle except its wait for input,
//     the caller for an opening. Only its holder ever closes a descriptor, so
//     a descriptor read from the tables stays valid while it is held.
//   - mu_, the state lock, guards the tables, flags, socket handles, timer
//     ids, outbox and expected replies. It is held only briefly and never
//     across a wait for the network. Timer callbacks take only this one.
// Lock order: op_mu_ before mu_. No lock is held while an event is raised:
// events are collected while locked and raised after unlocking, so a sink may
// call back into the line from inside an event.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver/hsms/hsms_header.h"
#include "driver/hsms/hsms_socket.h"
#include "driver/line/secsi.h"
#include "platform/timers/one_shot_timers.h"

namespace tarvo {

class secsitcp : public secsi {
public:
    secsitcp();
    // Closes an open line (sockets first, Separate.req where selected) and
    // kills every timer; no timer callback touches the line afterwards.
    ~secsitcp() override;

    // ---- virtual operations, in slot order ---------------------------------
    int GetPassvSelectedSession(int client) override;
    int GetPassvSelectedQuan() override;
    int port_disconnect() override;
    // Opens the line in the new mode. Also marks the line as wanted active, so
    // that the worker's init_line cannot close what this opening opened. A
    // line that is already open is left as it is (result 0).
    int port_open() override;
    void set_defaults() override;
    int queue_message(const MessageRecord& record) override;
    bool SetOutDeviceID(int id) override;
    std::string dump_buffers() override;
    int Step() override;
    int init_line() override;

    // Ends the worker's current wait for input at once.
    void wake();

    // The number of selected clients that the watched set can hold, the
    // listening socket included.
    static constexpr size_t kMaxWatchedSockets = 64;

private:
    struct Event {
        enum Kind : uint8_t { notify, read, written } kind;
        int value;
    };
    using Events = std::vector<Event>;

    struct Connected {
        int socket;
        timers::TimerId t7;
    };
    struct Selected {
        uint16_t session;
        int socket;
    };
    struct OutboxEntry {
        hsms::Header header;
        std::string body;
        bool w_bit;
        int32_t device_id;
    };
    struct ExpectedReply {
        timers::TimerId t3;
        hsms::Header header;
    };
    enum class TimerKind : uint8_t { t3, t5, t7 };

    // Shared with the timer callbacks: a callback reaches the line only
    // through it, and the destructor detaches it and waits for callbacks in
    // flight, so no callback ever touches a freed line.
    struct TimerAnchor {
        std::mutex mutex;
        std::condition_variable idle;
        secsitcp* line = nullptr;
        int in_flight = 0;
    };
    static void dispatch_timer(const std::shared_ptr<TimerAnchor>& anchor, TimerKind kind,
                               timers::TimerId id);

    // ---- events and records (secsitcp.cpp) -----------------------------------
    static void add_notify(Events& ev, int code) { ev.push_back({Event::notify, code}); }
    void raise(Events& ev);
    void log_header(uint32_t bits, const char* format, const hsms::Header& header) const;
    void log_name(uint32_t bits, const char* format, const hsms::Header& header) const;

    // ---- timer facility (secsitcp.cpp); mu_ held -----------------------------
    // Starts a timer into `slot`. When none can be had: 20 and the record
    // "ERROR: system timers exhausted" whatever the mask, slot 0, false.
    bool timer_set_locked(timers::TimerId& slot, int32_t ms, TimerKind kind, Events& ev);
    // Cancels the timer in `slot` (without waiting) and clears the slot.
    void timer_kill_locked(timers::TimerId& slot);
    // Clears the slot of a timer whose callback is running.
    void timer_fired_locked(timers::TimerId& slot);

    // ---- connection management (secsitcp_connection.cpp); op_mu_ held --------
    int init_line_op(Events& ev);
    int port_open_op(Events& ev);
    int port_open_active(int port_number, Events& ev);
    int port_open_passive(int port_number, Events& ev);
    int port_disconnect_op(Events& ev);
    // Ends one connection; `ds_type` 4 (the peer or the protocol ended it).
    void port_disconnect(int socket, int ds_type, Events& ev);
    // Closes the descriptors that timer callbacks took out of the tables.
    void reap_doomed_op();
    // mu_ held: restarts the passive idle timer (T5) when no client is left.
    void passive_idle_restart_locked(Events& ev);
    // mu_ held: the current data socket's client has left.
    void data_client_left_locked(int socket);
    void funcTimeProcTCPT5(timers::TimerId id);

    // ---- worker cycle (secsitcp_cycle.cpp); op_mu_ held ----------------------
    int Step_active(std::unique_lock<std::mutex>& op, Events& ev);
    int Step_passive(std::unique_lock<std::mutex>& op, Events& ev);
    // False when accepting failed for a reason that does not pass by itself
    // (no descriptors or memory left); the caller then backs off.
    bool accept_client(int listening, Events& ev);
    // Reads one message from `socket` and handles it.
    void serve_socket(int socket, Events& ev);
    // mu_ held: a data message can go out now.
    bool sendable_locked() const;
    // Sleeps up to `ms` unless woken.
    void idle_wait(int32_t ms);

    // ---- control messages (secsitcp_control.cpp); op_mu_ held ----------------
    hsms::Header def_msg_make(uint8_t type) const;
    int def_msg_send(int socket, uint8_t type, Events& ev);
    int def_mes_recv(int socket, uint8_t expected, Events& ev);
    bool def_msg_chck(int socket, hsms::Header& header, Events& ev);
    uint8_t select_status(int socket, const hsms::Header& header, Events& ev);
    int send_answer(int socket, const hsms::Header& header, Events& ev);
    void funcTimeProcTCPSel(timers::TimerId id);

    // ---- data messages (secsitcp_data.cpp); op_mu_ held ----------------------
    int usr_msg_send(Events& ev);
    // 0 read; 2 the peer closed; -1 time limit exceeded; -2 receive error
    // (on an open line the connection has been ended); -3 a length field out
    // of range. Each failure is recorded and notified.
    int port_read_header(int socket, hsms::Header& header, int32_t limit, Events& ev);
    void usr_msg_recv(int socket, const hsms::Header& header, Events& ev);
    bool user_msg_expctd(const hsms::Header& header);
    void funcTimeProcTCPT3(timers::TimerId id);

    // ---- state ---------------------------------------------------------------
    std::mutex op_mu_;
    mutable std::mutex mu_;
    hsms::WakeEvent wake_;
    std::shared_ptr<TimerAnchor> anchor_;

    // Guarded by mu_.
    int data_socket_ = -1;       // where data messages go
    int listen_socket_ = -1;     // passive
    std::vector<Connected> connected_;   // accepted, not yet selected, in order of acceptance
    std::vector<Selected> selected_;     // in order of selection
    std::vector<int> watched_;           // listening socket first, then clients; at most 64
    std::vector<int> doomed_;            // shut down by a timer callback, to be closed
    bool t5_pending_ = false;
    timers::TimerId t5_timer_ = 0;
    bool passive_idle_ = false;
    timers::TimerId idle_timer_ = 0;
    int timer_count_ = 0;
    std::deque<OutboxEntry> outbox_;
    std::deque<ExpectedReply> expected_;
    uint64_t generation_ = 0;            // grows with every opening and closing of the line
    bool closing_ = false;               // the destructor runs: no new timers
    bool accept_failing_ = false;        // the last accept failed for want of resources

    // Guarded by op_mu_.
    uint64_t closures_ = 0;              // grows with every descriptor closed
};

}  // namespace tarvo
