// The HSMS line: SECS-II messages over TCP/IP, opened actively, passively or
// alternating between the two, with several passive clients at once.
//
// Threads and locks. Three kinds of thread reach a line: the caller (port_open
// from SetActive, init_line from SetConnectionMode, queue_message from
// SendMessage and Reply, SetOutDeviceID and the getters), the worker (Step,
// and port_disconnect when the line is deactivated) and the timer thread (T3,
// T5, T7 expiries, whose notifications the worker raises). Two locks serialise them:
//   - op_mu_, the operation lock, is held by whoever opens, closes, reads or
//     writes sockets: the worker for a whole cycle except its wait for input,
//     the caller for an opening. Only its holder ever closes a descriptor, so
//     a descriptor read from the tables stays valid while it is held. The
//     partial incoming frames are guarded by it too.
//   - mu_, the state lock, guards the tables, flags, socket handles, timer
//     ids, outbox and expected replies. It is held only briefly and never
//     across a wait for the network. Timer callbacks take only this one.
// Lock order: op_mu_ before mu_. No lock is held while an event is raised:
// events are collected while locked and raised after unlocking, so a sink may
// call back into the line from inside an event.
//
// Connections. Every connection gets a number of its own that is never used
// again, so nothing meant for one connection (a reply, an expected reply)
// can reach a later one that happens to get the same descriptor. The worker
// never waits on one connection: it reads every readable socket without
// blocking into that connection's own frame, and T8 limits the gap between
// two parts of one frame. Waits that cannot be avoided (an active opening,
// room in a send buffer) give up as soon as the line is no longer wanted.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "driver/hsms/hsms_frame.h"
#include "driver/hsms/hsms_header.h"
#include "driver/hsms/hsms_socket.h"
#include "driver/line/line_events.h"
#include "driver/line/line_timers.h"
#include "driver/line/secsi.h"
#include "platform/net/allow_list.h"
#include "driver/line/wake_event.h"
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
    void wake() override;

    // The most bytes read from one connection in one cycle, so that one busy
    // peer cannot keep the worker from the others.
    static constexpr size_t kReadBudget = 1 << 20;

