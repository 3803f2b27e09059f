// Variables: their values (built-in, set, or read through the hook), status
// variable requests (S1F3, S1F11) and the namelists (S1F21, S1F23).
#include <chrono>

#include "gem/clock_text.h"
#include "gem/equipment_core.h"

namespace tarvo::gem {

namespace {

// The sub-items of a request list whose every element is a single item
// (not a list); nullptr when the body is not such a list.
const std::vector<Item>* id_list(const Item* body) {
    if (!body || body->format() != Format::L) return nullptr;
    for (const Item& i : body->items())
        if (i.format() == Format::L) return nullptr;
    return &body->items();
}

std::optional<uint32_t> id32(const Item& i) {
    const auto v = i.as_id();
    if (!v || *v > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(*v);
}

}  // namespace

std::vector<uint32_t> EquipmentCore::builtin_status_ids() const {
    const BuiltinIds& b = config_.ids;
    return {b.clock, b.control_state, b.previous_control_state, b.events_enabled, b.alarms_enabled, b.alarms_set};
}

const VariableDef* EquipmentCore::variable(uint32_t id) const {
    for (const VariableDef& v : config_.variables)
        if (v.id == id) return &v;
    return nullptr;
}

bool EquipmentCore::is_status_variable(uint32_t id) const {
    const BuiltinIds& b = config_.ids;
    if (id == b.clock || id == b.control_state || id == b.previous_control_state || id == b.events_enabled ||
        id == b.alarms_enabled || id == b.alarms_set)
        return true;
    const VariableDef* v = variable(id);
    return v && v->status;
}

bool EquipmentCore::known_vid(uint64_t id) const {
    if (id > UINT32_MAX) return false;
    const auto i = static_cast<uint32_t>(id);
    return variable(i) || constant(i) || builtin_value(i).has_value();
}

std::optional<Item> EquipmentCore::builtin_value(uint32_t id) const {
    const BuiltinIds& b = config_.ids;
    if (id == b.clock) {
        const int format = static_cast<int>(constant_values_.at(b.time_format).as_number().value_or(1));
        return Item::a(clock_text(format, clock_now()));
    }
    if (id == b.control_state) return Item::u1(static_cast<uint8_t>(control_));
    if (id == b.previous_control_state) return Item::u1(static_cast<uint8_t>(previous_control_));
    if (id == b.events_enabled) {
        std::vector<Item> on;
        for (uint32_t c : all_ceids())
            if (book_.enabled(c)) on.push_back(Item::u4(c));
        return Item::list(std::move(on));
    }
    if (id == b.alarms_enabled || id == b.alarms_set) {
        std::vector<Item> ids;
        for (const AlarmDef& a : config_.alarms)
            if (id == b.alarms_enabled ? !alarms_disabled_.count(a.id) : alarms_set_.count(a.id) > 0)
                ids.push_back(Item::u4(a.id));
        return Item::list(std::move(ids));
    }
    return std::nullopt;
}

std::optional<Item> EquipmentCore::value_of(uint32_t id) const {
    if (auto v = builtin_value(id)) return v;
    if (variable(id)) {
        if (hooks_.read_variable)
            if (auto live = hooks_.read_variable(id)) return live;
        return variable_values_.at(id);
    }
    const auto c = constant_values_.find(id);
    if (c != constant_values_.end()) return c->second;
    return std::nullopt;
}

// S1F3 <L SVID...> -> S1F4 <L SV...>; an empty list asks for every status
// variable, an unknown SVID gets <L> at its place.
EquipmentCore::Reply EquipmentCore::s1f3(const Item* body) {
    const auto* ids = id_list(body);
    if (!ids) return {std::nullopt, true};
    std::vector<Item> out;
    if (ids->empty()) {
        for (uint32_t id : builtin_status_ids()) out.push_back(*value_of(id));
        for (const VariableDef& v : config_.variables)
            if (v.status) out.push_back(*value_of(v.id));
    }
    for (const Item& i : *ids) {
        const auto id = id32(i);
        out.push_back(id && is_status_variable(*id) ? *value_of(*id) : Item());
    }
    return {Item::list(std::move(out))};
}

// S1F11 <L SVID...> -> S1F12 <L <L SVID SVNAME UNITS>...>
EquipmentCore::Reply EquipmentCore::s1f11(const Item* body) {
    const auto* ids = id_list(body);
    if (!ids) return {std::nullopt, true};
    const BuiltinIds& b = config_.ids;
    auto entry = [&](const Item& svid, std::optional<uint32_t> id) {
        std::string name, units;
        if (id && *id == b.clock) name = "Clock";
        else if (id && *id == b.control_state) name = "ControlState";
        else if (id && *id == b.previous_control_state) name = "PreviousControlState";
        else if (id && *id == b.events_enabled) name = "EventsEnabled";
        else if (id && *id == b.alarms_enabled) name = "AlarmsEnabled";
        else if (id && *id == b.alarms_set) name = "AlarmsSet";
        else if (const VariableDef* v = id ? variable(*id) : nullptr; v && v->status) {
            name = v->name;
            units = v->units;
        }
        return Item::list({svid, Item::a(name), Item::a(units)});
    };
    std::vector<Item> out;
    if (ids->empty()) {
        for (uint32_t id : builtin_status_ids()) out.push_back(entry(Item::u4(id), id));
        for (const VariableDef& v : config_.variables)
            if (v.status) out.push_back(entry(Item::u4(v.id), v.id));
    }
    for (const Item& i : *ids) out.push_back(entry(i, id32(i)));
    return {Item::list(std::move(out))};
}

// S1F21 <L VID...> -> S1F22 <L <L VID DVVALNAME UNITS>...>, data variables
EquipmentCore::Reply EquipmentCore::s1f21(const Item* body) {
    const auto* ids = id_list(body);
    if (!ids) return {std::nullopt, true};
    auto entry = [&](const Item& vid, std::optional<uint32_t> id) {
        const VariableDef* v = id ? variable(*id) : nullptr;
        const bool dv = v && !v->status;
        return Item::list({vid, Item::a(dv ? v->name : ""), Item::a(dv ? v->units : "")});
    };
    std::vector<Item> out;
    if (ids->empty())
        for (const VariableDef& v : config_.variables)
            if (!v.status) out.push_back(entry(Item::u4(v.id), v.id));
    for (const Item& i : *ids) out.push_back(entry(i, id32(i)));
    return {Item::list(std::move(out))};
}

// S1F23 <L CEID...> -> S1F24 <L <L CEID CENAME <L VID...>>...>
EquipmentCore::Reply EquipmentCore::s1f23(const Item* body) {
    const auto* ids = id_list(body);
    if (!ids) return {std::nullopt, true};
    auto entry = [&](const Item& ceid, std::optional<uint32_t> id) {
        std::string name;
        std::vector<Item> vids;
        const BuiltinIds& b = config_.ids;
        const std::pair<uint32_t, const char*> builtin[] = {
            {b.equipment_offline_event, "EquipmentOffline"}, {b.host_offline_event, "HostOffline"},
            {b.online_local_event, "OnlineLocal"}, {b.online_remote_event, "OnlineRemote"},
            {b.operator_constant_change_event, "OperatorEquipmentConstantChange"},
        };
        for (auto& [bid, bname] : builtin)
            if (id && *id == bid) name = bname;
        for (const EventDef& e : config_.events) {
            if (!id || e.id != *id) continue;
            name = e.name;
            for (uint32_t v : e.variables) vids.push_back(Item::u4(v));
        }
        return Item::list({ceid, Item::a(name), Item::list(std::move(vids))});
    };
    std::vector<Item> out;
    if (ids->empty())
        for (uint32_t c : all_ceids()) out.push_back(entry(Item::u4(c), c));
    for (const Item& i : *ids) out.push_back(entry(i, id32(i)));
    return {Item::list(std::move(out))};
}

}  // namespace tarvo::gem
