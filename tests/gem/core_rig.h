// An equipment core on a recording line, with a clock the test moves.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "gem/equipment_core.h"
#include "gem/item_codec.h"

namespace tarvo::gem::test {

class RecordingLink final : public Link {
public:
    bool send(const Message& m) override {
        sent.push_back(m);
        return true;
    }
    bool reply(const Message& m) override {
        replies.push_back(m);
        return true;
    }
    bool is_secs1() const override { return secs1; }
    int t3_ms() const override { return 45000; }

    std::vector<Message> sent, replies;
    bool secs1 = false;
};

class RecordingObserver final : public Observer {
public:
    void comm_state(CommState s) override { comm.push_back(s); }
    void control_state(ControlState s) override { control.push_back(s); }
    void constant(uint32_t id, const Item& v) override { constants.emplace_back(id, v); }
    void error(const std::string& e) override { errors.push_back(e); }
    std::vector<CommState> comm;
    std::vector<ControlState> control;
    std::vector<std::pair<uint32_t, Item>> constants;
    std::vector<std::string> errors;
};

// The configuration of the examples: ChamberTemp (SV 1001, F4 21.5 degC),
// WaferId (DV 3001, A), MaxTemp (EC 2001, U4 0..500, 250), WaferDone (CEID
// 4001 with 3001 and 1001).
inline Config example_config() {
    Config c;
    c.mdln = "MDL-9";
    c.softrev = "4.2";
    c.variables.push_back({1001, "ChamberTemp", true, Format::F4, "degC", Item::floats(Format::F4, {21.5})});
    c.variables.push_back({3001, "WaferId", false, Format::A, "", Item::a("")});
    ConstantDef k;
    k.id = 2001;
    k.name = "MaxTemp";
    k.format = Format::U4;
    k.min = Item::u4(0);
    k.max = Item::u4(500);
    k.def = Item::u4(250);
    k.units = "degC";
    c.constants.push_back(k);
    c.events.push_back({4001, "WaferDone", {3001, 1001}});
    return c;
}

class CoreRig {
public:
    explicit CoreRig(Config config = example_config(), bool secs1 = false, Hooks hooks = {}) {
        link.secs1 = secs1;
        core.emplace(std::move(config), link, observer, std::move(hooks));
    }

    // Starts and answers the equipment's S1F13 with COMMACK 0 (or, when it
    // waits for the host, sends one).
    void communicating() {
        core->start(now);
        if (link.sent.empty())
            ask(1, 13, Item());
        else
            answer(link.sent.back(), 14, Item::list({Item::b(0), Item()}));
        ASSERT_EQ(core->comm_state(), CommState::communicating);
        link.sent.clear();
    }

    // The host's primary; gives the reply the equipment sent to it, if any.
    std::optional<Message> ask(int s, int f, std::optional<Item> body, bool w = true, int device = 0) {
        return ask_bytes(s, f, body ? encode_item(*body) : std::string(), w, device);
    }
    std::optional<Message> ask_bytes(int s, int f, const std::string& body, bool w = true, int device = 0) {
        Message m = make_message(s, f, w);
        m.device = device;
        m.transaction = ++host_transaction;
        const size_t before = link.replies.size();
        core->received(m, body, now);
        if (link.replies.size() == before) return std::nullopt;
        EXPECT_EQ(link.replies.back().transaction, m.transaction);
        return link.replies.back();
    }
    // The host's answer to a primary the equipment sent.
    void answer(const Message& to, int function, std::optional<Item> body) {
        Message m = make_message(to.stream, function, false);
        m.device = to.device;
        m.source = to.source;
        m.transaction = to.transaction;
        core->received(m, body ? encode_item(*body) : std::string(), now);
    }
    void pass(std::chrono::milliseconds ms) {
        now += ms;
        core->tick(now);
    }
    // The primaries sent since the last look.
    std::vector<Message> take_sent() { return std::exchange(link.sent, {}); }

    RecordingLink link;
    RecordingObserver observer;
    std::optional<EquipmentCore> core;
    EquipmentCore::Time now = EquipmentCore::Time{} + std::chrono::hours(1);
    int host_transaction = 100;
};

}  // namespace tarvo::gem::test
