// Time in the equipment: establishing communications with its delay,
// ATTEMPT ON-LINE and its fallback, and T3 of the equipment's own primaries.
#include <gtest/gtest.h>

#include "tests/gem/core_rig.h"

namespace tarvo::gem::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(EquipmentTiming, EstablishingCommunicationsRetriesAfterTheDelay) {
    CoreRig rig;
    rig.core->start(rig.now);
    auto sent = rig.take_sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].function, 13);
    EXPECT_EQ(rig.core->comm_state(), CommState::wait_cra);
    // No answer within T3 (45 s): WAIT DELAY, and no S9F9 while not communicating.
    rig.pass(milliseconds(44999));
    EXPECT_EQ(rig.core->comm_state(), CommState::wait_cra);
    rig.pass(milliseconds(1));
    EXPECT_EQ(rig.core->comm_state(), CommState::wait_delay);
    EXPECT_TRUE(rig.take_sent().empty());
    // EstablishCommunicationsTimeout (10 s) later it asks again.
    rig.pass(milliseconds(9999));
    EXPECT_TRUE(rig.take_sent().empty());
    rig.pass(milliseconds(1));
    sent = rig.take_sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].function, 13);
    // A refusal waits again; the delay is the constant's value.
    ASSERT_TRUE(rig.core->set(10, Item::unsigneds(Format::U2, {3}), nullptr));
    rig.answer(sent[0], 14, Item::list({Item::b(1), Item()}));
    EXPECT_EQ(rig.core->comm_state(), CommState::wait_delay);
    rig.pass(seconds(3));
    sent = rig.take_sent();
    ASSERT_EQ(sent.size(), 1u);
    // Both sides at once: the host's S1F13 is answered and the late S1F14 changes nothing.
    ASSERT_TRUE(rig.ask(1, 13, Item()));
    EXPECT_EQ(rig.core->comm_state(), CommState::communicating);
    rig.answer(sent[0], 14, Item::list({Item::b(0), Item()}));
    EXPECT_EQ(rig.core->comm_state(), CommState::communicating);
    EXPECT_TRUE(rig.observer.errors.empty());
}

TEST(EquipmentTiming, GoingOnLineAndFallingBack) {
    struct Row {
        const char* what;
        ControlState fallback;
        int answer;  // 2, 0, or -1 for none (T3)
        ControlState end;
        bool remote;
    };
    const Row rows[] = {
        {"S1F2 remote", ControlState::equipment_offline, 2, ControlState::online_remote, true},
        {"S1F2 local", ControlState::equipment_offline, 2, ControlState::online_local, false},
        {"S1F0", ControlState::host_offline, 0, ControlState::host_offline, true},
        {"T3", ControlState::equipment_offline, -1, ControlState::equipment_offline, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        Config c = example_config();
        c.initial = ControlState::equipment_offline;
        c.online_failed = r.fallback;
        CoreRig rig(c);
        rig.communicating();
        ASSERT_TRUE(rig.core->control_remote(r.remote, nullptr));
        ASSERT_TRUE(rig.core->control_online(true, nullptr));
        EXPECT_EQ(rig.core->control_state(), ControlState::attempt_online);
        auto sent = rig.take_sent();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].stream, 1);
        EXPECT_EQ(sent[0].function, 1);
        if (r.answer >= 0)
            rig.answer(sent[0], r.answer, std::nullopt);
        else
            rig.pass(seconds(45));
        EXPECT_EQ(rig.core->control_state(), r.end);
        sent = rig.take_sent();
        if (r.answer == 2) {
            // The change to on line is reported.
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_EQ(sent[0].body->items()[1], Item::u4(r.remote ? 104 : 103));
        } else if (r.answer < 0) {
            ASSERT_EQ(sent.size(), 1u);  // S9F9 for the S1F1
            EXPECT_EQ(sent[0].stream, 9);
            EXPECT_EQ(sent[0].function, 9);
            EXPECT_EQ(static_cast<unsigned char>(sent[0].body->bytes()[3]), 1u);
        } else {
            EXPECT_TRUE(sent.empty());
        }
    }
}

TEST(EquipmentTiming, AnUnansweredEventReportGetsS9F9) {
    CoreRig rig;
    rig.communicating();
    ASSERT_TRUE(rig.core->trigger(4001, nullptr));
    auto sent = rig.take_sent();
    ASSERT_EQ(sent.size(), 1u);
    const int transaction = sent[0].transaction;
    EXPECT_EQ(rig.core->next_deadline(), rig.now + seconds(45));
    rig.pass(seconds(45));
    sent = rig.take_sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].function, 9);
    const std::string& h = sent[0].body->bytes();
    EXPECT_EQ(static_cast<unsigned char>(h[2]), 0x86u);
    EXPECT_EQ(h[3], 11);
    EXPECT_EQ((static_cast<unsigned char>(h[8]) << 8) | static_cast<unsigned char>(h[9]), transaction);
    // A reply that comes after T3 is reported, not taken.
    Message late = make_message(6, 12, false, Item::b(0));
    late.transaction = transaction;
    rig.core->received(late, encode_item(Item::b(0)), rig.now);
    EXPECT_EQ(rig.observer.errors.size(), 1u);
}

TEST(EquipmentTiming, ALostLinkForgetsWhatWasWaitingAndTriesAgainWhenItReturns) {
    CoreRig rig;
    rig.communicating();
    ASSERT_TRUE(rig.core->trigger(4001, nullptr));
    rig.take_sent();
    rig.core->link_lost(rig.now);
    EXPECT_EQ(rig.core->comm_state(), CommState::wait_delay);
    rig.pass(seconds(1));
    EXPECT_TRUE(rig.take_sent().empty());
    rig.core->link_up(rig.now);
    auto sent = rig.take_sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].function, 13);
    rig.pass(seconds(45));  // T3 of the new S1F13 only: no S9F9 for the lost S6F11
    for (const Message& m : rig.take_sent()) EXPECT_NE(m.stream, 9);
}

}  // namespace
}  // namespace tarvo::gem::test
