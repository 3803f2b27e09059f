// Remote commands: S2F41 and, for the object the configuration names, S2F49.
// Unknown command HCACK 1, ON-LINE LOCAL HCACK 2, a bad parameter HCACK 3
// with a CPACK for each, otherwise the hook's answer; HCACK 4 is followed by
// the command's finished event when the program says it is done.
#include <algorithm>

#include "gem/equipment_core.h"

namespace tarvo::gem {

std::optional<Item> EquipmentCore::command_answer(const Item& rcmd, const Item& parameters) {
    if (!is_text(rcmd.format()) || parameters.format() != Format::L) return std::nullopt;
    std::vector<std::pair<std::string, Item>> given;
    std::vector<std::pair<Item, uint8_t>> refused;
    for (const Item& p : parameters.items()) {
        if (p.format() != Format::L || p.size() != 2) return std::nullopt;
        given.emplace_back(p.items()[0].bytes(), p.items()[1]);
    }
    auto answer = [](Hcack h, std::vector<Item> cpacks = {}) {
        return Item::list({Item::b(static_cast<uint8_t>(h)), Item::list(std::move(cpacks))});
    };
    const CommandDef* command = nullptr;
    for (const CommandDef& c : config_.commands)
        if (c.name == rcmd.bytes()) command = &c;
    if (!command) return answer(Hcack::invalid_command);
    if (control_ == ControlState::online_local) return answer(Hcack::cannot_perform_now);
    // Names: text only (format 3 otherwise), and among the command's (1 otherwise).
    std::vector<Item> cpacks;
    for (size_t i = 0; i < given.size(); ++i) {
        const Item& name = parameters.items()[i].items()[0];
        uint8_t cpack = 0;
        if (!is_text(name.format()))
            cpack = static_cast<uint8_t>(Cpack::illegal_format);
        else if (std::find(command->parameters.begin(), command->parameters.end(), given[i].first) ==
                 command->parameters.end())
            cpack = static_cast<uint8_t>(Cpack::no_such_name);
        else if (given[i].second.format() == Format::L)
            cpack = static_cast<uint8_t>(Cpack::illegal_format);
        if (cpack) cpacks.push_back(Item::list({name, Item::b(cpack)}));
    }
    if (!cpacks.empty()) return answer(Hcack::parameter_invalid, std::move(cpacks));
    CommandAnswer a;
    if (hooks_.remote_command) a = hooks_.remote_command(command->name, given);
    if (a.hcack == static_cast<uint8_t>(Hcack::parameter_invalid)) {
        for (const auto& [name, cpack] : a.cpacks) cpacks.push_back(Item::list({Item::a(name), Item::b(cpack)}));
    }
    if (a.hcack == static_cast<uint8_t>(Hcack::finishes_later)) unfinished_.insert(command->name);
    return Item::list({Item::b(a.hcack), Item::list(std::move(cpacks))});
}

// S2F41 <L RCMD <L <L CPNAME CPVAL>...>> -> S2F42 <L HCACK <L <L CPNAME CPACK>...>>
EquipmentCore::Reply EquipmentCore::s2f41(const Item* body) {
    if (!body || body->format() != Format::L || body->size() != 2) return {std::nullopt, true};
    auto answer = command_answer(body->items()[0], body->items()[1]);
    if (!answer) return {std::nullopt, true};
    return {std::move(answer)};
}

// S2F49 <L DATAID OBJSPEC RCMD <L <L CPNAME CEPVAL>...>> -> S2F50, answered
// like S2F41 for the configured object; another object gets HCACK 6.
EquipmentCore::Reply EquipmentCore::s2f49(const Item* body) {
    if (!body || body->format() != Format::L || body->size() != 4) return {std::nullopt, true};
    const Item& objspec = body->items()[1];
    if (!is_text(objspec.format())) return {std::nullopt, true};
    if (objspec.bytes() != config_.objspec)
        return {Item::list({Item::b(static_cast<uint8_t>(Hcack::no_such_object)), Item()})};
    auto answer = command_answer(body->items()[2], body->items()[3]);
    if (!answer) return {std::nullopt, true};
    return {std::move(answer)};
}

bool EquipmentCore::finish(const std::string& rcmd, std::string* error) {
    if (!unfinished_.erase(rcmd)) {
        if (error) *error = "no command " + rcmd + " waits to finish";
        return false;
    }
    for (const CommandDef& c : config_.commands)
        if (c.name == rcmd && c.finished_event) trigger(*c.finished_event, nullptr);
    return true;
}

}  // namespace tarvo::gem
