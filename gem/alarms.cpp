// Alarms: set and cleared by the equipment (S5F1 to the host when the alarm
// is enabled, its set or clear event either way), enabled by the host
// (S5F3), listed (S5F5, S5F7).
#include "gem/equipment_core.h"

namespace tarvo::gem {

const AlarmDef* EquipmentCore::alarm_def(uint32_t alid) const {
    for (const AlarmDef& a : config_.alarms)
        if (a.id == alid) return &a;
    return nullptr;
}

// <L ALCD ALID ALTX>: ALCD has bit 8 set while the alarm is set.
Item EquipmentCore::alarm_entry(const AlarmDef& a) const {
    const uint8_t alcd = static_cast<uint8_t>(a.category | (alarms_set_.count(a.id) ? kAlarmSet : 0));
    return Item::list({Item::b(alcd), Item::u4(a.id), Item::a(a.text)});
}

bool EquipmentCore::alarm(uint32_t alid, bool set, std::string* error) {
    const AlarmDef* a = alarm_def(alid);
    if (!a) {
        if (error) *error = "unknown alarm " + std::to_string(alid);
        return false;
    }
    const bool was_set = alarms_set_.count(alid) > 0;
    if (was_set == set) {
        if (error) *error = "alarm " + std::to_string(alid) + " is already " + (set ? "set" : "clear");
        return false;
    }
    if (set)
        alarms_set_.insert(alid);
    else
        alarms_set_.erase(alid);
    if (comm_ == CommState::communicating && is_online(control_) && !alarms_disabled_.count(alid))
        send_primary(make_message(5, 1, true, alarm_entry(*a)), Purpose::other, now_);
    trigger(set ? a->set_event : a->clear_event, nullptr);
    return true;
}

namespace {

// ALIDs of a request: a zero-length item of any format means all; otherwise
// one item of an unsigned or signed integer format holding the IDs (E5: a
// vector), or nullopt when it is not that.
std::optional<std::vector<uint64_t>> alids(const Item& item) {
    std::vector<uint64_t> ids;
    if (item.size() == 0) return ids;
    if (is_unsigned(item.format())) return item.unsigned_values();
    if (is_signed(item.format())) {
        for (int64_t v : item.signed_values()) {
            if (v < 0) return std::nullopt;
            ids.push_back(static_cast<uint64_t>(v));
        }
        return ids;
    }
    return std::nullopt;
}

}  // namespace

// S5F3 <L ALED ALID> -> S5F4 ACKC5; a zero-length ALID means every alarm.
EquipmentCore::Reply EquipmentCore::s5f3(const Item* body) {
    if (!body || body->format() != Format::L || body->size() != 2) return {std::nullopt, true};
    const Item& aled = body->items()[0];
    const Item& alid = body->items()[1];
    if (aled.format() != Format::B || aled.size() != 1 || alid.format() == Format::L) return {std::nullopt, true};
    const bool enable = (static_cast<uint8_t>(aled.bytes()[0]) & static_cast<uint8_t>(Aled::enable)) != 0;
    std::vector<uint32_t> chosen;
    if (alid.size() == 0) {
        for (const AlarmDef& a : config_.alarms) chosen.push_back(a.id);
    } else {
        const auto id = alid.as_id();
        if (!id || *id > UINT32_MAX || !alarm_def(static_cast<uint32_t>(*id)))
            return {Item::b(static_cast<uint8_t>(Ackc5::error))};
        chosen.push_back(static_cast<uint32_t>(*id));
    }
    for (uint32_t a : chosen) {
        if (enable)
            alarms_disabled_.erase(a);
        else
            alarms_disabled_.insert(a);
    }
    save_state();
    return {Item::b(static_cast<uint8_t>(Ackc5::accepted))};
}

// S5F5 ALID vector -> S5F6 <L <L ALCD ALID ALTX>...>; zero-length: all.
// An unknown ALID gets <L> at its place.
EquipmentCore::Reply EquipmentCore::s5f5(const Item* body) {
    if (!body || body->format() == Format::L) return {std::nullopt, true};
    const auto ids = alids(*body);
    if (!ids) return {std::nullopt, true};
    std::vector<Item> out;
    if (ids->empty())
        for (const AlarmDef& a : config_.alarms) out.push_back(alarm_entry(a));
    for (uint64_t id : *ids) {
        const AlarmDef* a = id <= UINT32_MAX ? alarm_def(static_cast<uint32_t>(id)) : nullptr;
        out.push_back(a ? alarm_entry(*a) : Item());
    }
    return {Item::list(std::move(out))};
}

// S5F7 (header only) -> S5F8: the enabled alarms.
EquipmentCore::Reply EquipmentCore::s5f7(const Item* body) {
    if (body) return {std::nullopt, true};
    std::vector<Item> out;
    for (const AlarmDef& a : config_.alarms)
        if (!alarms_disabled_.count(a.id)) out.push_back(alarm_entry(a));
    return {Item::list(std::move(out))};
}

}  // namespace tarvo::gem
