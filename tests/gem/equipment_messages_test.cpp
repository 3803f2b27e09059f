// The equipment's answers, one table per capability: the host's message in,
// the reply out, compared as items.
#include <gtest/gtest.h>

#include "gem/sml_text.h"
#include "tests/gem/core_rig.h"

namespace tarvo::gem::test {
namespace {

Item sml(const char* text) {
    std::string why;
    auto item = read_sml(text, &why);
    EXPECT_TRUE(item) << text << ": " << why;
    return item.value_or(Item());
}

struct Exchange {
    int stream, function;
    const char* request;   // one-line SML, "" for none
    int reply_function;
    const char* reply;     // one-line SML, "" for none
};

void run(CoreRig& rig, const std::vector<Exchange>& rows) {
    for (const Exchange& e : rows) {
        SCOPED_TRACE("S" + std::to_string(e.stream) + "F" + std::to_string(e.function) + " " + e.request);
        std::optional<Item> body;
        if (*e.request) body = sml(e.request);
        const auto r = rig.ask(e.stream, e.function, body);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->stream, e.stream);
        EXPECT_EQ(r->function, e.reply_function);
        if (*e.reply)
            EXPECT_EQ(r->body, sml(e.reply)) << (r->body ? write_sml(*r->body) : "(none)");
        else
            EXPECT_FALSE(r->body);
    }
}

TEST(EquipmentMessages, IdentificationAndStatusData) {
    CoreRig rig;
    rig.communicating();
    run(rig, {
        {1, 1, "", 2, "<L <A 'MDL-9'> <A '4.2'>>"},
        {1, 13, "<L>", 14, "<L <B 0x00> <L <A 'MDL-9'> <A '4.2'>>>"},
        {1, 3, "<L <U4 1001> <U4 99> <U4 3001> <U4 2> <U2 3>>", 4, "<L <F4 21.5> <L> <L> <U1 5> <U1 5>>"},
        {1, 11, "<L <U4 1001> <U4 3001>>", 12, "<L <L <U4 1001> <A 'ChamberTemp'> <A 'degC'>> <L <U4 3001> <A ''> <A ''>>>"},
        {1, 21, "<L <U4 3001> <U4 1001>>", 22, "<L <L <U4 3001> <A 'WaferId'> <A ''>> <L <U4 1001> <A ''> <A ''>>>"},
        {1, 21, "<L>", 22, "<L <L <U4 3001> <A 'WaferId'> <A ''>>>"},
        {1, 23, "<L <U4 4001> <U4 7>>", 24, "<L <L <U4 4001> <A 'WaferDone'> <L <U4 3001> <U4 1001>>> <L <U4 7> <A ''> <L>>>"},
        {2, 13, "<L <U4 2001> <U4 9>>", 14, "<L <U4 250> <L>>"},
        {2, 29, "<L <U4 2001>>", 30, "<L <L <U4 2001> <A 'MaxTemp'> <U4 0> <U4 500> <U4 250> <A 'degC'>>>"},
        {2, 29, "<L <U4 11>>", 30, "<L <L <U4 11> <A 'TimeFormat'> <U1 0> <U1 2> <U1 1> <A ''>>>"},
    });
    // All status variables: the six built-in ones, then ChamberTemp.
    const auto all = rig.ask(1, 11, Item());
    ASSERT_TRUE(all && all->body);
    ASSERT_EQ(all->body->size(), 7u);
    EXPECT_EQ(all->body->items()[5].items()[1], Item::a("AlarmsSet"));
    EXPECT_EQ(all->body->items()[6].items()[1], Item::a("ChamberTemp"));
}

TEST(EquipmentMessages, ControlRequestsFromTheHost) {
    Config c = example_config();
    c.initial = ControlState::host_offline;
    CoreRig rig(c);
    rig.communicating();
    run(rig, {
        {1, 17, "", 18, "<B 0x00>"},  // HOST OFF-LINE -> on line
        {1, 17, "", 18, "<B 0x02>"},  // already on line
        {1, 15, "", 16, "<B 0x00>"},  // -> HOST OFF-LINE
        {1, 3, "<L>", 0, ""},         // off line: SxF0
    });
    EXPECT_EQ(rig.observer.control, (std::vector<ControlState>{ControlState::host_offline, ControlState::online_remote,
                                                                ControlState::host_offline}));
    ASSERT_TRUE(rig.core->control_online(false, nullptr));
    run(rig, {{1, 17, "", 18, "<B 0x01>"}});  // EQUIPMENT OFF-LINE refuses
    // S1F16 went out before the event report of the change.
    EXPECT_EQ(rig.core->control_state(), ControlState::equipment_offline);
}

TEST(EquipmentMessages, ConstantsChangeAllOrNothing) {
    std::vector<std::pair<uint32_t, Item>> hooked;
    Hooks hooks;
    hooks.constant_changed = [&](uint32_t id, const Item& v) { hooked.emplace_back(id, v); };
    CoreRig rig(example_config(), false, hooks);
    rig.communicating();
    run(rig, {
        {2, 15, "<L <L <U4 2001> <U4 501>>>", 16, "<B 0x03>"},                        // above max
        {2, 15, "<L <L <U4 2001> <U2 300>> <L <U4 77> <U4 1>>>", 16, "<B 0x01>"},   // one unknown refuses all
        {2, 15, "<L <L <U4 2001> <A '300'>>>", 16, "<B 0x03>"},                      // not a number
        {2, 15, "<L <L <U4 11> <U1 3>>>", 16, "<B 0x03>"},                           // TimeFormat 0..2
        {2, 13, "<L <U4 2001>>", 14, "<L <U4 250>>"},
        {2, 15, "<L <L <U4 2001> <U2 300>> <L <U4 10> <U2 30>>>", 16, "<B 0x00>"},
        {2, 13, "<L <U4 2001> <U4 10>>", 14, "<L <U4 300> <U2 30>>"},  // kept in the constant's own format
    });
    EXPECT_FALSE(rig.ask(2, 15, sml("<L <L <U4 2001>>>"))) << "not <L ECID ECV>: S9F7";
    ASSERT_EQ(hooked.size(), 2u);
    EXPECT_EQ(hooked[0], std::make_pair(uint32_t{2001}, Item::u4(300)));
    EXPECT_EQ(rig.observer.constants.size(), 2u);
    const auto sent = rig.take_sent();
    ASSERT_EQ(sent.size(), 1u) << "a host's change raises no event";
    EXPECT_EQ(sent[0].function, 7);
}

TEST(EquipmentMessages, AnOperatorChangeRaisesItsEvent) {
    CoreRig rig;
    rig.communicating();
    std::string why;
    EXPECT_FALSE(rig.core->set(2001, Item::u4(501), &why));
    ASSERT_TRUE(rig.core->set(2001, Item::unsigneds(Format::U1, {42}), &why)) << why;
    const auto sent = rig.take_sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].function, 11);
    EXPECT_EQ(sent[0].body->items()[1], Item::u4(105));
    EXPECT_EQ(rig.core->value_of(2001), Item::u4(42));
    EXPECT_FALSE(rig.core->set(1001, Item::u4(1), &why)) << "ChamberTemp is F4";
    EXPECT_FALSE(rig.core->set(2, Item::u1(1), &why)) << "ControlState is the equipment's";
}

