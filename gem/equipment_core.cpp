// The core's message flow: checks of a received primary in E30's order,
// replies matched to the W primaries that wanted them, T3 of our own
// primaries, and the two state models.
#include "gem/equipment_core.h"

#include <algorithm>

#include "gem/item_codec.h"
#include "gem/state_file.h"

namespace tarvo::gem {

namespace {

// The 10-byte header of a message, as S9 messages carry it. HSMS: session
// ID, stream and function, PType and SType 0, system bytes. SECS-I: the
// last block's header (E-bit, block 1); `ours` sets the R-bit of a message
// the equipment sent.
Item header_item(const Message& m, bool secs1, bool ours) {
    std::string h(10, '\0');
    const int device = m.device & (secs1 ? 0x7FFF : 0xFFFF);
    h[0] = static_cast<char>((device >> 8) | (secs1 && ours ? 0x80 : 0));
    h[1] = static_cast<char>(device & 0xFF);
    h[2] = static_cast<char>((m.stream & 0x7F) | (m.w ? 0x80 : 0));
    h[3] = static_cast<char>(m.function & 0xFF);
    if (secs1) {
        h[4] = static_cast<char>(0x80);
        h[5] = 1;
    }
    h[6] = static_cast<char>((m.source >> 8) & 0xFF);
    h[7] = static_cast<char>(m.source & 0xFF);
    h[8] = static_cast<char>((m.transaction >> 8) & 0xFF);
    h[9] = static_cast<char>(m.transaction & 0xFF);
    return Item::binary(std::move(h));
}

}  // namespace

EquipmentCore::EquipmentCore(Config config, Link& link, Observer& observer, Hooks hooks)
    : config_(std::move(config)), link_(link), observer_(observer), hooks_(std::move(hooks)) {
    ConstantDef delay;
    delay.id = config_.ids.establish_communications_timeout;
    delay.name = "EstablishCommunicationsTimeout";
    delay.format = Format::U2;
    delay.min = Item::unsigneds(Format::U2, {1});
    delay.max = Item::unsigneds(Format::U2, {3600});
    delay.def = Item::unsigneds(Format::U2, {10});
    delay.units = "s";
    ConstantDef time_format;
    time_format.id = config_.ids.time_format;
    time_format.name = "TimeFormat";
    time_format.format = Format::U1;
    time_format.min = Item::u1(0);
    time_format.max = Item::u1(2);
    time_format.def = Item::u1(1);
    builtin_constants_ = {delay, time_format};
    for (const ConstantDef& c : builtin_constants_) constant_values_[c.id] = c.def;
    for (const ConstantDef& c : config_.constants) constant_values_[c.id] = c.def;
    for (const VariableDef& v : config_.variables) variable_values_[v.id] = v.value;
    control_ = previous_control_ = config_.initial;
    remote_ = config_.initial != ControlState::online_local;
}

void EquipmentCore::start(Time now) {
    now_ = now;
    if (!config_.state_file.empty()) {
        SavedState saved;
        std::string why;
        const LoadOutcome outcome = load_state_file(config_.state_file, saved, &why);
        if (outcome == LoadOutcome::damaged) observer_.error(why);
        if (outcome == LoadOutcome::loaded) {
            // What the configuration no longer defines is dropped.
            for (auto it = saved.reports.begin(); it != saved.reports.end();) {
                const bool known = std::all_of(it->second.vids.begin(), it->second.vids.end(),
                                               [&](uint32_t v) { return known_vid(v); });
                it = known ? std::next(it) : saved.reports.erase(it);
            }
            std::erase_if(saved.links, [&](const auto& l) { return !known_ceid(l.first); });
            for (auto& [ceid, ids] : saved.links)
                std::erase_if(ids, [&](uint64_t id) { return !saved.reports.count(id); });
            std::erase_if(saved.links, [](const auto& l) { return l.second.empty(); });
            book_.restore(std::move(saved.reports), std::move(saved.links), std::move(saved.disabled));
            for (uint32_t a : saved.alarms_disabled)
                if (alarm_def(a)) alarms_disabled_.insert(a);
            for (const auto& [id, value] : saved.constants) {
                const ConstantDef* c = constant(id);
                if (!c) continue;
                if (auto v = constant_value(*c, value))
                    constant_values_[id] = *v;
                else
                    observer_.error("state file: the value of constant " + std::to_string(id) +
                                    " no longer fits; its default stays");
            }
        }
    }
    observer_.comm_state(comm_);
    observer_.control_state(control_);
    comm_input(config_.establish_communications ? CommInput::enable : CommInput::enable_quietly, now);
}

// ---- received messages -------------------------------------------------

void EquipmentCore::received(const Message& header, const std::string& body, Time now) {
    now_ = now;
    Message m = header;
    const DecodedBody decoded = body.size() > kMaxBodyBytes ? DecodedBody{} : decode_body(body);
    m.body = decoded.item;
    observer_.message(false, m);
    if (m.primary())
        primary(m, body, now);
    else
        secondary(m, body, now);
}

void EquipmentCore::primary(const Message& m, const std::string& body, Time now) {
    // 1. the device ID
    if (m.device != config_.device_id) {
        send_s9(S9::unknown_device, m);
        return;
    }
    // 2. the communications state: only S1F13 gets through before communicating
    const bool establish = m.stream == 1 && m.function == 13;
    if (comm_ != CommState::communicating && !(establish && comm_ != CommState::disabled)) {
        if (comm_ == CommState::wait_delay) comm_input(CommInput::message_received, now);
        return;
    }
    // 3. the stream and the function
    const Route* route = route_for(m.stream, m.function);
    if (!route) {
        send_s9(known_stream(m.stream) ? S9::unknown_function : S9::unknown_stream, m);
        return;
    }
    // 4. the control state: off line only S1F13 and S1F17 are answered
    if (!is_online(control_) && !establish && !(m.stream == 1 && m.function == 17)) {
        if (m.w) reply(m, 0, std::nullopt);
        return;
    }
    // 5. the data
    if (body.size() > kMaxBodyBytes) {
        send_s9(S9::data_too_long, m);
        return;
    }
    const DecodedBody decoded = decode_body(body);
    if (!decoded.ok) {
        send_s9(S9::illegal_data, m);
        return;
    }
    after_reply_.clear();
    const Reply r = (this->*(route->handler))(decoded.item ? &*decoded.item : nullptr);
    if (r.illegal) {
        after_reply_.clear();
        send_s9(S9::illegal_data, m);
        return;
    }
    if (m.w) reply(m, m.function + 1, r.body);
    auto then = std::move(after_reply_);
    after_reply_.clear();
    for (auto& f : then) f();
}

void EquipmentCore::secondary(const Message& m, const std::string&, Time now) {
    auto it = std::find_if(outstanding_.begin(), outstanding_.end(), [&](const Outstanding& o) {
        return o.sent.system_bytes() == m.system_bytes() && o.sent.stream == m.stream &&
               (m.function == 0 || m.function == o.sent.function + 1);
    });
    if (it == outstanding_.end()) {
        observer_.error("a reply nobody waits for: " + message_name(m));
        return;
    }
    const Outstanding done = std::move(*it);
    outstanding_.erase(it);
    const Item* body = m.body ? &*m.body : nullptr;
    switch (done.purpose) {
    case Purpose::establish: {
        // <L COMMACK <L MDLN SOFTREV>>, COMMACK 0 accepted
        bool accepted = false;
        if (m.function == 14 && body && body->format() == Format::L && body->size() >= 1) {
            const Item& ack = body->items()[0];
            accepted = ack.format() == Format::B && ack.size() == 1 && ack.bytes()[0] == 0;
        }
        comm_input(accepted ? CommInput::cra_accepted : CommInput::cra_failed, now);
        break;
    }
    case Purpose::attempt_online:
        control_input(m.function == 2 ? ControlInput::attempt_succeeded : ControlInput::attempt_failed, now);
        break;
    case Purpose::inquire_event: {
        const bool granted = m.function == 6 && body && body->format() == Format::B && body->size() == 1 &&
                             body->bytes()[0] == static_cast<char>(Grant6::granted);
        if (granted && done.held)
            send_primary(make_message(6, 11, true, done.held), Purpose::other, now);
        else
            observer_.error("the host did not grant an event report (S6F5); it is dropped");
        break;
    }
    case Purpose::other: break;
    }
}

void EquipmentCore::reply(const Message& to, int function, std::optional<Item> body) {
    Message r = make_message(to.stream, function, false, std::move(body));
    r.device = to.device;
    r.source = to.source;
    r.transaction = to.transaction;
    if (!link_.reply(r)) observer_.error("the line refused the reply " + message_name(r));
    observer_.message(true, r);
}

void EquipmentCore::send_s9(S9 function, const Message& about) {
    Message m = make_message(9, static_cast<int>(function), false,
                             header_item(about, link_.is_secs1(), function == S9::transaction_timeout));
    send_primary(std::move(m), Purpose::other, now_);
}

uint16_t EquipmentCore::send_primary(Message m, Purpose purpose, Time now, std::optional<Item> held) {
    m.device = config_.device_id;
    m.source = 0;
    m.transaction = next_transaction_;
    next_transaction_ = static_cast<uint16_t>(next_transaction_ == 0xFFFF ? 1 : next_transaction_ + 1);
    if (!link_.send(m)) observer_.error("the line refused " + message_name(m));
    observer_.message(true, m);
    if (m.w)
        outstanding_.push_back(
            Outstanding{m, now + std::chrono::milliseconds(link_.t3_ms()), purpose, std::move(held)});
    return static_cast<uint16_t>(m.transaction);
}

// ---- time ----------------------------------------------------------------

void EquipmentCore::tick(Time now) {
    now_ = now;
    std::vector<Outstanding> expired;
    for (auto it = outstanding_.begin(); it != outstanding_.end();) {
        if (it->deadline <= now) {
            expired.push_back(std::move(*it));
            it = outstanding_.erase(it);
        } else {
            ++it;
        }
    }
    for (const Outstanding& o : expired) {
        if (comm_ == CommState::communicating) send_s9(S9::transaction_timeout, o.sent);
        if (o.purpose == Purpose::establish) comm_input(CommInput::cra_failed, now);
        if (o.purpose == Purpose::attempt_online) control_input(ControlInput::attempt_failed, now);
    }
    if (delay_until_ && *delay_until_ <= now) {
        delay_until_.reset();
        comm_input(CommInput::delay_expired, now);
    }
}

std::optional<EquipmentCore::Time> EquipmentCore::next_deadline() const {
    std::optional<Time> next = delay_until_;
    for (const Outstanding& o : outstanding_)
        if (!next || o.deadline < *next) next = o.deadline;
    return next;
}

void EquipmentCore::link_lost(Time now) {
    now_ = now;
    // Nothing sent on the lost connection will be answered; a failed
    // attempt to go on line falls back as on T3.
    const bool attempting = std::any_of(outstanding_.begin(), outstanding_.end(),
                                        [](const Outstanding& o) { return o.purpose == Purpose::attempt_online; });
    outstanding_.clear();
    comm_input(CommInput::link_lost, now);
    if (attempting) control_input(ControlInput::attempt_failed, now);
}

void EquipmentCore::link_up(Time now) {
    now_ = now;
    if (comm_ == CommState::wait_delay && config_.establish_communications) {
        delay_until_.reset();
        comm_input(CommInput::delay_expired, now);
    }
}

// ---- state models ----------------------------------------------------------

void EquipmentCore::comm_input(CommInput input, Time now) {
    const auto t = next_comm(comm_, input);
    if (!t) return;
    if (t->to != comm_) {
        comm_ = t->to;
        observer_.comm_state(comm_);
    }
    if (comm_ != CommState::wait_delay) delay_until_.reset();
    switch (t->action) {
    case CommAction::send_cr:
        send_primary(make_message(1, 13, true, Item::list({Item::a(config_.mdln), Item::a(config_.softrev)})),
                     Purpose::establish, now);
        break;
    case CommAction::start_delay: {
        const auto seconds = constant_values_[config_.ids.establish_communications_timeout].as_number().value_or(10);
        delay_until_ = now + std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
        break;
    }
    case CommAction::none: break;
    }
}

void EquipmentCore::control_input(ControlInput input, Time now) {
    const auto target = next_control(control_, input);
    if (!target) return;
    enter_control(resolve(*target, remote_, config_.online_failed), now);
}

void EquipmentCore::enter_control(ControlState next, Time now) {
    const ControlState prev = control_;
    if (next == prev) return;
    previous_control_ = prev;
    control_ = next;
    observer_.control_state(control_);
    const BuiltinIds& ids = config_.ids;
    std::optional<uint32_t> event;
    switch (next) {
    case ControlState::equipment_offline: event = ids.equipment_offline_event; break;
    case ControlState::host_offline: event = ids.host_offline_event; break;
    case ControlState::online_local: event = ids.online_local_event; break;
    case ControlState::online_remote: event = ids.online_remote_event; break;
    case ControlState::attempt_online: break;
    }
    // A change from or to on line is reported; off line nothing goes out.
    if (event && (is_online(prev) || is_online(next)) && comm_ == CommState::communicating && book_.enabled(*event))
        send_event_report(*event, now);
    if (next == ControlState::attempt_online) {
        if (comm_ == CommState::communicating)
            send_primary(make_message(1, 1, true), Purpose::attempt_online, now);
        else
            control_input(ControlInput::attempt_failed, now);
    }
}

// ---- the operator ----------------------------------------------------------

bool EquipmentCore::trigger(uint32_t ceid, std::string* error) {
    if (!known_ceid(ceid)) {
        if (error) *error = "unknown event " + std::to_string(ceid);
        return false;
    }
    if (comm_ == CommState::communicating && is_online(control_) && book_.enabled(ceid)) send_event_report(ceid, now_);
    return true;
}

bool EquipmentCore::set(uint32_t id, const Item& value, std::string* error) {
    if (const ConstantDef* c = constant(id)) {
        auto v = constant_value(*c, value);
        if (!v) {
            if (error) *error = "value does not fit constant " + std::to_string(id) + " (" + format_name(c->format) + ", limits)";
            return false;
        }
        change_constant(id, *v, true, now_);
        return true;
    }
    const VariableDef* v = variable(id);
    if (!v) {
        if (error)
            *error = builtin_value(id) ? "variable " + std::to_string(id) + " is kept by the equipment"
                                       : "unknown variable " + std::to_string(id);
        return false;
    }
    if (value.format() != v->format) {
        if (error) *error = "variable " + std::to_string(id) + " is " + format_name(v->format);
        return false;
    }
    variable_values_[id] = value;
    return true;
}

bool EquipmentCore::control_online(bool online, std::string* error) {
    const ControlInput input = online ? ControlInput::operator_online : ControlInput::operator_offline;
    if (!next_control(control_, input)) {
        if (error) *error = std::string("cannot go ") + (online ? "on" : "off") + " line in " + control_state_name(control_);
        return false;
    }
    control_input(input, now_);
    return true;
}

bool EquipmentCore::control_remote(bool remote, std::string*) {
    remote_ = remote;
    control_input(remote ? ControlInput::operator_remote : ControlInput::operator_local, now_);
    return true;
}

bool EquipmentCore::communications(bool enable, std::string* error) {
    const CommState before = comm_;
    if (enable)
        comm_input(config_.establish_communications ? CommInput::enable : CommInput::enable_quietly, now_);
    else
        comm_input(CommInput::disable, now_);
    if (comm_ == before) {
        if (error) *error = std::string("communications already ") + (enable ? "enabled" : "disabled");
        return false;
    }
    return true;
}

void EquipmentCore::save_state() {
    if (config_.state_file.empty()) return;
    SavedState s{book_.reports(), book_.links(), book_.disabled(), alarms_disabled_, constant_values_};
    std::string why;
    if (!write_atomically(config_.state_file, state_text(s), &why)) observer_.error("state file: " + why);
}

}  // namespace tarvo::gem
