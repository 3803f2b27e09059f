// Terminal services: texts from the host (S10F3, S10F5) reach the hook; the
// operator's texts go to the host (S10F1).
#include "gem/equipment_core.h"

namespace tarvo::gem {

namespace {

// TID: a single-byte B (E5), or any single integer.
std::optional<int> tid_of(const Item& i) {
    if (i.format() == Format::B && i.size() == 1) return static_cast<uint8_t>(i.bytes()[0]);
    const auto v = i.as_id();
    if (v && *v <= 255) return static_cast<int>(*v);
    return std::nullopt;
}

}  // namespace

// S10F3 <L TID TEXT> -> S10F4 ACKC10
EquipmentCore::Reply EquipmentCore::s10f3(const Item* body) {
    if (!body || body->format() != Format::L || body->size() != 2 || !is_text(body->items()[1].format()))
        return {std::nullopt, true};
    const auto tid = tid_of(body->items()[0]);
    if (!tid) return {std::nullopt, true};
    if (!hooks_.terminal_text) return {Item::b(static_cast<uint8_t>(Ackc10::not_available))};
    hooks_.terminal_text(*tid, body->items()[1].bytes());
    return {Item::b(static_cast<uint8_t>(Ackc10::accepted))};
}

// S10F5 <L TID <L TEXT...>> -> S10F6 ACKC10
EquipmentCore::Reply EquipmentCore::s10f5(const Item* body) {
    if (!body || body->format() != Format::L || body->size() != 2 || body->items()[1].format() != Format::L)
        return {std::nullopt, true};
    const auto tid = tid_of(body->items()[0]);
    if (!tid) return {std::nullopt, true};
    for (const Item& line : body->items()[1].items())
        if (!is_text(line.format())) return {std::nullopt, true};
    if (!hooks_.terminal_text) return {Item::b(static_cast<uint8_t>(Ackc10::not_available))};
    for (const Item& line : body->items()[1].items()) hooks_.terminal_text(*tid, line.bytes());
    return {Item::b(static_cast<uint8_t>(Ackc10::accepted))};
}

bool EquipmentCore::terminal(const std::string& text, std::string* error) {
    if (comm_ != CommState::communicating || !is_online(control_)) {
        if (error) *error = "the host cannot be reached now (not communicating and on line)";
        return false;
    }
    send_primary(make_message(10, 1, true, Item::list({Item::b(0), Item::a(text)})), Purpose::other, now_);
    return true;
}

}  // namespace tarvo::gem
