// Collection events and the host's dynamic reports: definitions, links and
// enables (S2F33, S2F35, S2F37), event reports (S6F11, announced by S6F5
// on SECS-I when it needs more than one block) and the report requests
// (S6F15, S6F19).
#include "gem/equipment_core.h"
#include "gem/item_codec.h"

namespace tarvo::gem {

bool EquipmentCore::known_ceid(uint64_t id) const {
    if (id > UINT32_MAX) return false;
    const auto all = all_ceids();
    return std::find(all.begin(), all.end(), static_cast<uint32_t>(id)) != all.end();
}

std::vector<uint32_t> EquipmentCore::all_ceids() const {
    const BuiltinIds& b = config_.ids;
    std::vector<uint32_t> ids = {b.equipment_offline_event, b.host_offline_event, b.online_local_event,
                                 b.online_remote_event, b.operator_constant_change_event};
    for (const EventDef& e : config_.events) ids.push_back(e.id);
    return ids;
}

Item EquipmentCore::report_values(const ReportDefinition& r) const {
    std::vector<Item> values;
    for (uint32_t v : r.vids) values.push_back(value_of(v).value_or(Item()));
    return Item::list(std::move(values));
}

// <L DATAID CEID <L <L RPTID <L V...>>...>> with the values of this moment.
Item EquipmentCore::event_body(uint32_t ceid) {
    std::vector<Item> reports;
    for (const ReportDefinition* r : book_.reports_of(ceid)) reports.push_back(Item::list({r->id, report_values(*r)}));
    const uint32_t data_id = next_data_id_++;
    return Item::list({Item::u4(data_id), Item::u4(ceid), Item::list(std::move(reports))});
}

void EquipmentCore::send_event_report(uint32_t ceid, Time now) {
    Item body = event_body(ceid);
    if (link_.is_secs1()) {
        const size_t length = encode_item(body).size();
        if (length > kBlockBodyBytes) {
            Item inquiry = Item::list({body.items()[0], Item::u4(length)});
            send_primary(make_message(6, 5, true, std::move(inquiry)), Purpose::inquire_event, now, std::move(body));
            return;
        }
    }
    send_primary(make_message(6, 11, true, std::move(body)), Purpose::other, now);
}

// S2F33 <L DATAID <L <L RPTID <L VID...>>...>> -> S2F34 DRACK
EquipmentCore::Reply EquipmentCore::s2f33(const Item* body) {
    if (!body || body->format() != Format::L || body->size() != 2 || body->items()[1].format() != Format::L)
        return {std::nullopt, true};
    std::vector<ReportBook::DefineRequest> requests;
    for (const Item& r : body->items()[1].items()) {
        if (r.format() != Format::L || r.size() != 2 || r.items()[1].format() != Format::L)
            return {std::nullopt, true};
        requests.push_back({r.items()[0], r.items()[1].items()});
    }
    const Drack ack = book_.define(requests, [this](uint64_t v) { return known_vid(v); });
    if (ack == Drack::ok) save_state();
    return {Item::b(static_cast<uint8_t>(ack))};
}

// S2F35 <L DATAID <L <L CEID <L RPTID...>>...>> -> S2F36 LRACK
EquipmentCore::Reply EquipmentCore::s2f35(const Item* body) {
    if (!body || body->format() != Format::L || body->size() != 2 || body->items()[1].format() != Format::L)
        return {std::nullopt, true};
    std::vector<ReportBook::LinkRequest> requests;
    for (const Item& l : body->items()[1].items()) {
        if (l.format() != Format::L || l.size() != 2 || l.items()[1].format() != Format::L)
            return {std::nullopt, true};
        requests.push_back({l.items()[0], l.items()[1].items()});
    }
    const Lrack ack = book_.link(requests, [this](uint64_t c) { return known_ceid(c); });
    if (ack == Lrack::ok) save_state();
    return {Item::b(static_cast<uint8_t>(ack))};
}

// S2F37 <L CEED <L CEID...>> -> S2F38 ERACK
EquipmentCore::Reply EquipmentCore::s2f37(const Item* body) {
    if (!body || body->format() != Format::L || body->size() != 2) return {std::nullopt, true};
    const Item& ceed = body->items()[0];
    const Item& ceids = body->items()[1];
    if (ceed.format() != Format::Boolean || ceed.size() != 1 || ceids.format() != Format::L)
        return {std::nullopt, true};
    const Erack ack = book_.enable(ceed.bytes()[0] != 0, ceids.items(), [this](uint64_t c) { return known_ceid(c); },
                                   all_ceids());
    if (ack == Erack::ok) save_state();
    return {Item::b(static_cast<uint8_t>(ack))};
}

// S6F15 CEID -> S6F16 <L DATAID CEID <L ...>>, <L> for an unknown event
EquipmentCore::Reply EquipmentCore::s6f15(const Item* body) {
    if (!body || body->format() == Format::L) return {std::nullopt, true};
    const auto id = body->as_id();
    if (!id || !known_ceid(*id)) return {Item()};
    return {event_body(static_cast<uint32_t>(*id))};
}

// S6F19 RPTID -> S6F20 <L V...>, <L> for an unknown report
EquipmentCore::Reply EquipmentCore::s6f19(const Item* body) {
    if (!body || body->format() == Format::L) return {std::nullopt, true};
    const auto id = body->as_id();
    const ReportDefinition* r = id ? book_.reports().count(*id) ? &book_.reports().at(*id) : nullptr : nullptr;
    if (!r) return {Item()};
    return {report_values(*r)};
}

}  // namespace tarvo::gem