// Which check answers first, in E30's order.
TEST(EquipmentMessages, ChecksOfAReceivedPrimaryInOrder) {
    struct Row {
        const char* what;
        int device, stream, function;
        std::string body;
        bool communicating;
        ControlState control;
        int s9;        // the S9 function sent, 0 for none
        int reply;     // the reply function, -1 for none
    };
    const std::string bad = std::string("\x41\x05\x61", 3);
    const Row rows[] = {
        {"wrong device first", 5, 99, 1, bad, false, ControlState::equipment_offline, 1, -1},
        {"not communicating: dropped", 0, 99, 1, "", false, ControlState::online_remote, 0, -1},
        {"unknown stream", 0, 99, 1, "", true, ControlState::equipment_offline, 3, -1},
        {"unknown function", 0, 1, 99, "", true, ControlState::equipment_offline, 5, -1},
        {"not yet: trace", 0, 2, 23, "", true, ControlState::online_remote, 5, -1},
        {"not yet: spooling", 0, 6, 23, "", true, ControlState::online_remote, 5, -1},
        {"off line before the data", 0, 1, 3, bad, true, ControlState::host_offline, 0, 0},
        {"bad data", 0, 1, 3, bad, true, ControlState::online_local, 7, -1},
        {"wrong structure", 0, 1, 3, encode_item(Item::u4(1)), true, ControlState::online_local, 7, -1},
        {"S1F13 off line", 0, 1, 13, encode_item(Item()), true, ControlState::equipment_offline, 0, 14},
        {"S1F13 before communicating", 0, 1, 13, encode_item(Item()), false, ControlState::equipment_offline, 0, 14},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        Config c = example_config();
        c.initial = r.control;
        c.establish_communications = false;  // waits in WAIT DELAY for the host
        CoreRig rig(c);
        if (r.communicating)
            rig.communicating();
        else
            rig.core->start(rig.now);
        rig.take_sent();
        Message m = make_message(r.stream, r.function, true);
        m.device = r.device;
        m.transaction = 7;
        rig.link.replies.clear();
        rig.core->received(m, r.body, rig.now);
        const auto sent = rig.take_sent();
        if (r.s9) {
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_EQ(sent[0].stream, 9);
            EXPECT_EQ(sent[0].function, r.s9);
            // The header of the message concerned: stream with W, function, system bytes.
            const std::string& h = sent[0].body->bytes();
            ASSERT_EQ(h.size(), 10u);
            EXPECT_EQ(static_cast<unsigned char>(h[2]), 0x80u | r.stream);
            EXPECT_EQ(static_cast<unsigned char>(h[3]), static_cast<unsigned>(r.function));
            EXPECT_EQ(h[9], 7);
        } else if (!r.communicating && r.reply < 0) {
            // A message in WAIT DELAY asks for communications at once.
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_EQ(sent[0].function, 13);
        } else {
            EXPECT_TRUE(sent.empty());
        }
        if (r.reply < 0) {
            EXPECT_TRUE(rig.link.replies.empty());
        } else {
            ASSERT_EQ(rig.link.replies.size(), 1u);
            EXPECT_EQ(rig.link.replies[0].function, r.reply);
        }
    }
}

TEST(EquipmentMessages, AnOverlongBodyGetsS9F11) {
    CoreRig rig;
    rig.communicating();
    const std::string body(EquipmentCore::kMaxBodyBytes + 1, '\0');
    EXPECT_FALSE(rig.ask_bytes(1, 3, body));
    const auto sent = rig.take_sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].function, 11);
}

}  // namespace
}  // namespace tarvo::gem::test
