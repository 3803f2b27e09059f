// The equipment's GEM behaviour on one thread: received messages in, replies
// and primaries out through a Link, the two state models, variables,
// constants, event reports and the state file. It owns no thread and no
// clock: its caller hands it messages, operator calls and the time.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "gem/comm_state.h"
#include "gem/config.h"
#include "gem/control_state.h"
#include "gem/link.h"
#include "gem/message.h"
#include "gem/report_book.h"

namespace tarvo::gem {

class EquipmentCore {
public:
    using Clock = std::chrono::steady_clock;
    using Time = Clock::time_point;

    // Received bodies above this size get S9F11.
    static constexpr size_t kMaxBodyBytes = 16 * 1024 * 1024;
    // A SECS-I block holds at most this many body bytes; a longer S6F11 is
    // announced with S6F5 first.
    static constexpr size_t kBlockBodyBytes = 244;

    EquipmentCore(Config config, Link& link, Observer& observer, Hooks hooks);

    // Loads the state file, reports both states, enables communications.
    void start(Time now);

    // A message the line delivered, its body still as bytes.
    void received(const Message& header, const std::string& body, Time now);
    // Expires what is due: replies not received within T3, the delay
    // between attempts to establish communications.
    void tick(Time now);
    std::optional<Time> next_deadline() const;
    // The connection to the host was lost, or came (back).
    void link_lost(Time now);
    void link_up(Time now);

    // The operator's calls; false with a reason when refused.
    bool trigger(uint32_t ceid, std::string* error);
    bool set(uint32_t id, const Item& value, std::string* error);
    bool control_online(bool online, std::string* error);
    bool control_remote(bool remote, std::string* error);
    bool communications(bool enable, std::string* error);
    bool alarm(uint32_t alid, bool set, std::string* error);
    bool terminal(const std::string& text, std::string* error);   // S10F1 with TID 0
    bool finish(const std::string& rcmd, std::string* error);     // ends a command answered with HCACK 4

    CommState comm_state() const { return comm_; }
    ControlState control_state() const { return control_; }
    const ReportBook& reports() const { return book_; }
    // The value of a variable or constant now; nullopt for an unknown ID.
    std::optional<Item> value_of(uint32_t id) const;
    const Config& config() const { return config_; }

private:
    struct Reply {
        std::optional<Item> body;
        bool illegal = false;  // the request's data is not what E5 defines: S9F7
    };
    using Handler = Reply (EquipmentCore::*)(const Item* body);
    struct Route {
        int stream;
        int function;
        Handler handler;
    };
    // The handler table (stream, function) -> handler; nullptr when none.
    static const Route* route_for(int stream, int function);
    static bool known_stream(int stream);

    // What a W primary of ours waits for.
    enum class Purpose { other, establish, attempt_online, inquire_event };
    struct Outstanding {
        Message sent;
        Time deadline;
        Purpose purpose;
        std::optional<Item> held;  // the S6F11 body an S6F5 asked room for
    };

    // Handlers, one per (stream, function).
    Reply s1f1(const Item*);
    Reply s1f3(const Item*);
    Reply s1f11(const Item*);
    Reply s1f13(const Item*);
    Reply s1f15(const Item*);
    Reply s1f17(const Item*);
    Reply s1f21(const Item*);
    Reply s1f23(const Item*);
    Reply s2f13(const Item*);
    Reply s2f15(const Item*);
    Reply s2f29(const Item*);
    Reply s2f33(const Item*);
    Reply s2f35(const Item*);
    Reply s2f37(const Item*);
    Reply s6f15(const Item*);
    Reply s6f19(const Item*);
    Reply s2f17(const Item*);
    Reply s2f31(const Item*);
    Reply s2f41(const Item*);
    Reply s2f49(const Item*);
    Reply s5f3(const Item*);
    Reply s5f5(const Item*);
    Reply s5f7(const Item*);
    Reply s7f1(const Item*);
    Reply s7f3(const Item*);
    Reply s7f5(const Item*);
    Reply s7f17(const Item*);
    Reply s7f19(const Item*);
    Reply s10f3(const Item*);
    Reply s10f5(const Item*);

    // Remote commands: the answer of S2F42 and S2F50 to RCMD with its
    // parameters (<L <L CPNAME CPVAL>...>); nullopt when not E5's structure.
    std::optional<Item> command_answer(const Item& rcmd, const Item& parameters);
    // Alarms.
    const AlarmDef* alarm_def(uint32_t alid) const;
    Item alarm_entry(const AlarmDef& a) const;
    // Process programs: the file of a PPID, or "" when the PPID may not name one.
    std::string program_path(const Item& ppid) const;
    // The equipment's clock: the system clock and the host's offset.
    std::chrono::system_clock::time_point clock_now() const;

    void primary(const Message& m, const std::string& body, Time now);
    void secondary(const Message& m, const std::string& body, Time now);
    void send_s9(S9 function, const Message& about);
    void reply(const Message& to, int function, std::optional<Item> body);
    uint16_t send_primary(Message m, Purpose purpose, Time now, std::optional<Item> held = std::nullopt);
    void send_event_report(uint32_t ceid, Time now);

    void comm_input(CommInput input, Time now);
    void control_input(ControlInput input, Time now);
    void enter_control(ControlState next, Time now);

    // Variables and constants.
    bool is_status_variable(uint32_t id) const;
    std::vector<uint32_t> builtin_status_ids() const;
    const VariableDef* variable(uint32_t id) const;
    const ConstantDef* constant(uint32_t id) const;
    bool known_vid(uint64_t id) const;
    bool known_ceid(uint64_t id) const;
    std::vector<uint32_t> all_ceids() const;
    std::optional<Item> builtin_value(uint32_t id) const;
    // `value` converted to the constant's format and checked against its
    // limits; nullopt when it does not fit.
    std::optional<Item> constant_value(const ConstantDef& c, const Item& value) const;
    void change_constant(uint32_t id, const Item& value, bool by_operator, Time now);
    Item event_body(uint32_t ceid);
    Item report_values(const ReportDefinition& r) const;

    void save_state();

    Config config_;
    Link& link_;
    Observer& observer_;
    Hooks hooks_;

    CommState comm_ = CommState::disabled;
    ControlState control_ = ControlState::equipment_offline;
    ControlState previous_control_ = ControlState::equipment_offline;
    bool remote_ = true;  // the local/remote switch
    std::optional<Time> delay_until_;

    ReportBook book_;
    std::set<uint32_t> alarms_set_;
    std::set<uint32_t> alarms_disabled_;   // alarms are enabled until the host disables them
    std::set<std::string> unfinished_;     // commands answered with HCACK 4
    std::chrono::system_clock::duration clock_offset_{};
    std::map<uint32_t, Item> variable_values_;
    std::map<uint32_t, Item> constant_values_;
    std::vector<ConstantDef> builtin_constants_;

    // What a handler leaves until its reply has gone out (state changes
    // whose event reports must follow the reply).
    std::vector<std::function<void()>> after_reply_;
    std::vector<Outstanding> outstanding_;
    uint16_t next_transaction_ = 1;
    uint32_t next_data_id_ = 1;
    Time now_{};
};

}  // namespace tarvo::gem
