// The clock: S2F17/S2F18 gives the equipment's time in the format TimeFormat
// selects; S2F31/S2F32 sets it. Setting moves the equipment's own offset
// from the system clock, never the machine's time.
#include "gem/clock_text.h"
#include "gem/equipment_core.h"

namespace tarvo::gem {

std::chrono::system_clock::time_point EquipmentCore::clock_now() const {
    return std::chrono::system_clock::now() + clock_offset_;
}

// S2F17 (header only) -> S2F18 TIME
EquipmentCore::Reply EquipmentCore::s2f17(const Item* body) {
    if (body) return {std::nullopt, true};
    return {*value_of(config_.ids.clock)};
}

// S2F31 TIME -> S2F32 TIACK
EquipmentCore::Reply EquipmentCore::s2f31(const Item* body) {
    if (!body || !is_text(body->format())) return {std::nullopt, true};
    const auto when = parse_clock_text(body->bytes());
    if (!when) return {Item::b(static_cast<uint8_t>(Tiack::error))};
    clock_offset_ = *when - std::chrono::system_clock::now();
    return {Item::b(static_cast<uint8_t>(Tiack::ok))};
}

}  // namespace tarvo::gem
