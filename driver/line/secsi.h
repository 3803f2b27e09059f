// The abstract line: one communication channel to one peer. Holds the
// parameters both protocols share, the wanted and actual activation state and
// the line's message layer, and offers SendMessage and Reply on top of the
// virtual operations that each line type implements.
//
// Parameters are written by the caller's thread and read by the worker and
// timer threads as they are at the moment of use, so each is an atomic; the two
// host strings are guarded by their own mutex. Planning a message and copying
// it out of the message layer, and keeping the message layer's out identifiers
// equal to the line's out fields, happen under the line's planning mutex, so
// that callers on several threads never send each other's messages.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "driver/log/line_owner.h"
#include "driver/line/line_type.h"
#include "driver/line/secs1_defaults.h"
#include "driver/messages/message_record.h"
#include "driver/messages/secsii.h"

namespace tarvo {

class secsi {
public:
    secsi();
    virtual ~secsi();

    secsi(const secsi&) = delete;
    secsi& operator=(const secsi&) = delete;

    // ---- virtual operations, in slot order --------------------------------
    virtual int GetPassvSelectedSession(int client);    // base: 0
    virtual int GetPassvSelectedQuan();                 // base: 0
    virtual int port_disconnect() = 0;
    // 0 or -1. Marks the line wanted active (active_wanted) under the same
    // lock as the opening, so the worker neither closes it nor opens it too.
    virtual int port_open() = 0;
    virtual void set_defaults() = 0;
    virtual int queue_message(const MessageRecord& record) = 0;
    virtual bool SetOutDeviceID(int id) = 0;
    virtual std::string dump_buffers() = 0;
    virtual int Step() = 0;                             // useful actions done
    virtual int init_line() = 0;

    // Ends the worker's current wait at once, so that it acts on a changed
    // parameter (a new port reopens the line) or a stop. Base: nothing (a
    // line whose worker never waits without bound).
    virtual void wake() {}

    // ---- non-virtual operations ---------------------------------------------
    void SetCQuill1(LineOwner* owner);
    // Plans `text` and queues it. A text that planning refuses is not queued:
    // the line writes a record and raises nSecsErrorListIncorrect, then
    // OnSecsWritten(0), so every call ends in one OnSecsWritten. 0 or -1.
    int SendMessage(const std::string& text);
    // As SendMessage, planned as the reply to the current message; afterwards
    // the message layer's out identifiers are restored from the line's fields.
    int Reply(const std::string& text);

    // The parameter setters of the interface that do more than store a field.
    void set_master(bool value);                 // also the R-bit of outgoing messages
    void set_out_source_id(int32_t id);          // also given to the message layer
    void set_out_transaction_id(int32_t id);     // also given to the message layer
    bool set_out_device_id(int32_t id);          // field, slot 7, message layer; slot's answer
    // Gives the message layer the line's out device ID, master flag (as the
    // R-bit), out source ID and out transaction ID, in that order. Reply does
    // it after planning; a set_defaults that changes these fields calls it too.
    void restore_out_ids();

    std::string host() const;
    void set_host(const std::string& host);
    std::string host_in_use() const;
    void set_host_in_use(const std::string& host);

    // Baud rate <-> code table; a rate not in the table gives code 12 (9600),
    // a code outside 0..19 gives rate 0.
    static int32_t baud_to_code(int32_t rate);
    static int32_t code_to_baud(int32_t code);

    // Raising events through the owner (never call with a line lock held).
    void raise_read();
    void raise_notify(int code);
    void raise_written(int success);

    // ---- fields, in declaration order --------------------------------------
    std::atomic<int32_t> line_type{ltSECSI};
    std::atomic<bool> active_wanted{false};
    std::atomic<bool> port_opened{false};
    std::atomic<int32_t> port{secs1_defaults::kPort};
    std::atomic<int32_t> port_in_use{-1};
    std::atomic<int32_t> conn_mode{0};          // connection mode as set
    std::atomic<int32_t> conn_mode_new{-1};     // mode the next opening uses
    std::atomic<int32_t> conn_mode_cur{-1};     // current mode: 1, 2, or -1 while closed
    std::atomic<int32_t> altern_counter{0};
    std::atomic<int32_t> max_altern_switches{0};
    std::atomic<int32_t> max_passv_connections{0};
    std::atomic<int32_t> hsms_counter_reserved{0};
    std::atomic<int32_t> hsms_state{1};
    std::atomic<bool> single_session{false};
    std::atomic<int32_t> T1{secs1_defaults::kT1};
    std::atomic<int32_t> T2{secs1_defaults::kT2};
    std::atomic<int32_t> T3{secs1_defaults::kT3};
    std::atomic<int32_t> T4{secs1_defaults::kT4};
    std::atomic<int32_t> out_device_id{secs1_defaults::kOutDeviceId};
    std::atomic<int32_t> retry{secs1_defaults::kRetry};
    std::atomic<int32_t> out_source_id{secs1_defaults::kOutSourceId};
    std::atomic<int32_t> out_transaction_id{secs1_defaults::kOutTransactionId};
    std::atomic<bool> master{secs1_defaults::kMaster};
    std::atomic<int32_t> T5{0};
    std::atomic<int32_t> T6{0};
    std::atomic<int32_t> T7{0};
    std::atomic<int32_t> T8{0};
    std::atomic<int32_t> idle_sleep{secs1_defaults::kIdleSleep};
    std::atomic<int32_t> baud_code{secs1_defaults::kBaudCode};
    std::atomic<int32_t> line_mode{secs1_defaults::kLineMode};
    std::atomic<int32_t> read_timeout{secs1_defaults::kReadTimeout};
    std::atomic<int32_t> read_interval_timeout{secs1_defaults::kReadInterval};
    std::atomic<int32_t> reopen_delay{secs1_defaults::kReopenDelay};

    secsii msg;  // the line's SECS-II layer (inbox, element array, prepared message, log mask)

    // Set once the line is being shut down for good (its owner replaces or
    // releases it): every wait for a peer gives up.
    std::atomic<bool> stopping{false};

private:
    // Writes the record of a text that planning refused and raises
    // nSecsErrorListIncorrect and OnSecsWritten(0); called without a lock held.
    void report_unplanned(const std::string& text);
    void restore_out_ids_locked();

    std::mutex plan_mutex_;  // planning + copy; out fields paired with the message layer
    mutable std::mutex host_mutex_;
    std::string host_;
    std::string host_in_use_;
};

}  // namespace tarvo