private:
    using Event = LineEvent;
    using Events = LineEvents;

    struct Connected {
        int socket;
        timers::TimerId t7;
        uint64_t connection;
    };
    struct Selected {
        uint16_t session;
        int socket;
        uint64_t connection;
    };
    struct OutboxEntry {
        hsms::Header header;
        std::string body;
        bool w_bit;
        int32_t device_id;
        uint64_t connection;  // a reply: the connection of its primary; else 0
    };
    struct ExpectedReply {
        timers::TimerId t3;
        hsms::Header header;
        uint64_t connection;  // only a reply from this connection matches
    };
    enum class TimerKind : uint8_t { t3, t5, t7 };

    // Runs a timer callback of this line on the timer thread.
    void on_timer(TimerKind kind, timers::TimerId id);

    // ---- events and records (secsitcp.cpp) -----------------------------------
    // Timer callbacks hand their events to the worker (and wake it), which
    // raises them at the start of its next cycle.
    void hand_to_worker(Events& ev);
    void log_header(uint32_t bits, const char* format, const hsms::Header& header) const;
    void log_name(uint32_t bits, const char* format, const hsms::Header& header) const;

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
    // Closes a descriptor taken out of the tables, with its partial frame.
    void close_connection_op(int socket);
    // mu_ held: restarts the passive idle timer (T5) when no client is left.
    void passive_idle_restart_locked(Events& ev);
    // mu_ held: the current data socket's client has left.
    void data_client_left_locked(int socket);
    void funcTimeProcTCPT5(timers::TimerId id);

    // ---- worker cycle (secsitcp_cycle.cpp); op_mu_ held ----------------------
    // Waits for input on every connection (or a wake-up, or the next T8
    // deadline) and serves what is readable; passive lines also close after
    // the idle T5. The wait itself runs without op_mu_.
    int Step_connections(std::unique_lock<std::mutex>& op, Events& ev);
    // False when accepting failed for a reason that does not pass by itself
    // (no descriptors or memory left); the caller then backs off.
    bool accept_client(int listening, Events& ev);
    // Reads what `socket` has into its frame and handles a completed message.
    void serve_socket(int socket, Events& ev);
    // Ends the connections whose frame has waited longer than T8 for its next
    // bytes; returns the milliseconds until the next such deadline, -1 for none.
    int32_t expire_frames(Events& ev);
    // mu_ held: the number of the connection on `socket`; 0 when none.
    uint64_t connection_of_locked(int socket) const;
    // mu_ held: whether data messages from `socket` are taken.
    bool selected_socket_locked(int socket) const;
    // Blocking waits on the network give up once this holds.
    bool abandoned() const;
    hsms::Abandon abandon_check() const {
        return [this] { return abandoned(); };
    }

    // ---- control messages (secsitcp_control.cpp); op_mu_ held ----------------
    hsms::Header def_msg_make(uint8_t type) const;
    int def_msg_send(int socket, uint8_t type, Events& ev);
    int def_mes_recv(int socket, uint8_t expected, Events& ev);
    bool def_msg_chck(int socket, hsms::Header& header, Events& ev);
    uint8_t select_status(int socket, const hsms::Header& header, Events& ev);
    int send_answer(int socket, const hsms::Header& header, Events& ev);
    // Reject.req for `rejected`: its session ID and system bytes, the
    // rejected SType (the PType for reason 2) in byte 2, the reason in byte 3.
    void send_reject(int socket, const hsms::Header& rejected, hsms::RejectReason reason, Events& ev);
    void funcTimeProcTCPSel(timers::TimerId id);

    // ---- data messages (secsitcp_data.cpp); op_mu_ held ----------------------
    // Sends the first outbox entry, or gives it up when no connection can
    // take it now (15 and OnSecsWritten(0)). 1 when an entry left the outbox.
    int usr_msg_send(Events& ev);
    // mu_ held: takes every queued entry out of the outbox that `doomed`
    // selects; give_up() then ends each with OnSecsWritten(0).
    std::vector<OutboxEntry> take_queued_locked(const std::function<bool(const OutboxEntry&)>& doomed);
    void give_up(const std::vector<OutboxEntry>& entries, Events& ev);
    // Blocking read of one header (the Select.rsp of an active opening).
    // 0 read; 2 the peer closed; -1 time limit exceeded or abandoned; -2
    // receive error; -3 a length field out of range. Each failure is
    // recorded and notified.
    int port_read_header(int socket, hsms::Header& header, int32_t limit, Events& ev);
    // Handles one whole message that is no control message.
    void usr_msg_recv(int socket, const hsms::Header& header, std::string body, Events& ev);
    bool user_msg_expctd(const hsms::Header& header, uint64_t connection);
    void funcTimeProcTCPT3(timers::TimerId id);

    // ---- state ---------------------------------------------------------------
    std::mutex op_mu_;
    mutable std::mutex mu_;
    WakeEvent wake_;
    EventMailbox mailbox_;               // events of timer callbacks, raised by the worker


    // Guarded by mu_.
    int data_socket_ = -1;       // where data messages go
    int listen_socket_ = -1;     // passive
    std::vector<Connected> connected_;   // accepted, not yet selected, in order of acceptance
    std::vector<Selected> selected_;     // in order of selection
    std::vector<int> watched_;           // listening socket first, then clients; or the active connection
    std::vector<int> doomed_;            // shut down by a timer callback, to be closed
    bool t5_pending_ = false;
    timers::TimerId t5_timer_ = 0;
    bool passive_idle_ = false;
    timers::TimerId idle_timer_ = 0;
    std::deque<OutboxEntry> outbox_;
    std::deque<ExpectedReply> expected_;
    uint64_t generation_ = 0;            // grows with every opening and closing of the line
    net::AllowList allow_;               // who may connect to the listening port (op_mu_)
    bool accept_failing_ = false;        // the last accept failed for want of resources
    uint64_t active_connection_ = 0;     // the active line's connection, 0 while closed
    uint64_t last_connection_ = 0;       // connection numbers handed out so far

    // Guarded by op_mu_.
    uint64_t closures_ = 0;              // grows with every descriptor closed
    std::unordered_map<int, hsms::FrameReader> frames_;  // partial incoming messages by socket

    // Timer slots above are guarded by mu_. Declared last: detached first.
    LineTimers timers_;
};

}  // namespace tarvo
