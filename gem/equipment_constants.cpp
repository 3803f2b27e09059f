// Equipment constants: their values and limits, the host's requests (S2F13,
// S2F15, S2F29) and changes by either side.
#include "gem/equipment_core.h"

namespace tarvo::gem {

const ConstantDef* EquipmentCore::constant(uint32_t id) const {
    for (const ConstantDef& c : builtin_constants_)
        if (c.id == id) return &c;
    for (const ConstantDef& c : config_.constants)
        if (c.id == id) return &c;
    return nullptr;
}

std::optional<Item> EquipmentCore::constant_value(const ConstantDef& c, const Item& value) const {
    if (is_numeric(c.format)) {
        const auto n = value.as_number();
        if (!n || !fits(c.format, *n)) return std::nullopt;
        const auto lo = c.min.as_number(), hi = c.max.as_number();
        if ((lo && *n < *lo) || (hi && *n > *hi)) return std::nullopt;
        if (is_float(c.format)) return Item::floats(c.format, {*n});
        // Integers exactly, not through a double.
        if (is_unsigned(value.format())) return Item::unsigneds(c.format, {value.unsigned_values()[0]});
        if (is_signed(value.format())) return Item::signeds(c.format, {value.signed_values()[0]});
        return Item::signeds(c.format, {static_cast<int64_t>(*n)});
    }
    if (is_text(c.format)) {
        if (!is_text(value.format())) return std::nullopt;
        return Item::text(value.bytes(), c.format);
    }
    if (value.format() != c.format) return std::nullopt;
    return value;
}

void EquipmentCore::change_constant(uint32_t id, const Item& value, bool by_operator, Time now) {
    constant_values_[id] = value;
    if (hooks_.constant_changed) hooks_.constant_changed(id, value);
    save_state();
    observer_.constant(id, value);
    if (by_operator) {
        const uint32_t ceid = config_.ids.operator_constant_change_event;
        if (comm_ == CommState::communicating && is_online(control_) && book_.enabled(ceid)) send_event_report(ceid, now);
    }
}

// S2F13 <L ECID...> -> S2F14 <L ECV...>; an empty list asks for all, an
// unknown ECID gets <L> at its place.
EquipmentCore::Reply EquipmentCore::s2f13(const Item* body) {
    if (!body || body->format() != Format::L) return {std::nullopt, true};
    std::vector<Item> out;
    if (body->size() == 0) {
        for (const ConstantDef& c : builtin_constants_) out.push_back(constant_values_.at(c.id));
        for (const ConstantDef& c : config_.constants) out.push_back(constant_values_.at(c.id));
    }
    for (const Item& i : body->items()) {
        if (i.format() == Format::L) return {std::nullopt, true};
        const auto id = i.as_id();
        const ConstantDef* c = id && *id <= UINT32_MAX ? constant(static_cast<uint32_t>(*id)) : nullptr;
        out.push_back(c ? constant_values_.at(c->id) : Item());
    }
    return {Item::list(std::move(out))};
}

// S2F15 <L <L ECID ECV>...> -> S2F16 EAC; one refused value refuses all.
EquipmentCore::Reply EquipmentCore::s2f15(const Item* body) {
    if (!body || body->format() != Format::L) return {std::nullopt, true};
    std::vector<std::pair<uint32_t, Item>> changes;
    Eac eac = Eac::ok;
    for (const Item& pair : body->items()) {
        if (pair.format() != Format::L || pair.size() != 2 || pair.items()[0].format() == Format::L)
            return {std::nullopt, true};
        const auto id = pair.items()[0].as_id();
        const ConstantDef* c = id && *id <= UINT32_MAX ? constant(static_cast<uint32_t>(*id)) : nullptr;
        if (!c) {
            if (eac == Eac::ok) eac = Eac::no_such_constant;
            continue;
        }
        auto v = constant_value(*c, pair.items()[1]);
        if (!v) {
            if (eac == Eac::ok) eac = Eac::out_of_range;
            continue;
        }
        changes.emplace_back(c->id, std::move(*v));
    }
    if (eac == Eac::ok)
        for (const auto& [id, v] : changes) change_constant(id, v, false, now_);
    return {Item::b(static_cast<uint8_t>(eac))};
}

// S2F29 <L ECID...> -> S2F30 <L <L ECID ECNAME ECMIN ECMAX ECDEF UNITS>...>
EquipmentCore::Reply EquipmentCore::s2f29(const Item* body) {
    if (!body || body->format() != Format::L) return {std::nullopt, true};
    // A constant without a limit shows a zero-length item of its format.
    auto limit = [](const ConstantDef& c, const Item& v) { return v.size() > 0 ? v : empty_item(c.format); };
    auto entry = [&](const Item& ecid, const ConstantDef* c) {
        if (!c) return Item::list({ecid, Item::a(""), Item::a(""), Item::a(""), Item::a(""), Item::a("")});
        return Item::list({ecid, Item::a(c->name), limit(*c, c->min), limit(*c, c->max), c->def, Item::a(c->units)});
    };
    std::vector<Item> out;
    if (body->size() == 0) {
        for (const ConstantDef& c : builtin_constants_) out.push_back(entry(Item::u4(c.id), &c));
        for (const ConstantDef& c : config_.constants) out.push_back(entry(Item::u4(c.id), &c));
    }
    for (const Item& i : body->items()) {
        if (i.format() == Format::L) return {std::nullopt, true};
        const auto id = i.as_id();
        out.push_back(entry(i, id && *id <= UINT32_MAX ? constant(static_cast<uint32_t>(*id)) : nullptr));
    }
    return {Item::list(std::move(out))};
}

}  // namespace tarvo::gem
