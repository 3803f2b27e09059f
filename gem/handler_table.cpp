// Which (stream, function) the equipment answers, and the handlers of
// identification, communications and control (stream 1).
#include "gem/equipment_core.h"

namespace tarvo::gem {

// Streams the equipment knows: a function it does not answer in them gets
// S9F5, any other stream S9F3.
namespace {
constexpr int kKnownStreams[] = {1, 2, 5, 6, 7, 10};
}  // namespace

bool EquipmentCore::known_stream(int stream) {
    for (int s : kKnownStreams)
        if (s == stream) return true;
    return false;
}

const EquipmentCore::Route* EquipmentCore::route_for(int stream, int function) {
    static const Route kRoutes[] = {
    {1, 1, &EquipmentCore::s1f1},   {1, 3, &EquipmentCore::s1f3},   {1, 11, &EquipmentCore::s1f11},
    {1, 13, &EquipmentCore::s1f13}, {1, 15, &EquipmentCore::s1f15}, {1, 17, &EquipmentCore::s1f17},
    {1, 21, &EquipmentCore::s1f21}, {1, 23, &EquipmentCore::s1f23}, {2, 13, &EquipmentCore::s2f13},
    {2, 15, &EquipmentCore::s2f15}, {2, 29, &EquipmentCore::s2f29}, {2, 33, &EquipmentCore::s2f33},
    {2, 35, &EquipmentCore::s2f35}, {2, 37, &EquipmentCore::s2f37}, {6, 15, &EquipmentCore::s6f15},
    {6, 19, &EquipmentCore::s6f19},
    {2, 17, &EquipmentCore::s2f17}, {2, 31, &EquipmentCore::s2f31}, {2, 41, &EquipmentCore::s2f41},
    {2, 49, &EquipmentCore::s2f49}, {5, 3, &EquipmentCore::s5f3},   {5, 5, &EquipmentCore::s5f5},
    {5, 7, &EquipmentCore::s5f7},   {7, 1, &EquipmentCore::s7f1},   {7, 3, &EquipmentCore::s7f3},
    {7, 5, &EquipmentCore::s7f5},   {7, 17, &EquipmentCore::s7f17}, {7, 19, &EquipmentCore::s7f19},
    {10, 3, &EquipmentCore::s10f3}, {10, 5, &EquipmentCore::s10f5},
    };
    for (const Route& r : kRoutes)
        if (r.stream == stream && r.function == function) return &r;
    return nullptr;
}

// S1F1 (header only) -> S1F2 <L MDLN SOFTREV>
EquipmentCore::Reply EquipmentCore::s1f1(const Item* body) {
    if (body) return {std::nullopt, true};
    return {Item::list({Item::a(config_.mdln), Item::a(config_.softrev)})};
}

// S1F13 <L> or <L MDLN SOFTREV> -> S1F14 <L COMMACK <L MDLN SOFTREV>>
EquipmentCore::Reply EquipmentCore::s1f13(const Item* body) {
    if (!body || body->format() != Format::L || (body->size() != 0 && body->size() != 2)) return {std::nullopt, true};
    for (const Item& i : body->items())
        if (!is_text(i.format())) return {std::nullopt, true};
    comm_input(CommInput::cr_accepted, now_);
    return {Item::list({Item::b(static_cast<uint8_t>(Commack::accepted)),
                        Item::list({Item::a(config_.mdln), Item::a(config_.softrev)})})};
}

// S1F15 (header only) -> S1F16 OFLACK
EquipmentCore::Reply EquipmentCore::s1f15(const Item* body) {
    if (body) return {std::nullopt, true};
    after_reply_.push_back([this] { control_input(ControlInput::host_offline, now_); });
    return {Item::b(static_cast<uint8_t>(Oflack::acknowledged))};
}

// S1F17 (header only) -> S1F18 ONLACK
EquipmentCore::Reply EquipmentCore::s1f17(const Item* body) {
    if (body) return {std::nullopt, true};
    Onlack ack = Onlack::not_allowed;
    if (is_online(control_)) {
        ack = Onlack::already_online;
    } else if (control_ == ControlState::host_offline) {
        ack = Onlack::accepted;
    }
    // The answer goes out before the event reports of the change.
    if (ack == Onlack::accepted) after_reply_.push_back([this] { control_input(ControlInput::host_online, now_); });
    return {Item::b(static_cast<uint8_t>(ack))};
}

}  // namespace tarvo::gem
